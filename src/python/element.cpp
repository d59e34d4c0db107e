// Element: one layout box, immutable once built.
#include <new>

#include "borrow.hpp"
#include "convert.hpp"
#include "errors.hpp"
#include "process_slot.hpp"
#include "types.hpp"

namespace vellora::py {
namespace {

struct ElementObject {
    PyObject_HEAD
    BorrowFlag borrow;
    ElementRecord record;
};

ProcessSlot type_slot;

ElementRecord read_record(PyObject* self) {
    auto& element = instance<ElementObject>(self);
    SharedHold hold(element.borrow);
    return element.record;
}

PyObject* element_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return guard_object([&] {
        static const char* const keywords[] = {"id", "x1", "y1", "x2", "y2", "label", nullptr};
        PyObject* id = nullptr;
        PyObject* x1 = nullptr;
        PyObject* y1 = nullptr;
        PyObject* x2 = nullptr;
        PyObject* y2 = nullptr;
        PyObject* label = nullptr;
        checked_parse(PyArg_ParseTupleAndKeywords(args, kwargs, "OOOOOO:Element", keywords, &id,
                                                   &x1, &y1, &x2, &y2, &label));
        // In parameter order; the first failure ends construction.
        ElementRecord record;
        record.id = convert_argument("id", [&] { return to_u64(id); });
        record.x1 = convert_argument("x1", [&] { return to_float(x1); });
        record.y1 = convert_argument("y1", [&] { return to_float(y1); });
        record.x2 = convert_argument("x2", [&] { return to_float(x2); });
        record.y2 = convert_argument("y2", [&] { return to_float(y2); });
        record.label = convert_argument("label", [&] {
            if (!is_semantic_label(label)) {
                PyErr_Format(PyExc_TypeError, "'%T' object cannot be converted to 'SemanticLabel'",
                             label);
                throw PythonError{};
            }
            return label_code(label);
        });

        OwnedRef object = checked(type->tp_alloc(type, 0));
        auto* element = reinterpret_cast<ElementObject*>(object.get());
        new (&element->borrow) BorrowFlag();
        new (&element->record) ElementRecord(record);
        return object;
    });
}

PyObject* get_id(PyObject* self, void*) noexcept {
    return guard_object([&] { return from_u64(read_record(self).id); });
}

template <float ElementRecord::*Field>
PyObject* get_coordinate(PyObject* self, void*) noexcept {
    return guard_object([&] { return from_float(read_record(self).*Field); });
}

PyObject* get_label(PyObject* self, void*) noexcept {
    return guard_object([&] { return label_member(read_record(self).label); });
}

// No setters: assignment and deletion raise the interpreter's read-only error.
PyGetSetDef element_getset[] = {
    {"id", &get_id, nullptr, nullptr, nullptr},
    {"x1", &get_coordinate<&ElementRecord::x1>, nullptr, nullptr, nullptr},
    {"y1", &get_coordinate<&ElementRecord::y1>, nullptr, nullptr, nullptr},
    {"x2", &get_coordinate<&ElementRecord::x2>, nullptr, nullptr, nullptr},
    {"y2", &get_coordinate<&ElementRecord::y2>, nullptr, nullptr, nullptr},
    {"label", &get_label, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// A signature line and the separator, nothing else: __text_signature__ is
// filled and __doc__ is None.
constexpr char element_doc[] = "Element(id, x1, y1, x2, y2, label)\n--\n\n";

PyType_Slot element_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&element_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_instance<ElementObject>)},
    {Py_tp_getset, element_getset},
    {Py_tp_doc, const_cast<char*>(element_doc)},
    {0, nullptr},
};

PyType_Spec element_type_def = {
    "builtins.Element",
    static_cast<int>(sizeof(ElementObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    element_slots,
};

}  // namespace

PyObject* element_type() {
    return type_slot.get_or_make([] { return without_doc(checked(PyType_FromSpec(&element_type_def))); });
}

bool is_element(PyObject* object) noexcept {
    PyObject* type = type_slot.get();
    return type != nullptr && Py_IS_TYPE(object, reinterpret_cast<PyTypeObject*>(type));
}

ElementRecord element_record(PyObject* element) { return read_record(element); }

std::size_t append_element_records(PyObject* const* items, std::size_t count, std::vector<ElementRecord>& out) {
    auto* type = reinterpret_cast<PyTypeObject*>(type_slot.get());
    if (type == nullptr) return 0;
    // Nothing ever holds an Element exclusively (it is not written after it
    // is built), so a shared hold could not fail: the records are read
    // without taking one.
    for (std::size_t i = 0; i < count; ++i) {
        if (!Py_IS_TYPE(items[i], type)) return i;
        out.push_back(instance<ElementObject>(items[i]).record);
    }
    return count;
}

}  // namespace vellora::py
