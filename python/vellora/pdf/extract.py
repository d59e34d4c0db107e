"""Reading a PDF: pages parsed once, in file order, each turned into labelled blocks lazily.

pdfminer interprets each page's content stream into characters, graphics and
images (:func:`_interpret`); the page is cropped to its visible area and
turned upright (:mod:`.geometry`), pdfminer's layout analysis groups the
characters into text blocks, and :mod:`.blocks` and the labelling modules
make the page's elements from them.
"""

from __future__ import annotations

import os
import re
import statistics
from collections import deque
from collections.abc import Iterator, Sequence
from typing import Any

from ..page import Page
from .backdrop import backdrop_chars
from .blocks import PageBlocks, absorb_fragments, attach_number_columns, collect_blocks
from .columns import column_rules, dotted_rules, split_blocks_at_rules, split_lines_at_rules, split_overlapping
from .displays import join_displays
from .errors import PdfError, pdfminer_modules
from .figures import settle_figures
from .furniture import mark_furniture
from .geometry import Rect, inside_share, is_slanted, page_matrix, text_turn, to_page_box, visible_box
from .labels import build_page
from .listings import join_listings
from .panels import clip_to_panels, find_panels, panel_rules
from .settings import PdfSettings
from .tables import find_tables
from .text import install_cid_maps

__all__ = ["extract_page", "iter_pages", "page_count", "parse_page_selection"]

#: A form object with text running at least this share of the page's height is a column placed on it.
_FULL_HEIGHT = 0.9

#: A page is turned when at least this share of its characters (and this many) run sideways.
_TURN_SHARE = 0.6
_TURN_MIN_CHARS = 20


def parse_page_selection(text: str, page_count: int) -> list[int]:
    """The pages named by ``text`` such as ``"1-3,7"`` (1-based), sorted, each once.

    ``"all"`` is every page, and ranges may be open: ``"5-"`` is page 5 to the end,
    ``"-3"`` pages 1 to 3. Raises ValueError with a clear message when the
    text is malformed or names a page the document does not have.
    """
    pages: set[int] = set()
    selection = text.strip()
    if selection.lower() == "all":
        return list(range(1, page_count + 1))
    if not selection:
        raise ValueError("page selection is empty; give pages like 1-3,7")
    for part in selection.split(","):
        item = part.strip()
        match = re.fullmatch(r"(\d*)\s*(-?)\s*(\d*)", item)
        if not item or match is None or (not match.group(2) and not match.group(1)) or item == "-":
            raise ValueError(f"page selection {text!r}: {item!r} is not a page or a range like 2-5")
        first = int(match.group(1)) if match.group(1) else 1
        last = (int(match.group(3)) if match.group(3) else page_count) if match.group(2) else first
        if first < 1 or last < 1:
            raise ValueError(f"page selection {text!r}: pages are numbered from 1")
        if first > last:
            raise ValueError(f"page selection {text!r}: range {item!r} runs backwards")
        if last > page_count:
            raise ValueError(
                f"page selection {text!r}: page {last} does not exist "
                f"(the document has {page_count} page{'s' * (page_count != 1)})"
            )
        pages.update(range(first, last + 1))
    return sorted(pages)


class _Document:
    """An open PDF file: the pdfminer document and its pages, read lazily."""

    def __init__(self, path: str | os.PathLike[str]) -> None:
        pdfminer_modules()
        from pdfminer.pdfdocument import PDFDocument, PDFEncryptionError, PDFPasswordIncorrect
        from pdfminer.pdfparser import PDFParser

        self.source = os.fspath(path)
        self.manager: Any = None
        try:
            self.stream = open(path, "rb")
        except FileNotFoundError:
            raise PdfError(f"{self.source}: no such file") from None
        except IsADirectoryError:
            raise PdfError(f"{self.source}: is a folder, not a PDF file") from None
        except OSError as error:
            raise PdfError(f"{self.source}: cannot read the file ({error.strerror or error})") from None
        try:
            self.document = PDFDocument(PDFParser(self.stream))
        except PDFPasswordIncorrect:
            self.close()
            raise PdfError(f"{self.source}: the PDF is encrypted and needs a password") from None
        except PDFEncryptionError as error:
            self.close()
            raise PdfError(f"{self.source}: the PDF is encrypted in a way that cannot be read ({error})") from None
        except Exception as error:  # pdfminer raises many kinds on broken input
            self.close()
            raise PdfError(f"{self.source}: not a readable PDF ({_why(error)})") from None

    def close(self) -> None:
        self.stream.close()

    def resources(self) -> Any:
        """The document's resource manager: fonts are read once for all its pages, as pdfminer does."""
        if self.manager is None:
            from pdfminer.pdfinterp import PDFResourceManager

            self.manager = PDFResourceManager(caching=True)
        return self.manager

    def pages(self) -> Iterator[Any]:
        from pdfminer.pdfpage import PDFPage

        try:
            yield from PDFPage.create_pages(self.document)
        except PdfError:
            raise
        except Exception as error:
            raise PdfError(f"{self.source}: not a readable PDF ({_why(error)})") from None

    def count(self) -> int:
        return sum(1 for _ in self.pages())


