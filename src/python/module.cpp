// The `_vellora_core` module: initialisation, the four module functions and
// the conversion of their arguments into native records.
#include <Python.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "convert.hpp"
#include "errors.hpp"
#include "log_bridge.hpp"
#include "owned_ref.hpp"
#include "types.hpp"
#include "vellora/diagnostics.hpp"
#include "vellora/ostrel.hpp"
#include "vellora/paper.hpp"
#include "vellora/records.hpp"

namespace vellora::py {
namespace {

// --- argument conversion ------------------------------------------------------

// Room reserved up front is capped: a sequence may report any length.
constexpr Py_ssize_t kMaxReserve = Py_ssize_t{1} << 16;

// The items of an exact list or tuple, read in place: the same records and
// the same first error as iterating it. Reading an item runs no Python code;
// a list is locked meanwhile (free-threaded builds; nothing with the GIL),
// so no other thread changes it under the loop.
std::vector<ElementRecord> convert_items(PyObject* sequence) {
    std::vector<ElementRecord> records;
    OwnedRef wrong;
    std::exception_ptr failure;
    Py_BEGIN_CRITICAL_SECTION(sequence);
    try {
        const auto length = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(sequence));
        PyObject* const* items = PySequence_Fast_ITEMS(sequence);
        records.reserve(length);
        const std::size_t read = append_element_records(items, length, records);
        if (read < length) wrong = OwnedRef::borrow(items[read]);
    } catch (...) {
        failure = std::current_exception();
    }
    Py_END_CRITICAL_SECTION();
    if (failure) std::rethrow_exception(failure);
    if (wrong) {
        PyErr_Format(PyExc_TypeError, "'%T' object cannot be converted to 'Element'", wrong.get());
        throw PythonError{};
    }
    return records;
}

std::vector<ElementRecord> convert_elements(PyObject* elements) {
    // A str is a sequence, but never one of elements.
    if (PyUnicode_Check(elements)) {
        PyErr_Format(PyExc_TypeError, "'%T' object cannot be converted to 'Sequence' of 'Element'",
                     elements);
        throw PythonError{};
    }
    if (!PySequence_Check(elements)) {
        PyErr_Format(PyExc_TypeError, "'%T' object cannot be converted to 'Sequence'", elements);
        throw PythonError{};
    }
    if (PyList_CheckExact(elements) || PyTuple_CheckExact(elements)) {
        return convert_items(elements);
    }
    std::vector<ElementRecord> records;
    const Py_ssize_t length = PySequence_Size(elements);
    if (length < 0) {
        PyErr_Clear();  // only a size hint
    } else {
        records.reserve(static_cast<std::size_t>(std::min(length, kMaxReserve)));
    }
    OwnedRef iterator = checked(PyObject_GetIter(elements));
    while (OwnedRef item = OwnedRef::steal(PyIter_Next(iterator.get()))) {
        if (!is_element(item.get())) {
            PyErr_Format(PyExc_TypeError, "'%T' object cannot be converted to 'Element'",
                         item.get());
            throw PythonError{};
        }
        records.push_back(element_record(item.get()));
    }
    if (PyErr_Occurred()) {
        throw PythonError{};
    }
    return records;
}

PageBox convert_page_bounds(PyObject* bounds) {
    if (!PyTuple_Check(bounds)) {
        PyErr_Format(PyExc_TypeError, "'%T' object cannot be converted to 'tuple'", bounds);
        throw PythonError{};
    }
    const Py_ssize_t length = PyTuple_GET_SIZE(bounds);
    if (length != 4) {
        PyErr_Format(PyExc_ValueError, "expected tuple of length 4, but got tuple of length %zd",
                     length);
        throw PythonError{};
    }
    PageBox page;
    page.x1 = to_float(PyTuple_GET_ITEM(bounds, 0));
    page.y1 = to_float(PyTuple_GET_ITEM(bounds, 1));
    page.x2 = to_float(PyTuple_GET_ITEM(bounds, 2));
    page.y2 = to_float(PyTuple_GET_ITEM(bounds, 3));
    return page;
}

std::optional<OrderConfig> convert_config(PyObject* config) {
    if (config == nullptr || config == Py_None) {
        return std::nullopt;
    }
    if (!is_xycut_config(config)) {
        PyErr_Format(PyExc_TypeError, "'%T' object cannot be converted to 'XYCutConfig'", config);
        throw PythonError{};
    }
    return order_config(config);
}

struct CallArguments {
    std::vector<ElementRecord> elements;
    PageBox page;
    std::optional<OrderConfig> config;
};

// Binds and converts in parameter order; the first failure raises.
// `format` is "OO|O:<function name>", so binding errors name the function.
// Calls with two or three positional arguments (the usual ones) are bound
// here directly; any other call is bound by the interpreter's parser, so
// every binding error reads the same.
CallArguments convert_call(const char* format, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    static const char* const keywords[] = {"elements", "page_bounds", "config", nullptr};
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    const Py_ssize_t nkwargs = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    PyObject* elements = nullptr;
    PyObject* page_bounds = nullptr;
    PyObject* config = nullptr;
    OwnedRef positional;
    OwnedRef named;
    if (nkwargs == 0 && (nargs == 2 || nargs == 3)) {
        elements = args[0];
        page_bounds = args[1];
        config = nargs == 3 ? args[2] : nullptr;
    } else {
        positional = checked(PyTuple_New(nargs));
        for (Py_ssize_t i = 0; i < nargs; ++i) {
            PyTuple_SET_ITEM(positional.get(), i, Py_NewRef(args[i]));
        }
        if (nkwargs > 0) {
            named = checked(PyDict_New());
            for (Py_ssize_t i = 0; i < nkwargs; ++i) {
                checked_status(PyDict_SetItem(named.get(), PyTuple_GET_ITEM(kwnames, i), args[nargs + i]));
            }
        }
        checked_parse(PyArg_ParseTupleAndKeywords(positional.get(), named.get(), format, keywords, &elements,
                                                  &page_bounds, &config));
    }
    CallArguments converted;
    converted.elements = convert_argument("elements", [&] { return convert_elements(elements); });
    converted.page = convert_argument("page_bounds", [&] { return convert_page_bounds(page_bounds); });
    converted.config = convert_argument("config", [&] { return convert_config(config); });
    return converted;
}

OwnedRef id_list(const IdList& ids) {
    OwnedRef list = checked(PyList_New(static_cast<Py_ssize_t>(ids.size())));
    for (std::size_t i = 0; i < ids.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), from_u64(ids[i]).release());
    }
    return list;
}

