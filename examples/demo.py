"""Print the reading order that both algorithms give for the sample page."""

import json
import pathlib

import _vellora_core as core

page = json.loads((pathlib.Path(__file__).parent / "two_column_page.json").read_text())
elements = [
    core.Element(e["id"], *e["box"], getattr(core.SemanticLabel, e["label"]))
    for e in page["elements"]
]
bounds = tuple(page["page_bounds"])
print("paper: ", core.compute_order(elements, bounds))
print("ostrel:", core.compute_order_ostrel(elements, bounds))