def _why(error: BaseException) -> str:
    detail = " ".join(str(error).split())
    if len(detail) > 120:
        detail = detail[:117] + "..."
    return f"{type(error).__name__}: {detail}" if detail else type(error).__name__


def page_count(path: str | os.PathLike[str]) -> int:
    """Number of pages of the PDF file at ``path`` (PdfError when it cannot be read)."""
    document = _Document(path)
    try:
        return document.count()
    finally:
        document.close()


def _interpret(pdf_page: Any, turn: int, manager: Any) -> tuple[Any, Rect]:
    """pdfminer's unanalysed layout of ``pdf_page`` as seen upright after an extra clockwise ``turn``."""
    layout = pdfminer_modules()
    from pdfminer.converter import PDFPageAggregator
    from pdfminer.pdfinterp import PDFPageInterpreter
    from pdfminer.utils import apply_matrix_rect

    visible = visible_box(pdf_page.mediabox, pdf_page.cropbox)
    rotate = (pdf_page.rotate + turn) % 360

    class Device(PDFPageAggregator):
        def begin_page(self, page: Any, ctm: Any) -> None:
            x0, y0, x1, y1 = apply_matrix_rect(ctm, visible)
            self.cur_item = layout.LTPage(self.pageno, (0, 0, abs(x1 - x0), abs(y1 - y0)))

    class Interpreter(PDFPageInterpreter):
        def process_page(self, page: Any) -> None:
            ctm = page_matrix(visible, rotate)
            self.device.begin_page(page, ctm)
            self.render_contents(page.resources, page.contents, ctm=ctm)
            self.device.end_page(page)

    device = Device(manager, laparams=None)
    Interpreter(manager, device).process_page(pdf_page)
    return device.get_result(), visible


def _characters(container: Any, layout: Any) -> list[Any]:
    """The characters of ``container`` in order, those of its form objects included."""
    char_type, figure_type = layout.LTChar, layout.LTFigure
    found: list[Any] = []
    for item in container:
        if isinstance(item, char_type):
            found.append(item)
        elif isinstance(item, figure_type):
            found.extend(_characters(item, layout))
    return found


def _flatten_text_figures(lt_page: Any, layout: Any) -> None:
    """Form objects holding a page's text give up their content to the page.

    Some producers wrap all content in one form object covering the page; a
    card or leaflet made by placing pages side by side as its columns holds
    each column in a form object running the page's full height (at least
    :data:`_FULL_HEIGHT` of it). A picture is neither. A form object that
    draws text and nothing else (no picture to keep it in) gives up its
    text too, whatever its size.
    """
    figure_type = layout.LTFigure
    if not any(isinstance(item, figure_type) for item in lt_page):
        return
    width, height = lt_page.width, lt_page.height
    objects: list[Any] = []
    for item in lt_page:
        if isinstance(item, layout.LTFigure) and (
            (
                (item.width * item.height >= 0.5 * width * height or item.height >= _FULL_HEIGHT * height)
                and len(_characters(item, layout)) >= 50
            )
            or _text_only(item, layout)
        ):
            objects.extend(_flattened(item, layout))
        else:
            objects.append(item)
    lt_page._objs = objects


def _flattened(figure: Any, layout: Any) -> Iterator[Any]:
    for item in figure:
        if isinstance(item, layout.LTFigure) and (len(_characters(item, layout)) >= 50 or _text_only(item, layout)):
            yield from _flattened(item, layout)
        else:
            yield item


def _text_only(figure: Any, layout: Any) -> bool:
    """Whether a form object draws characters and nothing else, at any depth."""
    found = False
    for item in figure:
        if isinstance(item, layout.LTChar):
            found = True
        elif isinstance(item, layout.LTFigure):
            if not _text_only(item, layout):
                return False
            found = True
        elif isinstance(item, (layout.LTImage, layout.LTCurve)):
            return False
    return found


