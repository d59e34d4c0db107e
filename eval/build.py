"""Build the evaluation corpus from the pages listed in corpus.json.

    python3 eval/build.py cut --source ROOT      # one-page PDFs into eval/pages (poppler-utils, ghostscript)
    python3 eval/build.py pages                  # page JSON, reading regions, truth and baseline orders
    python3 eval/build.py review --out DIR       # PNG of every page with its numbered regions

ROOT is a folder into which the Debian packages named in corpus.json were
unpacked (``apt-get download PACKAGE`` and ``dpkg-deb -x PACKAGE.deb ROOT``);
each page's ``file`` is relative to it (a ``.pdf.gz``, as Debian ships some
documents, is unpacked first). ``cut`` needs pdfseparate and, to
shrink the embedded fonts, ghostscript; the other steps need the vellora
package with its PDF front end (run them with the development root's Python).

The reading regions come from the content stream: TeX writes the text of a
page mostly in reading order, so the characters are grouped, in the order
they are drawn, into lines and the lines into regions while they go on down
the same column. Running heads are put first and running feet last, where
the output routine drew them; turned text (watermarks) is a skipped region,
and a picture that other text is drawn over (a slide's background, a box's
frame) is no region at all. A page whose stream order is not its reading order is fixed in
corpus.json: ``regions`` lists the generated regions' indices in reading order
(an index left out drops that region, a list of indices merges them, an object
is a region drawn by hand), ``by_columns`` regroups a two-column page's
regions column by column, and ``fixed`` says what was wrong; the fix is
recorded in the provenance file.
"""

from __future__ import annotations

import argparse
import gzip
import json
import os
import shutil
import subprocess
import sys
from pathlib import Path
from typing import Any

HERE = Path(__file__).resolve().parent
PAGES = HERE / "pages"
CORPUS = HERE / "corpus.json"


def load_corpus() -> dict[str, Any]:
    with open(CORPUS, encoding="utf-8") as stream:
        return json.load(stream)


# --- cut: the one-page PDFs -------------------------------------------------------------

def cut(source: Path, only: set[str]) -> None:
    PAGES.mkdir(exist_ok=True)
    corpus = load_corpus()
    gs = shutil.which("gs")
    for entry in corpus["pages"]:
        name = entry["name"]
        if only and name not in only:
            continue
        target = PAGES / f"{name}.pdf"
        if target.exists() and not only:
            continue
        original = source / entry["file"]
        raw = PAGES / f"{name}.raw.pdf"
        unpacked = None
        if original.suffix == ".gz":
            # Debian compresses some documentation; pdfseparate reads only the plain file.
            unpacked = PAGES / f"{name}.whole.pdf"
            with gzip.open(original, "rb") as packed, open(unpacked, "wb") as plain:
                shutil.copyfileobj(packed, plain)
            original = unpacked
        subprocess.run(["pdfseparate", "-f", str(entry["page"]), "-l", str(entry["page"]), str(original), str(raw)],
                       check=True)
        if unpacked is not None:
            unpacked.unlink()
        if gs:
            # Rewriting the page keeps its drawing order and subsets the fonts to what the page uses.
            subprocess.run([gs, "-q", "-sDEVICE=pdfwrite", "-dNOPAUSE", "-dBATCH", "-dSAFER",
                            "-dCompatibilityLevel=1.5", "-dAutoRotatePages=/None",
                            f"-sOutputFile={target}", str(raw)], check=True)
            raw.unlink()
        else:
            raw.rename(target)
        print(f"{name}: {target.stat().st_size // 1024} KiB", file=sys.stderr)


# --- pages: regions from the content stream, truth, baselines ----------------------------

def _stream_items(pdf: Path) -> tuple[list[tuple[str, tuple[float, float, float, float], float, str]], float, float]:
    """Characters and figures of the page in drawing order: (kind, box (y down), size, text)."""
    from pdfminer import high_level, layout

    lt_page = next(iter(high_level.extract_pages(str(pdf), laparams=None)))
    x0, _y0, x1, top = lt_page.bbox
    height = top - lt_page.bbox[1]
    items: list[tuple[str, tuple[float, float, float, float], float, str]] = []

    def box(item: Any) -> tuple[float, float, float, float]:
        return (item.x0 - x0, top - item.y1, item.x1 - x0, top - item.y0)

    def has_graphics(item: Any) -> bool:
        if isinstance(item, (layout.LTImage, layout.LTCurve)):
            return True
        return isinstance(item, layout.LTFigure) and any(has_graphics(child) for child in item)

    def walk(item: Any) -> None:
        if isinstance(item, layout.LTChar):
            if item.get_text().strip():
                # Turned text (a diagonal watermark, a vertical stamp) is not read with the page.
                a, b, c, d = item.matrix[:4]
                turned = abs(b) + abs(c) > 0.1 * (abs(a) + abs(d))
                kind = "turned" if turned else "char"
                items.append((kind, box(item), item.size, item.get_text()))
            return
        if isinstance(item, (layout.LTFigure, layout.LTImage)) and has_graphics(item):
            b = box(item)
            if (b[2] - b[0]) > 40 and (b[3] - b[1]) > 25:
                # A picture is one unit where it is drawn; its own text (labels) goes with it.
                items.append(("figure", b, 0.0, ""))
                return
        if isinstance(item, layout.LTContainer):
            for child in item:
                walk(child)

    for item in lt_page:
        walk(item)
    return items, x1 - x0, height


