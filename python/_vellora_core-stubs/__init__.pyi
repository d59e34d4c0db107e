"""Type stubs for the native module ``_vellora_core``."""

from collections.abc import Sequence
from typing import Final, final

__all__ = [
    "reset_log_cache",
    "compute_order_ostrel",
    "compute_order",
    "compute_order_paper",
    "XYCutConfig",
    "SemanticLabel",
    "Element",
]

@final
class XYCutConfig:
    """Tuning values of the paper algorithm, stored as single-precision floats."""

    def __new__(
        cls,
        min_cut_threshold: float = 15.0,
        histogram_resolution_scale: float = 0.5,
        same_row_tolerance: float = 10.0,
    ) -> XYCutConfig: ...
    @property
    def min_cut_threshold(self) -> float: ...
    @min_cut_threshold.setter
    def min_cut_threshold(self, value: float, /) -> None: ...
    @property
    def histogram_resolution_scale(self) -> float: ...
    @histogram_resolution_scale.setter
    def histogram_resolution_scale(self, value: float, /) -> None: ...
    @property
    def same_row_tolerance(self) -> float: ...
    @same_row_tolerance.setter
    def same_row_tolerance(self, value: float, /) -> None: ...

@final
class SemanticLabel:
    """The five element categories; members compare by identity and convert with int()."""

    CrossLayout: Final[SemanticLabel]
    HorizontalTitle: Final[SemanticLabel]
    VerticalTitle: Final[SemanticLabel]
    Vision: Final[SemanticLabel]
    Regular: Final[SemanticLabel]
    def __int__(self) -> int: ...

@final
class Element:
    """One layout box: caller's id, corners (y grows downwards) and label."""

    def __new__(cls, id: int, x1: float, y1: float, x2: float, y2: float, label: SemanticLabel) -> Element: ...
    @property
    def id(self) -> int: ...
    @property
    def x1(self) -> float: ...
    @property
    def y1(self) -> float: ...
    @property
    def x2(self) -> float: ...
    @property
    def y2(self) -> float: ...
    @property
    def label(self) -> SemanticLabel: ...

class InternalFault(BaseException):
    """An internal fault of the native code; deliberately not an Exception."""

def reset_log_cache() -> None:
    """Clear the native cache of Python logger levels (call after reconfiguring logging)."""

def compute_order_ostrel(
    elements: Sequence[Element],
    page_bounds: tuple[float, float, float, float],
    config: XYCutConfig | None = None,
) -> list[int]: ...
def compute_order(
    elements: Sequence[Element],
    page_bounds: tuple[float, float, float, float],
    config: XYCutConfig | None = None,
) -> list[int]: ...
def compute_order_paper(
    elements: Sequence[Element],
    page_bounds: tuple[float, float, float, float],
    config: XYCutConfig | None = None,
) -> list[int]: ...