// --- the compute functions ------------------------------------------------------

enum class Variant { Paper, Ostrel };

// What distinguishes the three compute functions.
struct ComputeFunction {
    Variant variant;
    const char* format;          // argument format naming the function
    std::uint32_t line;          // line of its DEBUG record
    const char* message_prefix;  // its DEBUG message, before the count
};

constexpr ComputeFunction kComputeOrder{Variant::Paper, "OO|O:compute_order", 219,
                                        "compute_order (paper): "};
constexpr ComputeFunction kComputeOrderPaper{Variant::Paper, "OO|O:compute_order_paper", 231,
                                             "compute_order_paper: "};
constexpr ComputeFunction kComputeOrderOstrel{Variant::Ostrel, "OO|O:compute_order_ostrel", 242,
                                              "compute_order_ostrel: "};

OwnedRef compute(const ComputeFunction& function, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    log_bridge::drain_deferred_releases();
    CallArguments call = convert_call(function.format, args, nargsf, kwnames);

    log_bridge::CallSink call_sink;
    const DiagnosticSink sink = call_sink.sink();
    const RecordSite site{Level::Debug, "velloray", "vellora_core", "src\\lib", function.line};
    const std::size_t count = call.elements.size();
    sink.emit(site, [&] {
        return function.message_prefix + std::to_string(count) + " elements";
    });

    IdList ids = function.variant == Variant::Paper
                     ? compute_paper_order(std::move(call.elements), call.page, call.config, sink)
                     : sort_elements(std::move(call.elements), sink);
    // An exception raised inside logging (the first one of this call; later
    // records keep it) is the call's outcome: the call raises it instead of
    // returning a list beside a pending exception.
    if (PyErr_Occurred()) {
        throw PythonError{};
    }
    return id_list(ids);
}

