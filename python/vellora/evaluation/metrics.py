"""Reading-order metrics: how close a predicted order is to the true one.

Both orders list the same elements (ids); :func:`restrict` brings a predicted
order down to the elements a truth names. The metrics are those the
reading-order literature reports:

- ``tau``: Kendall's rank correlation between the two orders (1 identical,
  -1 reversed); scipy's ``kendalltau``.
- ``bleu4``: BLEU over the id sequences with 1- to 4-grams weighted equally
  (fewer orders on pages of fewer than four elements); nltk's
  ``sentence_bleu``, without smoothing.
- ``ard``: average relative distance, the mean over the elements of how many
  positions each one is away from its true position (0 is perfect; lower is
  better).
- ``ned``: Levenshtein distance between the sequences divided by their length
  (0 is perfect); rapidfuzz.
- ``exact``: 1 when the orders are identical, else 0.

An order of fewer than two elements cannot be wrong, so every metric takes
its perfect value there. scipy, nltk and rapidfuzz are the optional extra
``vellora[eval]``; they are imported on first use.
"""

from __future__ import annotations

import warnings
from collections.abc import Sequence
from typing import Any, Final

__all__ = [
    "HIGHER_IS_BETTER",
    "METRICS",
    "MissingEvalDependencyError",
    "OrderError",
    "ard",
    "bleu4",
    "exact",
    "ned",
    "restrict",
    "score_order",
    "tau",
]

#: The metric names, in the order reports show them.
METRICS: Final = ("tau", "bleu4", "ard", "ned", "exact")
#: Whether a larger value of each metric is better.
HIGHER_IS_BETTER: Final = {"tau": True, "bleu4": True, "ard": False, "ned": False, "exact": True}


class MissingEvalDependencyError(RuntimeError):
    """scipy, nltk or rapidfuzz is not installed."""


class OrderError(ValueError):
    """Two orders that do not list the same elements, each once."""


def _require(module: str) -> Any:
    import importlib

    try:
        return importlib.import_module(module)
    except ImportError as error:
        raise MissingEvalDependencyError(
            f"evaluation needs scipy, nltk and rapidfuzz (missing {module.split('.')[0]}): "
            "pip install 'vellora[eval]'"
        ) from error


def restrict(order: Sequence[int], truth: Sequence[int]) -> list[int]:
    """``order`` keeping only the ids ``truth`` names, in ``order``'s sequence."""
    wanted = set(truth)
    return [element_id for element_id in order if element_id in wanted]


def _check(predicted: Sequence[int], truth: Sequence[int]) -> None:
    if len(set(truth)) != len(truth):
        raise OrderError("the true order lists an id more than once")
    if len(predicted) != len(truth) or set(predicted) != set(truth):
        missing = sorted(set(truth) - set(predicted))
        extra = sorted(set(predicted) - set(truth))
        detail = f"missing {missing[:5]}" if missing else f"unexpected {extra[:5]}" if extra else "repeated ids"
        raise OrderError(f"the order does not list the true order's {len(truth)} ids once each ({detail})")


def tau(predicted: Sequence[int], truth: Sequence[int]) -> float:
    """Kendall's tau between the positions of the elements in both orders."""
    _check(predicted, truth)
    if len(truth) < 2:
        return 1.0
    stats = _require("scipy.stats")
    position = {element_id: index for index, element_id in enumerate(predicted)}
    result = stats.kendalltau(list(range(len(truth))), [position[element_id] for element_id in truth])
    return float(result.statistic)


def bleu4(predicted: Sequence[int], truth: Sequence[int]) -> float:
    """BLEU of the predicted id sequence against the true one (up to 4-grams)."""
    _check(predicted, truth)
    if len(truth) < 2:
        return 1.0
    bleu = _require("nltk.translate.bleu_score")
    orders = min(4, len(truth))
    weights = tuple(1.0 / orders for _ in range(orders))
    with warnings.catch_warnings():
        # nltk warns when a page has no matching n-grams of some order; the score is then 0, as intended.
        warnings.simplefilter("ignore")
        return float(bleu.sentence_bleu([list(truth)], list(predicted), weights=weights))


def ard(predicted: Sequence[int], truth: Sequence[int]) -> float:
    """Mean distance, in positions, of each element from its true position."""
    _check(predicted, truth)
    if not truth:
        return 0.0
    position = {element_id: index for index, element_id in enumerate(predicted)}
    return sum(abs(index - position[element_id]) for index, element_id in enumerate(truth)) / len(truth)


def ned(predicted: Sequence[int], truth: Sequence[int]) -> float:
    """Levenshtein distance between the sequences over their length."""
    _check(predicted, truth)
    if len(truth) < 2:
        return 0.0
    levenshtein = _require("rapidfuzz.distance").Levenshtein
    return float(levenshtein.normalized_distance(list(predicted), list(truth)))


def exact(predicted: Sequence[int], truth: Sequence[int]) -> float:
    """1.0 when the orders are identical, else 0.0."""
    _check(predicted, truth)
    return 1.0 if list(predicted) == list(truth) else 0.0


def score_order(order: Sequence[int], truth: Sequence[int]) -> dict[str, float]:
    """Every metric of ``order`` (restricted to the ids of ``truth``) against ``truth``."""
    predicted = restrict(order, truth)
    functions = {"tau": tau, "bleu4": bleu4, "ard": ard, "ned": ned, "exact": exact}
    return {name: functions[name](predicted, truth) for name in METRICS}