def _lines(items: list[tuple[str, tuple[float, float, float, float], float, str]]) -> list[dict[str, Any]]:
    """Consecutive characters on one baseline, going right, form a line; a figure is a line of its own."""
    lines: list[dict[str, Any]] = []
    current: dict[str, Any] | None = None
    for kind, b, size, text in items:
        if kind == "figure":
            lines.append({"box": list(b), "text": "[figure]", "size": b[3] - b[1]})
            current = None
            continue
        if kind == "turned":
            if lines and lines[-1].get("turned"):
                tb = lines[-1]["box"]
                tb[0], tb[1], tb[2], tb[3] = min(tb[0], b[0]), min(tb[1], b[1]), max(tb[2], b[2]), max(tb[3], b[3])
                lines[-1]["text"] += text
            else:
                lines.append({"box": list(b), "text": text, "size": size, "turned": True})
            current = None
            continue
        if current is not None:
            cb = current["box"]
            line_height = max(current["size"], size, 1.0)
            same_row = min(cb[3], b[3]) - max(cb[1], b[1]) > 0.3 * min(cb[3] - cb[1], b[3] - b[1], line_height)
            near = -1.5 * line_height < b[0] - cb[2] < 3.0 * line_height
            if same_row and near:
                cb[0], cb[1], cb[2], cb[3] = min(cb[0], b[0]), min(cb[1], b[1]), max(cb[2], b[2]), max(cb[3], b[3])
                current["text"] += text
                continue
            if same_row and b[0] - cb[2] >= 3.0 * line_height:
                pass  # a wide gap on the same row: another column's line, or a table cell
        current = {"box": list(b), "text": text, "size": size}
        lines.append(current)
    return lines


def _regions(lines: list[dict[str, Any]]) -> list[dict[str, Any]]:
    """Lines in drawing order that go on down the same column form a region."""
    regions: list[dict[str, Any]] = []
    current: dict[str, Any] | None = None
    for line in lines:
        b = line["box"]
        if line.get("turned"):
            regions.append({"box": list(b), "last": b, "text": line["text"], "skip": True})
            current = None
            continue
        if current is not None and line["text"] != "[figure]" and not current.get("figure"):
            cb, last = current["box"], current["last"]
            line_height = max(last[3] - last[1], b[3] - b[1], 6.0)
            overlap = min(cb[2], b[2]) - max(cb[0], b[0])
            # Only lines of about the region's width extend it, so that its box never grows over
            # a neighbouring column; a short line (a heading, a paragraph's last line) starts anew.
            goes_on = (
                overlap >= 0.5 * max(cb[2] - cb[0], b[2] - b[0])
                and b[1] >= last[1] - 0.5 * line_height          # not back up the page
                and b[1] - last[3] < 2.5 * line_height            # no wide vertical gap
            )
            if goes_on:
                cb[0], cb[1], cb[2], cb[3] = min(cb[0], b[0]), min(cb[1], b[1]), max(cb[2], b[2]), max(cb[3], b[3])
                current["last"] = b
                if len(current["text"]) < 40:
                    current["text"] += " " + line["text"]
                continue
        current = {"box": list(b), "last": b, "text": line["text"], "figure": line["text"] == "[figure]"}
        regions.append(current)
    return regions


