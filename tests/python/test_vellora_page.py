"""The page format: parsing, validation messages, round trips."""

import copy
import json

import pytest

from vellora import LABELS, Page, PageElement, PageError, load_page, parse_page


def good_page():
    return {
        "page_bounds": [0, 0, 612, 792],
        "elements": [
            {"id": 1, "box": [72, 60, 540, 90], "label": "HorizontalTitle"},
            {"id": 2, "box": [72, 110, 296, 250], "label": "Regular", "text": "left column"},
            {"id": 7, "box": [316, 110, 540, 250], "label": "Vision"},
        ],
    }


def broken(path, value):
    """good_page() with the item at `path` (a tuple of keys) replaced, or deleted for ...."""
    data = good_page()
    target = data
    for key in path[:-1]:
        target = target[key]
    if value is ...:
        del target[path[-1]]
    else:
        target[path[-1]] = value
    return data


class TestParse:
    def test_good_page(self):
        page = parse_page(good_page())
        assert page.page_bounds == (0.0, 0.0, 612.0, 792.0)
        assert [e.id for e in page.elements] == [1, 2, 7]
        assert page.elements[1] == PageElement(2, (72.0, 110.0, 296.0, 250.0), "Regular", "left column")
        assert page.elements[0].text is None
        assert page.width == 612 and page.height == 792

    def test_every_label_is_accepted(self):
        data = good_page()
        data["elements"] = [{"id": i, "box": [0, 0, 1, 1], "label": label} for i, label in enumerate(LABELS)]
        assert [e.label for e in parse_page(data).elements] == list(LABELS)

    def test_empty_page_and_degenerate_boxes(self):
        assert parse_page({"page_bounds": [0, 0, 10, 10], "elements": []}).elements == ()
        page = parse_page({"page_bounds": [0, 0, 10, 10], "elements": [{"id": 0, "box": [5, 5, 5, 5], "label": "Regular"}]})
        assert page.elements[0].width == 0

    def test_largest_id(self):
        data = broken(("elements", 0, "id"), 2**64 - 1)
        assert parse_page(data).elements[0].id == 2**64 - 1

    def test_round_trip(self):
        page = parse_page(good_page())
        assert parse_page(json.loads(page.to_json())) == page
        assert page.to_dict() == {**good_page(), "page_bounds": [0.0, 0.0, 612.0, 792.0],
                                  "elements": [{**e, "box": [float(v) for v in e["box"]]} for e in good_page()["elements"]]}

    def test_input_is_not_modified(self):
        data = good_page()
        before = copy.deepcopy(data)
        parse_page(data)
        assert data == before

    def test_elements_in_and_lookup(self):
        page = parse_page(good_page())
        assert [e.id for e in page.elements_in([7, 1, 2])] == [7, 1, 2]
        assert page.element(7).label == "Vision"
        with pytest.raises(KeyError):
            page.element(3)


