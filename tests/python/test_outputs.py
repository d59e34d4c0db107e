"""The output formats: text joining, Markdown structure, JSON Lines against the published schema."""

import json
import pathlib

import pytest

from vellora.outputs.jsonl import page_record
from vellora.outputs.markdown import MarkdownPage, document_markdown
from vellora.outputs.text import join_lines, page_text
from vellora.page import Page, PageElement

ROOT = pathlib.Path(__file__).resolve().parents[2]
SCHEMA = json.loads((ROOT / "schemas" / "page-order.schema.json").read_text())


@pytest.mark.parametrize("lines, joined", [
    (["reading or-", "der matters"], "reading order matters"),             # a split word
    (["the Jean-", "Paul method"], "the Jean-Paul method"),                  # a compound before a capital
    (["COVID-", "19 cases"], "COVID-19 cases"),                              # ... and before a digit
    (["hyphen -", "dash"], "hyphen - dash"),                                 # a dash, not a split word
    (["soft\u00ad", "ware"], "software"),                                    # a soft hyphen always goes
    (["  two   spaces ", "", "and\tmore"], "two spaces and more"),           # blank lines, runs of space
    (["3-", "d"], "3- d"),                                                  # no letter before the hyphen
])
def test_join_lines(lines, joined):
    assert join_lines(lines) == joined


def element(id, box, label="Regular", text=None):
    return PageElement(id, box, label, text)


def test_page_text_is_paragraphs_then_a_form_feed():
    elements = [element(1, (0, 0, 10, 10), text="Title"), element(2, (0, 20, 10, 30)),
                element(3, (0, 40, 10, 50), text="first li-\nne")]
    assert page_text(elements) == "Title\n\nfirst line\n\f"
    assert page_text([]) == "\f"


def test_markdown_heading_levels_follow_size_rank_across_pages():
    big = element(1, (0, 0, 100, 30), "HorizontalTitle", "Big")
    small = element(2, (0, 40, 100, 52), "HorizontalTitle", "Small")
    body = element(3, (0, 60, 100, 90), text="body text")
    again = element(4, (0, 0, 100, 12), "HorizontalTitle", "Also small")
    text = document_markdown([MarkdownPage("a.pdf", 1, [big, small, body]), MarkdownPage("a.pdf", 2, [again])])
    assert text == "# Big\n\n## Small\n\nbody text\n\n## Also small\n"


def test_jsonl_record_follows_the_order_and_the_schema():
    jsonschema = pytest.importorskip("jsonschema")
    page = Page((0, 0, 612, 792), (element(7, (0, 0, 5, 5), text="x"), element(3, (0, 10, 5, 15), "Vision")))
    record = page_record("in.json", 1, page, "ostrel", [3, 7], {"ostrel": [3, 7], "paper": [7, 3]})
    jsonschema.validate(record, SCHEMA)
    assert [(e["id"], e["position"]) for e in record["elements"]] == [(3, 1), (7, 2)]
    assert record["orders"] == {"ostrel": [3, 7], "paper": [7, 3]}
    with pytest.raises(jsonschema.ValidationError):
        jsonschema.validate({**record, "elements": [{"id": -1}]}, SCHEMA)
