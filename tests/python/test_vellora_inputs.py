"""Page files and detector output in: page lists, JSON Lines, COCO detections, class sets."""

import json

import pytest

from vellora import LABELS, ROLES, Page, PageElement, PageError, order
from vellora.inputs import (
    BUILTIN_CLASSES,
    CLASS_SETS,
    ImportOptions,
    load_class_mapping,
    load_pages,
    pages_from_text,
    pages_to_coco,
)


def detections():
    """Two images, one sized, one known only from its annotations; no annotation ids."""
    return {
        "images": [{"id": 5, "width": 600, "height": 800, "file_name": "scan-5.png"}],
        "categories": [{"id": 1, "name": "Text"}, {"id": 2, "name": "Page-header"}, {"id": 3, "name": "abandon"},
                       {"id": 4, "name": "title"}, {"id": 5, "name": "figure"}],
        "annotations": [
            {"image_id": 5, "category_id": 1, "bbox": [50, 100, 200, 300], "score": 0.9, "area": 60000},
            {"image_id": 5, "category_id": 2, "bbox": [50, 10, 500, 20], "score": 0.8},
            {"image_id": 5, "category_id": 3, "bbox": [290, 760, 20, 20], "score": 0.3},
            {"image_id": 5, "category_id": 3, "bbox": [290, 40, 20, 20], "score": 0.6},
            {"image_id": "p2", "category_id": 4, "bbox": [10, 10, 20, 300], "score": 0.95},
            {"image_id": "p2", "category_id": 5, "bbox": [40, 10, 100, 50]},
        ],
    }


def mixed_pages():
    """Pages using every element and page field a COCO file can carry."""
    return [
        Page((0, 0, 612, 792), (
            PageElement(3, (72, 20, 540, 35), "Regular", category="Page-header", role="header", score=0.5),
            PageElement(1, (72, 60, 540, 90), "HorizontalTitle", "A title", "Title", 0.99, font_size=18.0),
            PageElement(2, (72, 110, 296, 250), "Regular", "body\ntext", extra={"polygon": [1, 2], "area": 7}),
            PageElement(4, (316, 110, 540, 250), "Vision", category="Picture"),
            PageElement(9, (72, 300, 296, 320), "Regular", category="Chart-legend"),
        ), {"source": "a.pdf", "page": 1}),
        Page((-10, -20, 100, 200), (PageElement(2**64 - 1, (0, 0, 0, 0), "CrossLayout"),)),
        Page((0, 0, 10, 10), ()),
    ]


class TestCoco:
    def test_round_trip_gives_back_the_same_pages(self):
        pages = mixed_pages()
        back = pages_from_text(json.dumps(pages_to_coco(pages)), source="out.json")
        assert [(p.page_bounds, p.elements) for p in back] == [(p.page_bounds, p.elements) for p in pages]
        # Each page records the image it came from.
        assert [p.meta for p in back] == [{"image_id": n, **p.meta} for n, p in enumerate(pages, start=1)]
        assert pages_from_text(json.dumps(pages_to_coco(back)), source="again.json") == back

    def test_detections_become_pages(self):
        first, second = pages_from_text(json.dumps(detections()), source="d.json")
        assert first.page_bounds == (0, 0, 600, 800)
        assert first.meta == {"image_id": 5, "file_name": "scan-5.png"}
        assert [(e.id, e.label, e.category, e.role) for e in first.elements] == [
            (1, "Regular", "Text", "body"),
            (2, "Regular", "Page-header", "header"),
            (3, "Regular", "abandon", "footer"),  # furniture by position: lower half
            (4, "Regular", "abandon", "header"),
        ]
        assert first.elements[0].box == (50, 100, 250, 400) and first.elements[0].extra == {"area": 60000}
        # Without a size, the page reaches from the origin to the boxes' extent.
        assert second.page_bounds == (0, 0, 140, 310)
        assert [(e.label, e.category) for e in second.elements] == [("VerticalTitle", "Title"), ("Vision", "Picture")]
        assert order(first) == [2, 4, 1, 3]
        assert order(first, furniture="drop") == [1]

    def test_min_score_drops_weak_detections_only(self):
        options = ImportOptions(min_score=0.7)
        first, second = pages_from_text(json.dumps(detections()), source="d.json", options=options)
        assert [e.id for e in first.elements] == [1, 2]
        assert [e.id for e in second.elements] == [1, 2]  # the unscored figure stays

    def test_annotation_ids_are_kept_when_distinct(self):
        data = detections()
        for number, annotation in enumerate(data["annotations"]):
            annotation["id"] = 100 + number
        first, second = pages_from_text(json.dumps(data), source="d.json")
        assert [e.id for e in first.elements] == [100, 101, 102, 103]
        data["annotations"][1]["id"] = 100
        assert [e.id for e in pages_from_text(json.dumps(data), source="d.json")[0].elements] == [1, 2, 3, 4]


