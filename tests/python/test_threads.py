"""Threads computing on shared elements and configurations while others write
the configuration, reset the level cache and change levels and handlers: every
result equals the single-threaded one, and nothing hangs.

VELLORA_STRESS_SECONDS sets the run time (a short run by default; `make check`
runs longer).
"""

import logging
import os
import random
import sys
import threading
import time

import pytest

import _vellora_core as core
from _vellora_core import Element, SemanticLabel, XYCutConfig
from logging_isolation import isolated_logging, real_get_logger  # noqa: F401 - fixture

SECONDS = float(os.environ.get("VELLORA_STRESS_SECONDS", "1.5"))
COMPUTE_THREADS = 8
PAGE = (0.0, 0.0, 612.0, 792.0)
LABELS = [SemanticLabel.CrossLayout, SemanticLabel.HorizontalTitle, SemanticLabel.VerticalTitle,
          SemanticLabel.Vision, SemanticLabel.Regular]
# The free-threaded interpreter may refuse a copy that races an attribute write.
CONFLICTS = (RuntimeError,) if not getattr(sys, "_is_gil_enabled", lambda: True)() else ()


def random_page(rng, n):
    elements = []
    for i in range(n):
        x, y = rng.uniform(0, 560), rng.uniform(0, 740)
        elements.append(Element(rng.randrange(n), x, y, x + rng.uniform(0, 300), y + rng.uniform(0, 60),
                                rng.choice(LABELS)))
    return elements


class Sink(logging.Handler):
    def emit(self, record):
        record.getMessage()


def test_shared_objects_give_the_single_threaded_results(isolated_logging):  # noqa: F811
    for name in ("velloray", "velloray.paper", "velloray.ostrel"):
        real_get_logger(name).propagate = False
        real_get_logger(name).addHandler(Sink())  # keeps the warnings off the terminal
    rng = random.Random(7)
    pages = [random_page(rng, n) for n in (0, 1, 2, 12, 40, 90)]
    configs = [None, XYCutConfig(), XYCutConfig(10.0, 0.25, 4.0), XYCutConfig(30.0, 1.0, 20.0)]
    functions = [core.compute_order_paper, core.compute_order_ostrel]
    cases = [(f, p, c) for f in functions for p in pages for c in configs]
    expected = [f(p, PAGE, c) for f, p, c in cases]

    stop = threading.Event()
    start = threading.Barrier(COMPUTE_THREADS + 3)
    failures, counts = [], {"computed": 0, "conflicts": 0, "writes": 0, "resets": 0, "switches": 0}
    count_lock = threading.Lock()

    def tally(key, n=1):
        with count_lock:
            counts[key] += n

    def guarded(body):
        def run():
            start.wait()
            try:
                body()
            except BaseException as error:  # noqa: BLE001 - reported by the test
                failures.append(repr(error))
        return run

    def compute(seed):
        local = random.Random(seed)
        done = conflicts = 0
        while not stop.is_set():
            i = local.randrange(len(cases))
            function, page, config = cases[i]
            try:
                result = function(page, PAGE, config)
            except CONFLICTS:
                conflicts += 1
                continue
            if result != expected[i]:
                failures.append(f"{function.__name__} on case {i}: {result} != {expected[i]}")
            done += 1
        tally("computed", done)
        tally("conflicts", conflicts)

    def write_configs():
        # Writes the values each configuration already holds, so results must not change.
        n = 0
        while not stop.is_set():
            for config in configs[1:]:
                for name in ("min_cut_threshold", "histogram_resolution_scale", "same_row_tolerance"):
                    try:
                        setattr(config, name, getattr(config, name))
                    except CONFLICTS:
                        pass
                    n += 1
        tally("writes", n)

    def reset_cache():
        n = 0
        while not stop.is_set():
            core.reset_log_cache()
            n += 1
            time.sleep(0)
        tally("resets", n)

    def switch_logging():
        loggers = [real_get_logger(name) for name in ("velloray", "velloray.paper", "velloray.ostrel")]
        handler, n = Sink(), 0
        while not stop.is_set():
            logger = loggers[n % 3]
            logger.setLevel(logging.DEBUG if n % 2 else logging.WARNING)
            if n % 4 == 0:
                logger.addHandler(handler)
            elif n % 4 == 2:
                logger.removeHandler(handler)
            core.reset_log_cache()
            n += 1
            time.sleep(0.0005)
        tally("switches", n)

    threads = [threading.Thread(target=guarded(lambda s=s: compute(s))) for s in range(COMPUTE_THREADS)]
    threads += [threading.Thread(target=guarded(f)) for f in (write_configs, reset_cache, switch_logging)]
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)  # many more thread switches inside and between calls
    try:
        for thread in threads:
            thread.start()
        time.sleep(SECONDS)
        stop.set()
        for thread in threads:
            thread.join(timeout=120)
    finally:
        sys.setswitchinterval(interval)
    assert not [t for t in threads if t.is_alive()], "a thread hangs"
    assert failures == []
    print(f"\nthread stress, {SECONDS:g} s: {counts}")
    assert counts["computed"] > len(cases) and counts["switches"] > 0 and counts["resets"] > 0
