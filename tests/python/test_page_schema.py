"""The published page schema describes what the package reads and writes."""

import json
import pathlib

import pytest

from vellora import PageError, parse_page

jsonschema = pytest.importorskip("jsonschema")

ROOT = pathlib.Path(__file__).resolve().parents[2]


@pytest.fixture(scope="module")
def validator():
    schema = json.loads((ROOT / "schemas" / "page.schema.json").read_text())
    jsonschema.Draft202012Validator.check_schema(schema)
    return jsonschema.Draft202012Validator(schema)


def element(**fields):
    return {"id": 1, "box": [10, 10, 100, 40], "label": "Regular", **fields}


def page(*elements, **fields):
    return {"page_bounds": [0, 0, 612, 792], "elements": list(elements) or [element()], **fields}


GOOD = {
    "plain": page(),
    "empty": {"page_bounds": [0, 0, 1, 1], "elements": []},
    "every_field": page(element(text="t", category="Page-header", score=0.7, role="header", font_size=9.5),
                        element(id=2, label="Vision"), truth=[2, 1], orders={"pdftotext": [1]}, meta={"a": 1}),
    "element_fields_of_its_own": page(element(polygon=[1, 2, 3], model={"name": "m"})),
    "largest_id": page(element(id=2**64 - 1)),
}

BAD = {
    "missing_label": page({"id": 1, "box": [0, 0, 1, 1], "lable": "Regular"}),
    "class_name_as_label": page(element(label="Text")),
    "negative_id": page(element(id=-1)),
    "id_too_large": page(element(id=2**64)),
    "fractional_id": page(element(id=1.5)),
    "three_number_box": page(element(box=[0, 0, 1])),
    "box_as_text": page(element(box="0 0 1 1")),
    "unknown_role": page(element(role="margin")),
    "zero_font_size": page(element(font_size=0)),
    "text_score": page(element(score="high")),
    "repeated_truth": page(truth=[1, 1]),
    "orders_as_list": page(orders=[[1]]),
    "unknown_page_field": page(element_count=1),
    "meta_as_list": page(meta=[]),
    "no_elements": {"page_bounds": [0, 0, 1, 1]},
}


def parses(data):
    try:
        parse_page(data)
    except PageError:
        return False
    return True


@pytest.mark.parametrize("data", list(GOOD.values()) + list(BAD.values()), ids=[*GOOD, *BAD])
def test_schema_and_parser_agree(validator, data):
    assert validator.is_valid(data) == parses(data)
    assert validator.is_valid(data) == (data in GOOD.values())


def test_examples_and_written_pages_are_valid(validator):
    pages = [path for path in sorted((ROOT / "examples").glob("*.json")) if not path.name.endswith(".coco.json")]
    assert pages
    for path in pages:
        validator.validate(json.loads(path.read_text()))
    for data in GOOD.values():
        validator.validate(parse_page(data).to_dict())


def test_schema_lists_the_packages_labels_and_roles(validator):
    from vellora import LABELS, ROLES

    fields = validator.schema["$defs"]["element"]["properties"]
    assert tuple(fields["label"]["enum"]) == LABELS
    assert tuple(fields["role"]["enum"]) == ROLES