# (change to the good page, words that the message must contain)
MALFORMED = [
    (lambda: [], ["page must be an object", "array"]),
    (lambda: broken(("page_bounds",), ...), ["missing field 'page_bounds'"]),
    (lambda: broken(("elements",), ...), ["missing field 'elements'"]),
    (lambda: {**good_page(), "element": []}, ["unknown field 'element'"]),
    (lambda: broken(("page_bounds",), [0, 0, 612]), ["'page_bounds'", "4 numbers", "got 3"]),
    (lambda: broken(("page_bounds",), "0 0 612 792"), ["'page_bounds'", "array of 4 numbers", "string"]),
    (lambda: broken(("page_bounds",), [0, 0, "612", 792]), ["'page_bounds'[2]", "number", "string"]),
    (lambda: broken(("page_bounds",), [0, 0, 0, 792]), ["'page_bounds'", "right (0)", "left (0)"]),
    (lambda: broken(("page_bounds",), [0, 800, 612, 792]), ["'page_bounds'", "bottom (792)", "top (800)"]),
    (lambda: broken(("page_bounds",), [0, 0, float("inf"), 792]), ["'page_bounds'[2]", "finite"]),
    (lambda: broken(("elements",), {"id": 1}), ["'elements' must be an array", "object"]),
    (lambda: broken(("elements", 1), "Regular"), ["elements[1]:", "must be an object", "string"]),
    (lambda: broken(("elements", 1, "label"), "Text"), ["elements[1] (id 2)", "'label'", "Regular", "'Text'"]),
    (lambda: broken(("elements", 1, "label"), 4), ["elements[1] (id 2)", "'label' must be a string", "integer"]),
    (lambda: broken(("elements", 2, "box"), ...), ["elements[2] (id 7)", "missing field 'box'"]),
    (lambda: broken(("elements", 2, "box"), [1, 2, 3]), ["elements[2] (id 7)", "'box'", "got 3"]),
    (lambda: broken(("elements", 2, "box"), [316, 110, None, 250]), ["elements[2] (id 7)", "'box'[2]", "null"]),
    (lambda: broken(("elements", 2, "box"), [316, 110, True, 250]), ["elements[2] (id 7)", "'box'[2]", "boolean"]),
    (lambda: broken(("elements", 2, "box"), [316, 110, float("nan"), 250]), ["elements[2] (id 7)", "finite"]),
    (lambda: broken(("elements", 2, "box"), [540, 110, 316, 250]), ["elements[2] (id 7)", "x2 (316)", "x1 (540)"]),
    (lambda: broken(("elements", 2, "box"), [316, 250, 540, 110]), ["elements[2] (id 7)", "y2 (110)", "y1 (250)"]),
    (lambda: broken(("elements", 0, "id"), ...), ["elements[0]:", "missing field 'id'"]),
    (lambda: broken(("elements", 0, "id"), "1"), ["elements[0]", "'id' must be an integer", "string"]),
    (lambda: broken(("elements", 0, "id"), 1.0), ["elements[0]", "'id' must be an integer", "number"]),
    (lambda: broken(("elements", 0, "id"), -1), ["elements[0] (id -1)", "between 0 and 2**64-1"]),
    (lambda: broken(("elements", 0, "id"), 2**64), ["elements[0]", "between 0 and 2**64-1"]),
    (lambda: broken(("elements", 2, "id"), 2), ["elements[2] (id 2)", "duplicate id 2", "elements[1]"]),
    (lambda: {**good_page(), "elements": [{"id": 1, "box": [0, 0, 1, 1], "lable": "Regular"}]},
     ["elements[0] (id 1)", "missing field 'label'", "'lable'"]),
    (lambda: broken(("elements", 1, "text"), 5), ["elements[1] (id 2)", "'text' must be a string"]),
    (lambda: broken(("meta",), [1]), ["'meta' must be an object"]),
    (lambda: broken(("elements", 1, "role"), "furniture"), ["elements[1] (id 2)", "'role'", "header", "'furniture'"]),
    (lambda: broken(("elements", 1, "role"), None), ["elements[1] (id 2)", "'role' must be a string"]),
    (lambda: broken(("elements", 1, "score"), "0.9"), ["elements[1] (id 2)", "'score' must be a number", "string"]),
    (lambda: broken(("elements", 1, "score"), float("nan")), ["elements[1] (id 2)", "'score' must be finite"]),
    (lambda: broken(("elements", 1, "font_size"), 0), ["elements[1] (id 2)", "'font_size' must be positive"]),
    (lambda: broken(("elements", 1, "category"), 3), ["elements[1] (id 2)", "'category' must be a string"]),
    (lambda: broken(("truth",), "1 2 7"), ["'truth' must be an array", "string"]),
    (lambda: broken(("truth",), [1, 9]), ["'truth'[1]", "no element has id 9"]),
    (lambda: broken(("truth",), [1, 2, 1]), ["'truth'[2]", "id 1 is listed twice"]),
    (lambda: broken(("truth",), [1, True]), ["'truth'[1]", "integer id", "boolean"]),
    (lambda: broken(("orders",), [[1, 2]]), ["'orders' must be an object", "array"]),
    (lambda: broken(("orders",), {"pdftotext": [7, 3]}), ["'orders'['pdftotext'][1]", "no element has id 3"]),
    (lambda: broken(("orders",), {"pdftotext": 7}), ["'orders'['pdftotext']", "array of element ids"]),
]


@pytest.mark.parametrize("make, words", MALFORMED)
def test_malformed_pages_name_the_field_and_element(make, words):
    with pytest.raises(PageError) as caught:
        parse_page(make())
    message = str(caught.value)
    assert "\n" not in message
    for word in words:
        assert word in message
    assert isinstance(caught.value, ValueError)


def test_source_prefixes_the_message():
    with pytest.raises(PageError) as caught:
        parse_page(broken(("elements", 1, "label"), "Text"), source="p.json")
    assert str(caught.value).startswith("p.json: elements[1] (id 2)")
    assert caught.value.source == "p.json"
    assert caught.value.message.startswith("elements[1]")


