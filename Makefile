# Set-up commands: `make test` and `make demo`. Both run inside tools/devroot,
# which provides CPython 3.14 and the C++ toolchain (creating them on first use).
DEVROOT := tools/devroot
BUILD   := build
VENV    := $(BUILD)/venv
PY      := $(VENV)/bin/python
PYTEST_ARGS ?=
# Reliability checks: fuzzing time of `make fuzz` and of `make check`, and the
# seconds of the longer thread stress run of `make check`.
FUZZ_SECONDS       ?= 60
CHECK_FUZZ_SECONDS ?= 30
STRESS_SECONDS     ?= 20
# Variables the inner make needs; the development root starts with a clean environment.
PASS    = BUILD='$(BUILD)' PYTEST_ARGS='$(PYTEST_ARGS)' FUZZ_SECONDS='$(FUZZ_SECONDS)' \
          CHECK_FUZZ_SECONDS='$(CHECK_FUZZ_SECONDS)' STRESS_SECONDS='$(STRESS_SECONDS)'

# How inner-install builds: the interpreter of the virtual environment, CMake
# definitions, and a prefix for the Python test run (the sanitized build sets them).
PYTHON        ?= python3.14
CMAKE_DEFINES ?= VELLORA_BUILD_TESTS=ON VELLORA_BUILD_BENCHMARKS=ON
PYTEST_ENV    ?=
CLANG_DEFINES := CMAKE_CXX_COMPILER=clang++ CMAKE_BUILD_TYPE=RelWithDebInfo VELLORA_WERROR=OFF

.PHONY: test demo bench eval install shell clean inner-install inner-test inner-demo inner-bench inner-eval \
        fuzz test-asan test-refs check inner-fuzz inner-test-asan inner-test-refs inner-check

test:
	$(DEVROOT) $(MAKE) --no-print-directory inner-test $(PASS)

demo:
	$(DEVROOT) $(MAKE) --no-print-directory inner-demo $(PASS)

bench:
	$(DEVROOT) $(MAKE) --no-print-directory inner-bench $(PASS)

eval:
	$(DEVROOT) $(MAKE) --no-print-directory inner-eval $(PASS)

install:
	$(DEVROOT) $(MAKE) --no-print-directory inner-install $(PASS)

fuzz:
	$(DEVROOT) $(MAKE) --no-print-directory inner-fuzz $(PASS)

test-asan:
	$(DEVROOT) $(MAKE) --no-print-directory inner-test-asan $(PASS)

test-refs:
	$(DEVROOT) $(MAKE) --no-print-directory inner-test-refs $(PASS)

check:
	$(DEVROOT) $(MAKE) --no-print-directory inner-check $(PASS)

shell:
	$(DEVROOT) bash

clean:
	rm -rf $(BUILD)

# --- the targets below run inside the development environment ---

# One CMake build serves the wheel and the C++ tests: the package is installed
# into a virtual environment with the test suite switched on in the same tree.
inner-install:
	test -x $(PY) || $(PYTHON) -m venv --system-site-packages $(VENV)
	$(PY) -m pip install --quiet --no-index --no-deps --no-build-isolation \
	  --config-settings=build-dir=$(BUILD)/cmake \
	  $(foreach d,$(CMAKE_DEFINES),--config-settings=cmake.define.$(d)) \
	  .

inner-test: inner-install
	ctest --test-dir $(BUILD)/cmake --output-on-failure --timeout 300 -j2
	cd tests/python && $(PYTEST_ENV) $(CURDIR)/$(PY) -m pytest -q -p no:cacheprovider $(PYTEST_ARGS)

# libFuzzer over the core: the invariant harness, then the differential one
# (optimised pieces against the reference versions), each for half of
# FUZZ_SECONDS. Their corpora grow in $(BUILD)/fuzz/corpus and
# $(BUILD)/fuzz/differential_corpus from the seeds in tests/fuzz/corpus, and a
# failing input is saved in $(BUILD)/fuzz.
FUZZ_FLAGS = -max_total_time=$$(( ($(FUZZ_SECONDS) + 1) / 2 )) -max_len=4096 -timeout=10 \
  -print_final_stats=1 -artifact_prefix=$(BUILD)/fuzz/
inner-fuzz:
	cmake -S . -B $(BUILD)/fuzz -G Ninja $(addprefix -D,$(CLANG_DEFINES)) \
	  -DVELLORA_BUILD_FUZZER=ON -DVELLORA_BUILD_PYTHON=OFF -DVELLORA_BUILD_TESTS=OFF >/dev/null
	cmake --build $(BUILD)/fuzz -j2
	mkdir -p $(BUILD)/fuzz/corpus $(BUILD)/fuzz/differential_corpus
	$(BUILD)/fuzz/vellora_fuzzer $(FUZZ_FLAGS) $(BUILD)/fuzz/corpus tests/fuzz/corpus
	$(BUILD)/fuzz/vellora_differential_fuzzer $(FUZZ_FLAGS) $(BUILD)/fuzz/differential_corpus tests/fuzz/corpus

# Both test suites against a build with ASan and UBSan. The interpreter is not
# instrumented: it gets the ASan runtime preloaded and allocates with malloc so
# that ASan sees Python objects too; its own leaks at exit are not reported.
inner-test-asan:
	$(MAKE) --no-print-directory inner-test BUILD=$(BUILD)/asan \
	  CMAKE_DEFINES='VELLORA_BUILD_TESTS=ON VELLORA_SANITIZE=ON $(CLANG_DEFINES)' \
	  PYTEST_ENV="env LD_PRELOAD=$$(clang++ -print-file-name=libclang_rt.asan-$$(uname -m).so) \
	    ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 PYTHONMALLOC=malloc"

# The extension built for the debug interpreter (its own headers, Py_DEBUG ABI),
# then the reference-count checks, which need sys.gettotalrefcount().
inner-test-refs:
	$(MAKE) --no-print-directory inner-install BUILD=$(BUILD)/refs PYTHON=python3.14-dbg CMAKE_DEFINES=
	cd tests/python && $(CURDIR)/$(BUILD)/refs/venv/bin/python -m pytest -q -p no:cacheprovider test_refcounts.py

# Everything above with short budgets, and a longer thread stress run.
inner-check: inner-test
	$(MAKE) --no-print-directory inner-fuzz FUZZ_SECONDS=$(CHECK_FUZZ_SECONDS)
	$(MAKE) --no-print-directory inner-test-asan
	$(MAKE) --no-print-directory inner-test-refs
	cd tests/python && VELLORA_STRESS_SECONDS=$(STRESS_SECONDS) $(CURDIR)/$(PY) -m pytest -q -p no:cacheprovider test_threads.py

# The sample PDF page: extracted, labelled, ordered by both algorithms and drawn.
inner-demo: inner-install
	$(VENV)/bin/vellora pdf examples/two_column_article.pdf --page 1 --compare --list --svg $(BUILD)/demo.svg

inner-bench: inner-install
	$(BUILD)/cmake/vellora_bench
	$(BUILD)/cmake/vellora_bench --peak-memory
	test ! -x $(BUILD)/cmake/vellora_bridge_bench || $(BUILD)/cmake/vellora_bridge_bench
	$(PY) bench/python_bench.py
	$(PY) bench/document_bench.py
	$(PY) bench/panels_bench.py

# Reading quality on the corpus in eval/pages: every page is extracted again from
# its one-page PDF by the current front end, so front-end changes are measured.
inner-eval: inner-install
	$(VENV)/bin/vellora eval eval/pages --refresh --quiet --svg $(BUILD)/eval-worst