PyObject* compute_order(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    return guard_object([&] { return compute(kComputeOrder, args, nargsf, kwnames); });
}

PyObject* compute_order_paper(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    return guard_object([&] { return compute(kComputeOrderPaper, args, nargsf, kwnames); });
}

PyObject* compute_order_ostrel(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    return guard_object([&] { return compute(kComputeOrderOstrel, args, nargsf, kwnames); });
}

PyObject* reset_log_cache(PyObject*, PyObject*) noexcept {
    return guard_object([] {
        log_bridge::drain_deferred_releases();
        log_bridge::reset_cache();
        return OwnedRef::borrow(Py_None);
    });
}

// --- module definition ------------------------------------------------------------

constexpr char reset_log_cache_doc[] =
    "reset_log_cache()\n--\n\n"
    "Restablece la caché de niveles de log del puente de logging.\n"
    "\n"
    "El puente guarda en caché los niveles de log de Python para evitar una\n"
    "sobrecarga en cada llamada. Llame a esta función después de reconfigurar\n"
    "logging en Python para que los cambios sean visibles para el código nativo.";

template <auto Function>
constexpr PyCFunction as_cfunction() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Function));
}

PyMethodDef function_defs[] = {
    {"reset_log_cache", as_cfunction<&reset_log_cache>(), METH_NOARGS, reset_log_cache_doc},
    {"compute_order_ostrel", as_cfunction<&compute_order_ostrel>(), METH_FASTCALL | METH_KEYWORDS,
     "compute_order_ostrel(elements, page_bounds, config=None)\n--\n\n"},
    {"compute_order", as_cfunction<&compute_order>(), METH_FASTCALL | METH_KEYWORDS,
     "compute_order(elements, page_bounds, config=None)\n--\n\n"},
    {"compute_order_paper", as_cfunction<&compute_order_paper>(), METH_FASTCALL | METH_KEYWORDS,
     "compute_order_paper(elements, page_bounds, config=None)\n--\n\n"},
};

// Appends `name` to __all__ (creating the list if needed), then sets the
// attribute.
void add_public(PyObject* module, const char* name, PyObject* value) {
    PyObject* dict = PyModule_GetDict(module);
    PyObject* all = nullptr;
    checked_status(PyDict_GetItemStringRef(dict, "__all__", &all));
    OwnedRef all_list = OwnedRef::steal(all);
    if (!all_list) {
        all_list = checked(PyList_New(0));
        checked_status(PyDict_SetItemString(dict, "__all__", all_list.get()));
    }
    OwnedRef name_text = checked(PyUnicode_FromString(name));
    checked_status(PyList_Append(all_list.get(), name_text.get()));
    checked_status(PyModule_AddObjectRef(module, name, value));
}

int exec_module(PyObject* module) noexcept {
    return guard_status([&] {
        if (!PyModule_Check(module)) {
            raise(PyExc_TypeError, "expected a module object");
        }
        internal_fault_type();
        log_bridge::install();

        OwnedRef module_name = checked(PyModule_GetNameObject(module));
        for (PyMethodDef& def : function_defs) {
            OwnedRef function = checked(PyCFunction_NewEx(&def, module, module_name.get()));
            add_public(module, def.ml_name, function.get());
        }
        add_public(module, "XYCutConfig", xycut_config_type());
        add_public(module, "SemanticLabel", semantic_label_type());
        add_public(module, "Element", element_type());
        // Reachable for `except`, but not part of the star-import surface.
        checked_status(PyModule_AddObjectRef(module, "InternalFault", internal_fault_type()));
    });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    // The type objects and the logging bridge are process-wide, so the
    // module can live in one interpreter only.
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_vellora_core",
    "",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace vellora::py

PyMODINIT_FUNC PyInit__vellora_core(void) { return PyModuleDef_Init(&vellora::py::module_def); }
