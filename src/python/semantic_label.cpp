// SemanticLabel: a closed set of five members, never instantiated from Python.
//
// Each member is created once, kept in a process-wide slot per code, and
// attached to the class as an attribute. Equality and hashing stay those of
// plain objects (identity), which, with one object per member, is member
// equality.
#include <atomic>
#include <cstddef>
#include <new>

#include "borrow.hpp"
#include "errors.hpp"
#include "process_slot.hpp"
#include "types.hpp"

namespace vellora::py {
namespace {

struct LabelObject {
    PyObject_HEAD
    BorrowFlag borrow;
    SemanticLabel code;
};

ProcessSlot type_slot;
ProcessSlot member_slots[kLabelCount];
std::atomic<bool> members_attached{false};

// Order in which the members are attached to the class.
constexpr SemanticLabel kMembers[kLabelCount] = {
    SemanticLabel::CrossLayout, SemanticLabel::HorizontalTitle, SemanticLabel::VerticalTitle,
    SemanticLabel::Vision, SemanticLabel::Regular,
};

SemanticLabel read_code(PyObject* self) {
    auto& label = instance<LabelObject>(self);
    SharedHold hold(label.borrow);
    return label.code;
}

PyObject* label_repr(PyObject* self) noexcept {
    return guard_object([&] {
        return checked(PyUnicode_FromFormat("SemanticLabel.%s", label_name(read_code(self))));
    });
}

PyObject* label_int(PyObject* self) noexcept {
    return guard_object([&] { return checked(PyLong_FromLong(static_cast<long>(read_code(self)))); });
}

PyType_Slot label_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_instance<LabelObject>)},
    {Py_tp_repr, reinterpret_cast<void*>(&label_repr)},
    {Py_tp_str, reinterpret_cast<void*>(&label_repr)},
    // int() only: no __index__, so a label never passes for an integer.
    {Py_nb_int, reinterpret_cast<void*>(&label_int)},
    {0, nullptr},
};

// "builtins." makes __module__ "builtins" while __name__ stays bare.
PyType_Spec label_type_def = {
    "builtins.SemanticLabel",
    static_cast<int>(sizeof(LabelObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    label_slots,
};

// The type object without its members.
PyObject* bare_type() {
    return type_slot.get_or_make([] { return checked(PyType_FromSpec(&label_type_def)); });
}

// Puts the members into the class dictionary. The class is immutable from
// Python, so they go straight into its dict; running this twice stores the
// same objects again.
void attach_members(PyObject* type) {
    OwnedRef dict = checked(PyType_GetDict(reinterpret_cast<PyTypeObject*>(type)));
    for (SemanticLabel code : kMembers) {
        OwnedRef member = label_member(code);
        checked_status(PyDict_SetItemString(dict.get(), label_name(code), member.get()));
    }
    PyType_Modified(reinterpret_cast<PyTypeObject*>(type));
}

}  // namespace

PyObject* semantic_label_type() {
    PyObject* type = bare_type();
    if (!members_attached.load(std::memory_order_acquire)) {
        attach_members(type);
        members_attached.store(true, std::memory_order_release);
    }
    return type;
}

OwnedRef label_member(SemanticLabel code) {
    const auto index = static_cast<std::size_t>(code);
    PyObject* member = member_slots[index].get_or_make([&] {
        auto* type = reinterpret_cast<PyTypeObject*>(bare_type());
        OwnedRef object = checked(type->tp_alloc(type, 0));
        auto* label = reinterpret_cast<LabelObject*>(object.get());
        new (&label->borrow) BorrowFlag();
        label->code = code;
        return object;
    });
    return OwnedRef::borrow(member);
}

bool is_semantic_label(PyObject* object) noexcept {
    PyObject* type = type_slot.get();
    return type != nullptr && Py_IS_TYPE(object, reinterpret_cast<PyTypeObject*>(type));
}

SemanticLabel label_code(PyObject* label) { return read_code(label); }

}  // namespace vellora::py