def _layout_page(pdf_page: Any, settings: PdfSettings, manager: Any) -> tuple[Any, int]:
    """The analysed pdfminer layout of one page, cropped and upright, and the extra turn that made it upright."""
    layout = pdfminer_modules()
    applied = 0
    lt_page, _visible = _interpret(pdf_page, 0, manager)
    _flatten_text_figures(lt_page, layout)
    chars = _characters(lt_page, layout)
    turn = text_turn([char.matrix for char in chars])
    if turn and len(chars) >= _TURN_MIN_CHARS:
        turned = text_turn(char.matrix for char in chars if text_turn([char.matrix]) == turn)
        share = sum(1 for char in chars if text_turn([char.matrix]) == turned) / len(chars)
        if share >= _TURN_SHARE:
            lt_page, _visible = _interpret(pdf_page, turn, manager)
            applied = turn
            _flatten_text_figures(lt_page, layout)
    width, height = lt_page.width, lt_page.height
    char_type = layout.LTChar
    kept: list[Any] = []
    slanted: list[Any] = []
    for item in lt_page:
        # Content mostly outside the visible area is not shown, so it is not read
        # (an item lying wholly on the page is seen without measuring it).
        x0, y0, x1, y1 = item.bbox
        if not (0 <= x0 <= x1 <= width and 0 <= y0 <= y1 <= height) and inside_share(item.bbox, width, height) < 0.5:
            continue
        # Slanted text (a "DRAFT" watermark across the page) is set apart from the text flow;
        # a baseline along the x axis (b == 0) is never slanted.
        if isinstance(item, char_type) and item.matrix[1] and is_slanted(item.matrix):
            slanted.append(item)
        else:
            kept.append(item)
    behind = backdrop_chars([item for item in kept if isinstance(item, char_type)], settings)
    if behind:
        ids = {id(char) for char in behind}
        kept = [item for item in kept if id(item) not in ids]
        slanted.extend(behind)
    lt_page._objs = kept
    lt_page.slanted_chars = slanted
    params = layout.LAParams(
        line_overlap=settings.line_overlap,
        char_margin=settings.char_margin,
        line_margin=settings.line_margin,
        word_margin=settings.word_margin,
        boxes_flow=None,
    )
    chars = [item for item in lt_page if isinstance(item, char_type)]
    graphics = [item for item in lt_page if not isinstance(item, char_type)]
    panels = find_panels(graphics, chars, layout, width, height, settings)
    lt_page.panels = panels
    rules = column_rules(graphics, layout, settings) + panel_rules(panels)
    if not chars or (not settings.adapt_line_margin and not rules):
        lt_page.analyze(params)
        return lt_page, applied
    # Grouping characters into lines does not depend on the line margin, so the
    # lines measured for it are the ones the analysis would make: it takes them
    # instead of grouping the page's characters a second time.
    lines = split_lines_at_rules(list(lt_page.group_objects(params, chars)), rules, layout, params.word_margin)
    if settings.adapt_line_margin:
        params.line_margin = _line_margin(lines, params, layout)
    lt_page.group_objects = lambda _params, _objs: iter(lines)
    try:
        lt_page.analyze(params)
    finally:
        del lt_page.group_objects
    return lt_page, applied


def _line_margin(all_lines: list[Any], params: Any, layout: Any) -> float:
    """The line margin for a page of ``all_lines``: the setting, or more where the lines are set wider apart.

    Slides, and text in scripts set with generous leading, space their lines
    further apart than the setting allows; the most common gap between a line
    and the next one below it (as a share of the line's height) shows it.
    """
    lines = sorted((line for line in all_lines
                    if isinstance(line, layout.LTTextLineHorizontal) and line.height > 0),
                   key=lambda line: -line.y1)
    ratios: list[float] = []
    for index, line in enumerate(lines):
        for below in lines[index + 1 : index + 40]:
            overlap = min(line.x1, below.x1) - max(line.x0, below.x0)
            if overlap < 0.5 * min(line.width, below.width) or below.y1 > line.y0:
                continue
            if abs(below.height - line.height) <= 0.2 * line.height:
                ratios.append(round((line.y0 - below.y1) / line.height, 1))
            break

    leading = [ratio for ratio in ratios if ratio < 1.5]  # wider gaps are between blocks, not lines
    if len(leading) < 5 or len(leading) < 0.6 * len(ratios):
        return float(params.line_margin)
    common = statistics.median(leading)
    return float(max(params.line_margin, min(common * 1.25, 1.5)))


