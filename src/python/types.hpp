// The three classes of the module: accessors for their process-wide type
// objects and for the native records their instances carry.
//
// Each type object is created on first use and lives until the process ends.
// Record reads take a shared hold on the object's access counter and throw
// BorrowConflict while another thread holds it exclusively.
#pragma once

#include <Python.h>

#include <cstddef>
#include <type_traits>
#include <vector>

#include "errors.hpp"
#include "owned_ref.hpp"
#include "vellora/records.hpp"

namespace vellora::py {

// SemanticLabel: five process-wide members, one per code.
PyObject* semantic_label_type();
OwnedRef label_member(SemanticLabel code);
bool is_semantic_label(PyObject* object) noexcept;
SemanticLabel label_code(PyObject* label);

// Element: an immutable ElementRecord.
PyObject* element_type();
bool is_element(PyObject* object) noexcept;
ElementRecord element_record(PyObject* element);
// Appends the records of items[0 .. count) to `out` for as long as they are
// Elements; returns how many were. Throws BorrowConflict like element_record.
std::size_t append_element_records(PyObject* const* items, std::size_t count, std::vector<ElementRecord>& out);

// XYCutConfig: a mutable OrderConfig.
PyObject* xycut_config_type();
bool is_xycut_config(PyObject* object) noexcept;
OrderConfig order_config(PyObject* config);

// Deallocation shared by the three classes, whose instance structs own no
// Python references and need no destructor. Heap-type instances hold a
// reference to their type, dropped here.
template <class Instance>
void dealloc_instance(PyObject* self) noexcept {
    static_assert(std::is_trivially_destructible_v<Instance>);
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

// A heap type created with a signature-only tp_doc gets "" as __doc__; the
// signature stays available as __text_signature__ while __doc__ becomes None.
inline OwnedRef without_doc(OwnedRef type) {
    OwnedRef dict = checked(PyType_GetDict(reinterpret_cast<PyTypeObject*>(type.get())));
    checked_status(PyDict_SetItemString(dict.get(), "__doc__", Py_None));
    PyType_Modified(reinterpret_cast<PyTypeObject*>(type.get()));
    return type;
}

// Typed view of an instance of one of our heap types.
template <class Instance>
Instance& instance(PyObject* self) noexcept {
    return *reinterpret_cast<Instance*>(self);
}

}  // namespace vellora::py
