// XYCutConfig: the three tuning values of the XY-cut ordering, read-write.
#include <new>

#include "borrow.hpp"
#include "convert.hpp"
#include "errors.hpp"
#include "process_slot.hpp"
#include "types.hpp"

namespace vellora::py {
namespace {

struct ConfigObject {
    PyObject_HEAD
    BorrowFlag borrow;
    OrderConfig config;
};

ProcessSlot type_slot;

OrderConfig read_config(PyObject* self) {
    auto& object = instance<ConfigObject>(self);
    SharedHold hold(object.borrow);
    return object.config;
}

PyObject* config_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return guard_object([&] {
        static const char* const keywords[] = {"min_cut_threshold", "histogram_resolution_scale",
                                               "same_row_tolerance", nullptr};
        PyObject* values[3] = {nullptr, nullptr, nullptr};
        checked_parse(PyArg_ParseTupleAndKeywords(args, kwargs, "|OOO:XYCutConfig", keywords,
                                                   &values[0], &values[1], &values[2]));
        // Omitted values keep the defaults; None is a value like any other
        // and fails the float conversion.
        OrderConfig config;
        float* fields[3] = {&config.min_cut_threshold, &config.histogram_resolution_scale,
                            &config.same_row_tolerance};
        for (int i = 0; i < 3; ++i) {
            if (values[i] != nullptr) {
                *fields[i] = convert_argument(keywords[i], [&] { return to_float(values[i]); });
            }
        }

        OwnedRef object = checked(type->tp_alloc(type, 0));
        auto* created = reinterpret_cast<ConfigObject*>(object.get());
        new (&created->borrow) BorrowFlag();
        new (&created->config) OrderConfig(config);
        return object;
    });
}

struct Field {
    const char* name;
    float OrderConfig::*member;
};

constexpr Field kFields[] = {
    {"min_cut_threshold", &OrderConfig::min_cut_threshold},
    {"histogram_resolution_scale", &OrderConfig::histogram_resolution_scale},
    {"same_row_tolerance", &OrderConfig::same_row_tolerance},
};

template <int Index>
PyObject* get_field(PyObject* self, void*) noexcept {
    return guard_object([&] { return from_float(read_config(self).*kFields[Index].member); });
}

template <int Index>
int set_field(PyObject* self, PyObject* value, void*) noexcept {
    return guard_status([&] {
        if (value == nullptr) {
            raise(PyExc_AttributeError, "property has no deleter");
        }
        // Convert first: a failed conversion leaves the old value in place.
        const float converted =
            convert_argument(kFields[Index].name, [&] { return to_float(value); });
        auto& object = instance<ConfigObject>(self);
        ExclusiveHold hold(object.borrow);
        object.config.*kFields[Index].member = converted;
    });
}

PyGetSetDef config_getset[] = {
    {kFields[0].name, &get_field<0>, &set_field<0>, nullptr, nullptr},
    {kFields[1].name, &get_field<1>, &set_field<1>, nullptr, nullptr},
    {kFields[2].name, &get_field<2>, &set_field<2>, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr char config_doc[] =
    "XYCutConfig(min_cut_threshold=15.0, histogram_resolution_scale=0.5, "
    "same_row_tolerance=10.0)\n--\n\n";

PyType_Slot config_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&config_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_instance<ConfigObject>)},
    {Py_tp_getset, config_getset},
    {Py_tp_doc, const_cast<char*>(config_doc)},
    {0, nullptr},
};

PyType_Spec config_type_def = {
    "builtins.XYCutConfig",
    static_cast<int>(sizeof(ConfigObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    config_slots,
};

}  // namespace

PyObject* xycut_config_type() {
    return type_slot.get_or_make([] { return without_doc(checked(PyType_FromSpec(&config_type_def))); });
}

bool is_xycut_config(PyObject* object) noexcept {
    PyObject* type = type_slot.get();
    return type != nullptr && Py_IS_TYPE(object, reinterpret_cast<PyTypeObject*>(type));
}

OrderConfig order_config(PyObject* config) { return read_config(config); }

}  // namespace vellora::py