def _furniture_first_and_last(regions: list[dict[str, Any]]) -> list[dict[str, Any]]:
    """Running heads first and running feet (page numbers) last, wherever TeX drew them.

    A head is a band of low regions at the very top, set off from everything
    below by a gap; a foot likewise at the very bottom.
    """
    body = [r for r in regions if not r.get("skip")]
    if len(body) < 3:
        return regions

    def band(top: bool) -> list[dict[str, Any]]:
        edge = min(r["box"][1] for r in body) if top else max(r["box"][3] for r in body)
        members = [r for r in body if (abs(r["box"][1] - edge) < 4 if top else abs(r["box"][3] - edge) < 4)]
        if any(r["box"][3] - r["box"][1] > 16 for r in members):
            return []
        others = [r for r in body if r not in members]
        if top:
            apart = all(o["box"][1] > max(m["box"][3] for m in members) + 6 for o in others)
        else:
            apart = all(o["box"][3] < min(m["box"][1] for m in members) - 6 for o in others)
        return sorted(members, key=lambda r: r["box"][0]) if apart and others else []

    heads, feet = band(True), band(False)
    rest = [r for r in regions if r not in heads and r not in feet]
    return heads + rest + feet


def stream_regions(pdf: Path) -> list[dict[str, Any]]:
    items, _width, _height = _stream_items(pdf)
    regions = _furniture_first_and_last(_regions(_lines(items)))
    result = []
    for r in regions:
        region = {"box": [round(v, 2) for v in r["box"]], "text": " ".join(r["text"].split())[:40]}
        if r.get("skip"):
            region["skip"] = True
        result.append(region)
    return result


def _fixed_regions(generated: list[dict[str, Any]], fix: list[Any] | None) -> list[dict[str, Any]]:
    """The regions after a hand fix: each item an index of a generated region, a list of
    indices (merged into one region), or a region drawn by hand ({"box": [...], "text": ...})."""
    if fix is None:
        return generated
    regions: list[dict[str, Any]] = []
    for item in fix:
        if isinstance(item, int):
            regions.append(generated[item])
        elif isinstance(item, list):
            boxes = [generated[i]["box"] for i in item]
            regions.append({"box": [min(b[0] for b in boxes), min(b[1] for b in boxes),
                                    max(b[2] for b in boxes), max(b[3] for b in boxes)],
                            "text": generated[item[0]]["text"]})
        else:
            regions.append(item)
    # Turned text stays out of the truth whatever the fix.
    regions.extend(region for region in generated if region.get("skip") and region not in regions)
    return regions


def _drop_backgrounds(regions: list[dict[str, Any]]) -> list[dict[str, Any]]:
    """Leave out drawn frames and backgrounds: a picture region that other text lies on.

    A real picture carries its own labels inside it; a slide's background or a
    box's frame has the page's text drawn over it, and is not read.
    """
    def inside(inner: list[float], outer: list[float]) -> bool:
        width = min(inner[2], outer[2]) - max(inner[0], outer[0])
        height = min(inner[3], outer[3]) - max(inner[1], outer[1])
        area = (inner[2] - inner[0]) * (inner[3] - inner[1])
        return width > 0 and height > 0 and width * height >= 0.8 * area

    texts = [r["box"] for r in regions if r.get("text") != "[figure]" and not r.get("skip")]
    return [r for r in regions
            if r.get("text") != "[figure]" or not any(inside(box, r["box"]) for box in texts)]


def _by_columns(regions: list[dict[str, Any]]) -> list[dict[str, Any]]:
    """Two-column pages whose output routine draws the columns' first lines together.

    Between regions running across both columns, the narrow regions are read
    left column first, then right column, each in drawing order; the head
    and foot (first and last in the list, above and below everything else)
    stay where they are.
    """
    body = list(regions)
    head: list[dict[str, Any]] = []
    while len(body) > 1 and body[0]["box"][3] <= min(r["box"][1] for r in body[1:]) + 1:
        head.append(body.pop(0))
    foot: list[dict[str, Any]] = []
    while len(body) > 1 and body[-1]["box"][1] >= max(r["box"][3] for r in body[:-1]) - 1:
        foot.insert(0, body.pop())
    if not body:
        return regions
    left, right = min(r["box"][0] for r in body), max(r["box"][2] for r in body)
    middle = (left + right) / 2
    wide = sorted((r for r in body if r["box"][2] - r["box"][0] > 0.6 * (right - left)), key=lambda r: r["box"][1])
    cuts = [r["box"][1] for r in wide] + [float("inf")]
    ordered: list[dict[str, Any]] = []
    top = float("-inf")
    for cut, spanning in zip(cuts, [None, *wide]):
        if spanning is not None:
            ordered.append(spanning)
        narrow = [r for r in body if r not in wide and top <= (r["box"][1] + r["box"][3]) / 2 < cut]
        narrow.sort(key=lambda r: ((r["box"][0] + r["box"][2]) / 2 >= middle, body.index(r)))
        ordered.extend(narrow)
        top = cut
    return head + ordered + foot


