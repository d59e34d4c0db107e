"""Per-call cost of the compute functions from Python, printed as figures.

Run with `make bench`. The pages are the realistic family of the C++
benchmark: stacked two-column article sheets of 60 elements (running header,
title, full-width figure and caption, paragraphs with section titles, a small
table of cells, footer), cut to the wanted size. Logging is left at its
defaults, so every diagnostic record is dropped by the native cache. `floor`
is the same call on the same elements with an invalid page, whose warning is
filtered out natively: argument conversion and little else.
"""

import logging
import random
import time

import _vellora_core as core

Label = core.SemanticLabel


def sheet(out: list[core.Element], index: int, rng: random.Random) -> None:
    top = index * 1800.0

    def add(x1: float, y1: float, x2: float, y2: float, label: core.SemanticLabel) -> None:
        out.append(core.Element(len(out), x1, top + y1, x2, top + y2, label))

    add(50, 20, 950, 40, Label.Regular)
    add(100, 60, 900, 100, Label.HorizontalTitle)
    add(50, 120, 950, 420, Label.Vision)
    add(50, 430, 950, 450, Label.Regular)

    def column(x1: float, x2: float, items: int, with_table: bool) -> None:
        y = 470.0
        for i in range(items):
            if i % 8 == 0:
                add(x1, y, x1 + 0.6 * (x2 - x1), y + 18, Label.HorizontalTitle)
                y += 28
                continue
            if with_table and i == 9:
                for _ in range(4):
                    for c in range(3):
                        add(x1 + c * 145, y, x1 + c * 145 + 130, y + 18, Label.Regular)
                    y += 26
                y += 10
            height = float(rng.randrange(20, 60))
            add(x1, y, x2, y + height, Label.Regular)
            y += height + 12

    column(50, 480, 25, False)
    column(520, 950, 18, True)
    add(50, 1760, 950, 1780, Label.Regular)


def realistic(count: int) -> list[core.Element]:
    rng = random.Random(12345)
    elements: list[core.Element] = []
    while len(elements) < count:
        sheet(elements, len(elements) // 60, rng)
    return elements[:count]


def measure(function, elements, bounds, seconds: float) -> float:
    """CPU seconds per call (this process's, so that other work on a shared
    machine counts less): the best of a few rounds of at least `seconds` / 3.

    The clock is read around batches of calls that double in size, never
    around each call: reading the process CPU clock is a system call that
    costs about as much as the floor itself."""
    best = float("inf")
    for _ in range(3):
        calls = 0
        batch = 1
        start = time.process_time()
        while True:
            for _ in range(batch):
                function(elements, bounds)
            calls += batch
            elapsed = time.process_time() - start
            if elapsed >= seconds / 3:
                break
            batch *= 2
        best = min(best, elapsed / calls)
    return best


def floor(elements, _bounds) -> list[int]:
    return core.compute_order(elements, (0.0, 0.0, 0.0, 0.0))


def main() -> None:
    logging.getLogger("velloray.paper").setLevel(logging.ERROR)  # the floor's warning
    core.reset_log_cache()
    functions = (("compute_order", core.compute_order),
                 ("compute_order_ostrel", core.compute_order_ostrel), ("floor", floor))
    print(f"{'elements':>9}" + "".join(f"{name:>22}" for name, _ in functions))
    per_call: dict[tuple[str, int], float] = {}
    for count in (60, 1000, 10000, 100000):
        elements = realistic(count)
        bounds = (0.0, 0.0, 1000.0, 1800.0 * (count // 60 + 1))
        row = f"{count:>9}"
        for name, function in functions:
            seconds = measure(function, elements, bounds, 1.0 if count < 100000 else 0.1)
            per_call[(name, count)] = seconds
            row += f"{seconds * 1e6:>19.1f} us"
        print(row)
    for name, _ in functions[:2]:
        ratio = per_call[(name, 100000)] / per_call[(name, 10000)]
        print(f"{name}: time(100,000) / time(10,000) = {ratio:.1f}")


if __name__ == "__main__":
    main()
