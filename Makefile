# Set-up commands: `make test` and `make demo`. Both run inside tools/devroot,
# which provides CPython 3.14 and the C++ toolchain (creating them on first use).
DEVROOT := tools/devroot
BUILD   := build
VENV    := $(BUILD)/venv
PY      := $(VENV)/bin/python
PYTEST_ARGS ?=
# Variables the inner make needs; the development root starts with a clean environment.
PASS    = BUILD='$(BUILD)' PYTEST_ARGS='$(PYTEST_ARGS)'

.PHONY: test demo bench install shell clean inner-install inner-test inner-demo inner-bench

test:
	$(DEVROOT) $(MAKE) --no-print-directory inner-test $(PASS)

demo:
	$(DEVROOT) $(MAKE) --no-print-directory inner-demo $(PASS)

bench:
	$(DEVROOT) $(MAKE) --no-print-directory inner-bench $(PASS)

install:
	$(DEVROOT) $(MAKE) --no-print-directory inner-install $(PASS)

shell:
	$(DEVROOT) bash

clean:
	rm -rf $(BUILD)

# --- the targets below run inside the development environment ---

# One CMake build serves the wheel and the C++ tests: the package is installed
# into a virtual environment with the test suite switched on in the same tree.
inner-install:
	test -x $(PY) || python3.14 -m venv --system-site-packages $(VENV)
	$(PY) -m pip install --quiet --no-index --no-deps --no-build-isolation \
	  --config-settings=build-dir=$(BUILD)/cmake \
	  --config-settings=cmake.define.VELLORA_BUILD_TESTS=ON \
	  --config-settings=cmake.define.VELLORA_BUILD_BENCHMARKS=ON \
	  .

inner-test: inner-install
	ctest --test-dir $(BUILD)/cmake --output-on-failure --timeout 300 -j2
	cd tests/python && $(CURDIR)/$(PY) -m pytest -q -p no:cacheprovider $(PYTEST_ARGS)

# The sample PDF page: extracted, labelled, ordered by both algorithms and drawn.
inner-demo: inner-install
	$(VENV)/bin/vellora pdf examples/two_column_article.pdf --page 1 --compare --list --svg $(BUILD)/demo.svg

inner-bench: inner-install
	$(BUILD)/cmake/vellora_bench
	$(PY) bench/python_bench.py
	$(PY) bench/document_bench.py
