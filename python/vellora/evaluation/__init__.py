"""Evaluation of reading orders against true ones: metrics, corpus pages, scoring and reports.

:mod:`.metrics` scores one order against the truth (needs the optional extra
``vellora[eval]``: scipy, nltk, rapidfuzz); :mod:`.regions` derives a true
order from reading regions; :mod:`.baselines` maps pdftotext's and pdfminer's
text flows onto a page's elements; :mod:`.corpus` reads evaluation pages;
:mod:`.scoring` and :mod:`.report` score them and present the results.
``vellora eval`` (:mod:`vellora.cli.eval`) runs them from the command line.
"""

from __future__ import annotations

from .corpus import LAYOUTS, EvalPage, load_eval_page, refresh
from .metrics import METRICS, MissingEvalDependencyError, score_order
from .regions import Region, load_regions, truth_from_regions
from .scoring import PageScore, score_page, summarise

__all__ = [
    "LAYOUTS",
    "METRICS",
    "EvalPage",
    "MissingEvalDependencyError",
    "PageScore",
    "Region",
    "load_eval_page",
    "load_regions",
    "refresh",
    "score_order",
    "score_page",
    "summarise",
    "truth_from_regions",
]