def _page_blocks(document: _Document, pdf_page: Any, number: int, settings: PdfSettings) -> PageBlocks:
    try:
        lt_page, turn = _layout_page(pdf_page, settings, document.resources())
    except PdfError:
        raise
    except Exception as error:  # a broken content stream, font or image
        raise PdfError(f"{document.source}: page {number} cannot be read ({_why(error)})") from None
    page = collect_blocks(lt_page, number, settings)
    page.turn = turn
    panels = [to_page_box(panel, page.width, page.height) for panel in getattr(lt_page, "panels", [])]
    page.panels = panels
    # The sides of panels separate columns as drawn rules do.
    page.rules.extend((side, panel[1], side, panel[3]) for panel in panels for side in (panel[0], panel[2]))
    clip_to_panels(page, panels)
    settle_figures(page, settings)
    dotted_rules(page, settings)
    split_blocks_at_rules(page, settings)
    absorb_fragments(page)
    attach_number_columns(page)
    join_listings(page, settings)
    split_overlapping(page)
    find_tables(page, settings)
    join_displays(page, settings)
    return page


def iter_pages(
    path: str | os.PathLike[str],
    pages: Sequence[int] | None = None,
    *,
    settings: PdfSettings | None = None,
) -> Iterator[Page]:
    """Extract and label the pages of a PDF, one at a time, in file order.

    ``pages`` lists the wanted 1-based page numbers (all pages when None);
    they are yielded in file order, each once. The file is parsed once, and
    only a few pages are held at a time (a page and its neighbours, compared
    to find running heads and footers), so memory stays flat on long files.

    Raises :class:`PdfError` for a missing, unreadable, encrypted or broken
    file or a page it does not have, and :class:`MissingDependencyError`
    without pdfminer.six.
    """
    settings = settings or PdfSettings()
    wanted = None if pages is None else sorted(set(pages))
    document = _Document(path)
    install_cid_maps()
    source = document.source
    try:
        if wanted is not None:
            for number in wanted:
                if number < 1:
                    raise PdfError(f"{source}: page numbers start at 1; got {number}")
        window = int(settings.furniture_window)
        wanted_set = None if wanted is None else set(wanted)
        last_wanted = None if wanted is None else (wanted[-1] if wanted else 0)

        def needed(number: int) -> bool:
            return wanted_set is None or any(abs(number - other) <= window for other in wanted_set)

        def finish(number: int, buffer: deque[tuple[int, PageBlocks | None]]) -> Iterator[Page]:
            if wanted_set is not None and number not in wanted_set:
                return
            target = next(blocks for at, blocks in buffer if at == number)
            assert target is not None
            neighbours = [blocks for at, blocks in buffer if blocks is not None and at != number
                          and abs(at - number) <= window]
            mark_furniture(target, neighbours, settings)
            yield build_page(target, settings, source)

        buffer: deque[tuple[int, PageBlocks | None]] = deque()
        seen = 0
        for number, pdf_page in enumerate(document.pages(), start=1):
            if last_wanted is not None and number > last_wanted + window:
                break
            seen = number
            buffer.append((number, _page_blocks(document, pdf_page, number, settings) if needed(number) else None))
            ready = number - window
            if ready >= 1:
                yield from finish(ready, buffer)
            # Pages still needed: those within the window of a page not yet finished.
            while buffer and buffer[0][0] < ready + 1 - window:
                buffer.popleft()
        for number in range(max(1, seen - window + 1), seen + 1):
            yield from finish(number, buffer)
        if wanted is not None and wanted and wanted[-1] > seen:
            missing = next(number for number in wanted if number > seen)
            raise PdfError(f"{source}: page {missing} does not exist (the file has {seen} page{'s' * (seen != 1)})")
    finally:
        document.close()


def extract_page(path: str | os.PathLike[str], page_number: int = 1, *, settings: PdfSettings | None = None) -> Page:
    """Extract and label page ``page_number`` (1-based) of a PDF (see :func:`iter_pages`)."""
    if page_number < 1:
        raise PdfError(f"{os.fspath(path)}: page numbers start at 1; got {page_number}")
    for page in iter_pages(path, [page_number], settings=settings):
        return page
    raise PdfError(f"{os.fspath(path)}: page {page_number} does not exist")