def build_pages(only: set[str]) -> None:
    from vellora.evaluation.baselines import order_from_flow, pdfminer_flow, pdftotext_flow
    from vellora.evaluation.regions import parse_regions, truth_from_regions
    from vellora.pdf import extract_page

    corpus = load_corpus()
    provenance = ["name\tpackage\tversion\tfile\tpage\tlicence\tlayout\tfeatures\tfixed"]
    for entry in corpus["pages"]:
        name = entry["name"]
        package = corpus["packages"][entry["package"]]
        provenance.append("\t".join([
            name, entry["package"], package["version"], entry["file"], str(entry["page"]),
            entry.get("licence", package["licence"]), entry["layout"], entry.get("features", ""),
            entry.get("fixed") or "",
        ]))
        if only and name not in only:
            continue
        pdf = PAGES / f"{name}.pdf"
        generated = stream_regions(pdf)
        regions = _drop_backgrounds(_fixed_regions(generated, entry.get("regions")))
        if entry.get("by_columns"):
            regions = _by_columns(regions)
        truth_data = {"regions": regions, "generated": len(generated), "fixed": entry.get("fixed")}
        (PAGES / f"{name}.regions.json").write_text(json.dumps(truth_data, indent=1, ensure_ascii=False) + "\n",
                                                     encoding="utf-8")
        page = extract_page(pdf, 1)
        truth = truth_from_regions(page, parse_regions(truth_data))
        data = page.to_dict()
        data["meta"] = {
            "source": f"{name}.pdf", "page": 1, "layout": entry["layout"],
            "package": entry["package"], "version": package["version"], "file": entry["file"],
            "original_page": entry["page"],
        }
        data["truth"] = list(truth)
        data["orders"] = {
            "pdftotext": order_from_flow(page, pdftotext_flow(pdf, 1)),
            "pdfminer": order_from_flow(page, pdfminer_flow(pdf, 1)),
        }
        (PAGES / f"{name}.json").write_text(json.dumps(data, ensure_ascii=False) + "\n", encoding="utf-8")
        print(f"{name}: {len(page.elements)} elements, {len(truth)} in {len(regions)} regions", file=sys.stderr)
    (HERE / "PROVENANCE.tsv").write_text("\n".join(provenance) + "\n", encoding="utf-8")


# --- review: drawings to check the regions by eye ----------------------------------------

def review(out: Path, only: set[str]) -> None:
    from PIL import Image, ImageDraw

    out.mkdir(parents=True, exist_ok=True)
    for entry in load_corpus()["pages"]:
        name = entry["name"]
        if only and name not in only:
            continue
        pdf = PAGES / f"{name}.pdf"
        prefix = out / name
        subprocess.run(["pdftoppm", "-r", "60", "-png", "-singlefile", str(pdf), str(prefix)], check=True)
        image = Image.open(f"{prefix}.png").convert("RGB")
        scale = 60 / 72
        draw = ImageDraw.Draw(image)
        data = json.loads((PAGES / f"{name}.regions.json").read_text(encoding="utf-8"))
        page = json.loads((PAGES / f"{name}.json").read_text(encoding="utf-8"))
        position = {element_id: index for index, element_id in enumerate(page["truth"], start=1)}
        for element in page["elements"]:
            x1, y1, x2, y2 = (v * scale for v in element["box"])
            draw.rectangle((x1, y1, x2, y2), outline=(40, 90, 220) if element["id"] in position else (160, 160, 160))
            if element["id"] in position:
                draw.text((x2 - 14, y1), str(position[element["id"]]), fill=(40, 90, 220))
        for index, region in enumerate(data["regions"]):
            x1, y1, x2, y2 = (v * scale for v in region["box"])
            colour = (150, 150, 150) if region.get("skip") else (220, 40, 40)
            draw.rectangle((x1, y1, x2, y2), outline=colour, width=2)
            draw.rectangle((x1, y1, x1 + 16, y1 + 11), fill=colour)
            draw.text((x1 + 2, y1), str(index), fill=(255, 255, 255))
        image.save(f"{prefix}.png")
    print(f"drawings in {out}", file=sys.stderr)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    steps = parser.add_subparsers(dest="step", required=True)
    cut_step = steps.add_parser("cut")
    cut_step.add_argument("--source", type=Path, required=True)
    steps.add_parser("pages")
    review_step = steps.add_parser("review")
    review_step.add_argument("--out", type=Path, required=True)
    parser.add_argument("--only", action="append", default=[], metavar="NAME", help="just this page (repeatable)")
    args = parser.parse_args()
    only = set(args.only)
    if args.step == "cut":
        cut(args.source, only)
    elif args.step == "pages":
        build_pages(only)
    else:
        review(args.out, only)


if __name__ == "__main__":
    os.umask(0o022)
    main()
