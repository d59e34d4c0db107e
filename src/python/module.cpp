// Temporary module shell; replaced by the full module surface.
#include <Python.h>

static PyModuleDef_Slot slots[] = {{0, nullptr}};
static PyModuleDef module_def = {PyModuleDef_HEAD_INIT, "_vellora_core", "", 0, nullptr, slots, nullptr, nullptr, nullptr};
PyMODINIT_FUNC PyInit__vellora_core(void) { return PyModuleDef_Init(&module_def); }
