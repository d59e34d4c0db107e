"""Whole-document speed: `vellora pdf --format text` against one pdfminer pass, printed as figures.

Run with `make bench` (or `python bench/document_bench.py [--pages N] [--before]`).
A two-column article of N pages (default 100) is generated with reportlab;
the command line (a fresh process, as a user runs it) is timed against one
`pdfminer.high_level.extract_pages` pass over the same file in this process,
and pdftotext when it is installed. The target is at most 1.5 times the
pdfminer pass. Both wall time and CPU time (user + system, of this process
for the pdfminer pass and of the child process for the command line) are
printed; the ratio is judged on CPU time, which a loaded machine disturbs less. `--before` also times the one-page-per-run ways: a loop of
`vellora pdf FILE --page N` runs, and a loop of `vellora.pdf.extract_page`.
"""

from __future__ import annotations

import argparse
import pathlib
import resource
import runpy
import shutil
import subprocess
import sys
import tempfile
import time
from collections.abc import Callable

HERE = pathlib.Path(__file__).resolve().parent
TARGET = 1.5


def _generator() -> Callable[[str, int], None]:
    make_pdf: Callable[[str, int], None] = runpy.run_path(str(HERE / "make_long_pdf.py"))["make_pdf"]
    return make_pdf


def _cpu() -> float:
    """CPU seconds (user + system) used so far by this process and its waited-for children."""
    total = 0.0
    for who in (resource.RUSAGE_SELF, resource.RUSAGE_CHILDREN):
        usage = resource.getrusage(who)
        total += usage.ru_utime + usage.ru_stime
    return total


def timed(runs: int, *works: Callable[[], object]) -> list[tuple[float, float]]:
    """The best wall time and the best CPU time of each of ``works`` over ``runs`` rounds.

    Each round runs every work once, in turn, so that a change of the
    machine's load between rounds weighs on all of them alike.
    """
    walls: list[list[float]] = [[] for _ in works]
    cpus: list[list[float]] = [[] for _ in works]
    for _ in range(runs):
        for index, work in enumerate(works):
            cpu, start = _cpu(), time.perf_counter()
            work()
            walls[index].append(time.perf_counter() - start)
            cpus[index].append(_cpu() - cpu)
    return [(min(wall), min(cpu)) for wall, cpu in zip(walls, cpus)]


def best_of(runs: int, work: Callable[[], object]) -> float:
    return timed(runs, work)[0][0]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pages", type=int, default=100)
    parser.add_argument("--runs", type=int, default=3, help="best of this many runs (default 3)")
    parser.add_argument("--before", action="store_true", help="also time one page per run")
    options = parser.parse_args()

    from pdfminer.high_level import extract_pages
    from pdfminer.layout import LAParams

    with tempfile.TemporaryDirectory() as folder:
        pdf = str(pathlib.Path(folder) / "article.pdf")
        _generator()(pdf, options.pages)
        vellora = [sys.executable, "-m", "vellora", "pdf", "--format", "text", "--quiet", pdf]

        def pdfminer_pass() -> None:
            for _ in extract_pages(pdf, laparams=LAParams()):
                pass

        def cli() -> None:
            subprocess.run(vellora, check=True, stdout=subprocess.DEVNULL)

        (base, base_cpu), (ours, ours_cpu) = timed(options.runs, pdfminer_pass, cli)
        print(f"{options.pages}-page two-column PDF, best of {options.runs} (wall / CPU):")
        print(f"  pdfminer extract_pages, one pass    {base:7.2f} s {base_cpu:7.2f} s")
        print(f"  vellora pdf --format text           {ours:7.2f} s {ours_cpu:7.2f} s   "
              f"{ours_cpu / base_cpu:.2f}x CPU, {ours / base:.2f}x wall (target <= {TARGET}x)")
        if shutil.which("pdftotext"):
            text = best_of(options.runs, lambda: subprocess.run(["pdftotext", pdf, "-"], check=True,
                                                                stdout=subprocess.DEVNULL))
            print(f"  pdftotext                           {text:7.2f} s")
        if options.before:
            from vellora.pdf import extract_page

            loop_api = best_of(1, lambda: [extract_page(pdf, n) for n in range(1, options.pages + 1)])
            loop_cli = best_of(1, lambda: [
                subprocess.run([sys.executable, "-m", "vellora", "pdf", pdf, "--page", str(n), "--format", "ids"],
                               check=True, stdout=subprocess.DEVNULL) for n in range(1, options.pages + 1)])
            print(f"  extract_page per page (API loop)    {loop_api:7.2f} s")
            print(f"  vellora pdf --page N per page       {loop_cli:7.2f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