def page_data(*elements, **fields):
    return {"page_bounds": [0, 0, 600, 800], "elements": list(elements), **fields}


class TestPageFiles:
    def test_object_list_and_json_lines_agree(self):
        one = page_data({"id": 1, "box": [0, 0, 10, 10], "label": "Regular"})
        two = page_data({"id": 2, "box": [0, 0, 10, 10], "label": "Vision", "score": 0.4})
        expected = [Page((0, 0, 600, 800), (PageElement(1, (0, 0, 10, 10), "Regular"),)),
                    Page((0, 0, 600, 800), (PageElement(2, (0, 0, 10, 10), "Vision", score=0.4),))]
        assert pages_from_text(json.dumps(one), source="a") == expected[:1]
        assert pages_from_text(json.dumps([one, two]), source="a") == expected
        assert pages_from_text(f"{json.dumps(one)}\n\n{json.dumps(two)}\n", source="a") == expected
        assert pages_from_text("[]", source="a") == []

    @pytest.mark.parametrize("element, label, category, role", [
        ({"label": "Section-header"}, "HorizontalTitle", "Section-header", "body"),
        ({"label": "plain text"}, "Regular", "Text", "body"),
        ({"label": "LIST_ITEM"}, "Regular", "List-item", "body"),
        ({"label": "Table"}, "Regular", "Table", "body"),
        ({"label": "Picture", "category": "Photo"}, "Vision", "Photo", "body"),
        ({"category": "Page-footer"}, "Regular", "Page-footer", "footer"),
        ({"label": "Page-number", "box": [290, 20, 310, 30]}, "Regular", "Page-number", "header"),
        ({"label": "Page-header", "role": "body"}, "Regular", "Page-header", "body"),
        ({"label": "Title", "box": [10, 100, 30, 500]}, "VerticalTitle", "Title", "body"),
    ])
    def test_class_names_become_labels(self, element, label, category, role):
        raw = {"id": 1, "box": [10, 100, 500, 130], **element}
        (page,) = pages_from_text(json.dumps(page_data(raw)), source="a")
        assert (page.elements[0].label, page.elements[0].category, page.elements[0].role) == (label, category, role)

    def test_min_score_also_trims_truth_and_orders(self):
        data = page_data({"id": 1, "box": [0, 0, 10, 10], "label": "Text", "score": 0.2},
                         {"id": 2, "box": [0, 20, 10, 30], "label": "Text", "score": 0.9},
                         truth=[1, 2], orders={"other": [2, 1]})
        (page,) = pages_from_text(json.dumps(data), source="a", options=ImportOptions(min_score=0.5))
        assert [e.id for e in page.elements] == [2] and page.truth == (2,) and page.orders == {"other": (2,)}

    def test_mapping_file_overrides_and_adds_classes(self, tmp_path):
        path = tmp_path / "classes.json"
        path.write_text(json.dumps({"table": {"label": "Vision"}, "Marginalia": {"label": "Regular", "role": "furniture"}}))
        options = ImportOptions(classes=load_class_mapping(path))
        data = page_data({"id": 1, "box": [0, 0, 10, 10], "label": "Table"},
                         {"id": 2, "box": [0, 700, 10, 710], "label": "marginalia"},
                         {"id": 3, "box": [0, 20, 10, 30], "label": "Caption"})
        source = tmp_path / "page.json"
        source.write_text(json.dumps(data))
        (page,) = load_pages(source, options)
        assert [(e.label, e.category, e.role) for e in page.elements] == [
            ("Vision", "Table", "body"), ("Regular", "Marginalia", "footer"), ("Regular", "Caption", "body")]


