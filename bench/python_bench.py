"""Per-call cost of the compute functions from Python, printed as figures.

Run with `make bench`. Pages are synthetic two-column layouts; logging is left
at its defaults, so every diagnostic record is dropped by the native cache.
"""

import time

import _vellora_core as core

Label = core.SemanticLabel


def two_column_page(count: int) -> list[core.Element]:
    elements = [core.Element(0, 50, 20, 950, 60, Label.HorizontalTitle)]
    per_column = max(1, count // 2)
    for i in range(1, count):
        column, row = divmod(i - 1, per_column)
        x1 = 10 + column * 500
        y1 = 80 + row * 24
        label = Label.Vision if row == per_column // 2 else Label.Regular
        elements.append(core.Element(i, x1, y1, x1 + 480, y1 + 18, label))
    return elements


def measure(function, elements, bounds, seconds: float = 0.5) -> tuple[int, float]:
    calls = 0
    start = time.perf_counter()
    while (elapsed := time.perf_counter() - start) < seconds:
        function(elements, bounds)
        calls += 1
    return calls, elapsed


def main() -> None:
    print(f"{'function':<22}{'elements':>9}{'calls/s':>12}{'us/call':>10}")
    for count in (10, 50, 200, 1000):
        elements = two_column_page(count)
        bounds = (0.0, 0.0, 1000.0, 100.0 + 24.0 * count)
        for function in (core.compute_order, core.compute_order_ostrel):
            calls, elapsed = measure(function, elements, bounds)
            print(f"{function.__name__:<22}{count:>9}{calls / elapsed:>12.0f}{1e6 * elapsed / calls:>10.1f}")


if __name__ == "__main__":
    main()