class TestLoad:
    def test_load_file(self, tmp_path):
        path = tmp_path / "page.json"
        path.write_text(json.dumps(good_page()))
        assert load_page(path) == parse_page(good_page())
        assert load_page(str(path)) == parse_page(good_page())

    def test_invalid_json_names_file_and_line(self, tmp_path):
        path = tmp_path / "bad.json"
        path.write_text('{"page_bounds": [0, 0, 1, 1],\n "elements": [,]}')
        with pytest.raises(PageError) as caught:
            load_page(path)
        assert str(caught.value).startswith(f"{path}: not valid JSON")
        assert "line 2" in str(caught.value)

    def test_malformed_file_names_file(self, tmp_path):
        path = tmp_path / "bad.json"
        path.write_text(json.dumps(broken(("elements", 0, "box"), [0, 0])))
        with pytest.raises(PageError, match=r"bad\.json: elements\[0\] \(id 1\): 'box'"):
            load_page(path)

    @pytest.mark.parametrize("content, words", [
        (b'\xff\xfe{}', "not UTF-8"),
        (b"[" * 100_000 + b"]" * 100_000, "nested too deeply"),
        (b'{"page_bounds": [0, 0, 1, ' + b"9" * 5000 + b'], "elements": []}', "not valid JSON"),
    ], ids=["latin1", "deep", "digits"])
    def test_unparsable_file_is_page_error(self, tmp_path, content, words):
        path = tmp_path / "bad.json"
        path.write_bytes(content)
        with pytest.raises(PageError, match=words):
            load_page(path)

    def test_missing_file_is_os_error(self, tmp_path):
        with pytest.raises(FileNotFoundError):
            load_page(tmp_path / "nope.json")


class TestDirectConstruction:
    def test_page_checks_its_elements(self):
        element = PageElement(1, (0, 0, 1, 1), "Regular")
        with pytest.raises(PageError, match="duplicate id 1"):
            Page((0, 0, 10, 10), (element, element))
        with pytest.raises(PageError, match=r"elements\[0\] \(id 1\): 'label'"):
            Page((0, 0, 10, 10), (PageElement(1, (0, 0, 1, 1), "Body"),))
        with pytest.raises(PageError, match="page_bounds"):
            Page((0, 0, -1, 10), ())


def detector_page():
    """A page as a layout detector writes it: scores, class names, furniture and fields of its own."""
    return {
        "page_bounds": [0.0, 0.0, 612.0, 792.0],
        "elements": [
            {"id": 1, "box": [72.0, 20.0, 540.0, 35.0], "label": "Regular", "category": "Page-header",
             "score": 0.91, "role": "header"},
            {"id": 2, "box": [72.0, 60.0, 540.0, 90.0], "label": "HorizontalTitle", "text": "Title",
             "category": "Title", "score": 0.99, "font_size": 18.5, "detector": {"model": "m", "rank": 1},
             "polygon": [72, 60, 540, 60, 540, 90, 72, 90]},
            {"id": 3, "box": [300.0, 760.0, 312.0, 772.0], "label": "Regular", "category": "Page-footer",
             "role": "footer", "score": 1},
        ],
        "truth": [1, 2, 3],
        "orders": {"pdftotext": [2, 1]},
        "meta": {"source": "scan.png"},
    }


class TestDetectorFields:
    def test_fields_are_read_and_written_back_unchanged(self):
        page = parse_page(detector_page())
        header, title, footer = page.elements
        assert (header.category, header.score, header.role, header.is_furniture) == ("Page-header", 0.91, "header", True)
        assert (title.font_size, title.role, title.is_furniture) == (18.5, "body", False)
        assert title.extra == {"detector": {"model": "m", "rank": 1}, "polygon": [72, 60, 540, 60, 540, 90, 72, 90]}
        assert page.truth == (1, 2, 3) and page.orders == {"pdftotext": (2, 1)}
        assert page.to_dict() == detector_page()
        assert parse_page(json.loads(page.to_json())) == page

    def test_defaults_are_left_out_of_the_json(self):
        assert PageElement(1, (0, 0, 1, 1), "Regular").to_dict() == {"id": 1, "box": [0, 0, 1, 1], "label": "Regular"}
        assert "truth" not in parse_page(good_page()).to_dict()

    def test_page_level_misspelling_is_still_rejected(self):
        with pytest.raises(PageError, match="unknown field 'truht'.*meta"):
            parse_page({**good_page(), "truht": [1]})

    def test_direct_construction_checks_the_new_fields(self):
        with pytest.raises(PageError, match="extra field 'score' clashes"):
            Page((0, 0, 10, 10), (PageElement(1, (0, 0, 1, 1), "Regular", extra={"score": 1}),))
        with pytest.raises(PageError, match="'truth'.*no element has id 2"):
            Page((0, 0, 10, 10), (PageElement(1, (0, 0, 1, 1), "Regular"),), truth=(2,))
        page = Page((0, 0, 10, 10), (PageElement(1, (0, 0, 1, 1), "Regular"),), truth=[1], orders={"x": [1]})
        assert page.truth == (1,) and page.orders == {"x": (1,)}
        assert hash(PageElement(1, (0, 0, 1, 1), "Regular", extra={"a": [1]})) is not None