def test_every_builtin_class_maps_to_a_label_and_role():
    assert {name: len(classes) for name, classes in CLASS_SETS.items() if name != "vellora"} == {
        "DocLayNet": 11, "PubLayNet": 5, "DocStructBench": 10}
    for classes in CLASS_SETS.values():
        for name in classes:
            info = BUILTIN_CLASSES[name]
            assert info.label in LABELS and info.role in (*ROLES, "furniture")
    furniture = sorted(name for name in BUILTIN_CLASSES if BUILTIN_CLASSES[name].role != "body")
    assert furniture == ["Line-number", "Page-footer", "Page-header", "Page-number", "abandon"]


MALFORMED = [
    (lambda: {**detections(), "annotations": [{"image_id": 5, "category_id": 9, "bbox": [0, 0, 1, 1], "id": 3}]},
     ["annotations[0] (id 3, image_id 5)", "category_id 9", "'categories'"]),
    (lambda: {**detections(), "categories": [{"id": 1, "name": "Blob"}], "annotations": detections()["annotations"][:1]},
     ["annotations[0] (image_id 5)", "unknown class 'Blob'", "DocLayNet"]),
    (lambda: {**detections(), "annotations": [{"image_id": 5, "category_id": 1, "bbox": [0, 0, 4, -2]}]},
     ["annotations[0] (image_id 5)", "negative height (-2)"]),
    (lambda: {**detections(), "annotations": [{"image_id": 5, "category_id": 1, "bbox": [0, 0, 4]}]},
     ["annotations[0]", "'bbox' must be 4 finite numbers"]),
    (lambda: {"annotations": []}, ["'categories' array"]),
    (lambda: detections()["annotations"], ["bare list of detections", "'categories'"]),
    (lambda: [page_data(), page_data({"id": 4, "box": [0, 0, 1, 1], "label": "Blob"})],
     ["pages[1]: elements[0] (id 4): 'label': unknown class 'Blob'"]),
    (lambda: [page_data(), page_data({"id": 4, "box": [0, 0, 1, 1], "label": "Text", "score": "high"})],
     ["pages[1]: elements[0] (id 4): 'score' must be a number"]),
]


@pytest.mark.parametrize("make, words", MALFORMED)
def test_malformed_input_is_one_line_naming_file_and_place(make, words):
    with pytest.raises(PageError) as caught:
        pages_from_text(json.dumps(make()), source="in.json")
    message = str(caught.value)
    assert message.startswith("in.json: ") and "\n" not in message
    for word in words:
        assert word in message


def test_bad_json_line_is_named():
    text = json.dumps(page_data()) + "\n" + json.dumps(page_data()) + "\n{\"page_bounds\": [}\n"
    with pytest.raises(PageError, match=r"^in.jsonl: line 3: not valid JSON"):
        pages_from_text(text, source="in.jsonl")


@pytest.mark.parametrize("mapping, words", [
    ([], "must be an object"),
    ({"X": "Text"}, "class 'X': 'label' must be one of"),
    ({"X": {"label": "Regular", "role": "margin"}}, "class 'X': 'role' must be one of body, header, footer, furniture"),
    ({"X": {"label": "Regular", "colour": 1}}, "class 'X': unknown field 'colour'"),
])
def test_malformed_mapping_file(tmp_path, mapping, words):
    path = tmp_path / "classes.json"
    path.write_text(json.dumps(mapping))
    with pytest.raises(PageError, match=f"^{path}: .*{words}"):
        load_class_mapping(path)
