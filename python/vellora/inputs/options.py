"""Options of the input formats, and what every format shares."""

from __future__ import annotations

import math
from collections.abc import Mapping, Sequence
from dataclasses import dataclass, field, replace

from ..page import LABELS, Box, Page, PageError
from .classes import BUILTIN_CLASSES, ClassInfo, ClassMapping

__all__ = ["ImportOptions", "apply_min_score", "class_error", "four_numbers"]


@dataclass(frozen=True, slots=True)
class ImportOptions:
    """How page files and detector output are read.

    ``min_score`` drops elements whose ``score`` is below it (elements without
    a score are kept). ``classes`` maps detector class names to labels,
    categories and roles (default: the built-in class sets; see
    :func:`vellora.inputs.classes.parse_class_mapping` for a mapping file).
    """

    min_score: float | None = None
    classes: ClassMapping = field(default_factory=lambda: BUILTIN_CLASSES)

    def __post_init__(self) -> None:
        if self.min_score is not None:
            if isinstance(self.min_score, bool) or not isinstance(self.min_score, (int, float)):
                raise ValueError(f"min_score must be a number; got {type(self.min_score).__name__}")
            if not math.isfinite(self.min_score):
                raise ValueError(f"min_score must be finite; got {self.min_score}")
        if not isinstance(self.classes, ClassMapping):
            object.__setattr__(self, "classes", BUILTIN_CLASSES.updated(self.classes))

    def with_classes(self, classes: Mapping[str, ClassInfo]) -> ImportOptions:
        return replace(self, classes=self.classes.updated(classes))


def class_error(where: str, name: object) -> PageError:
    return PageError(
        f"{where}: unknown class {name!r} (not one of {', '.join(LABELS)}, "
        f"nor a class of DocLayNet, PubLayNet, DocStructBench or the class mapping)"
    )


def four_numbers(value: object) -> Box | None:
    """``value`` as four finite floats, or None when it is anything else."""
    if not isinstance(value, Sequence) or isinstance(value, str) or len(value) != 4:
        return None
    if not all(isinstance(item, (int, float)) and not isinstance(item, bool) for item in value):
        return None
    box = (float(value[0]), float(value[1]), float(value[2]), float(value[3]))
    return box if all(math.isfinite(number) for number in box) else None


def apply_min_score(page: Page, min_score: float | None) -> Page:
    """``page`` without the elements scored below ``min_score`` (and without them in its orders)."""
    if min_score is None:
        return page
    kept = tuple(element for element in page.elements if element.score is None or element.score >= min_score)
    if len(kept) == len(page.elements):
        return page
    ids = {element.id for element in kept}
    truth = None if page.truth is None else tuple(i for i in page.truth if i in ids)
    orders = {name: tuple(i for i in order if i in ids) for name, order in page.orders.items()}
    return Page(page.page_bounds, kept, page.meta, truth, orders)
