// Module `zelqor.tptp._native`: the TPTP reader and writer, and the passes
// that prepare a problem for clausification. The public interface is the
// Python package zelqor.tptp.
#include "common/module_init.hpp"
#include "zelqor/tptp/native/functions.hpp"
#include "zelqor/tptp/native/state.hpp"

namespace zelqor::tptp {
namespace {

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "zelqor.tptp._native",
    "TPTP reading and writing in C++; use the zelqor.tptp package.",
    -1,
    kFunctions,
    nullptr, nullptr, nullptr, nullptr,
};

PyObject *module_object = nullptr;

PyObject *create_module() {
    Ref module = Ref::steal(PyModule_Create(&module_def));
    if (!module || !init_state(module.get())) return nullptr;
    module_object = new_ref(module.get());
    return module.release();
}

}  // namespace
}  // namespace zelqor::tptp

PyMODINIT_FUNC PyInit__native(void) {
    if (zelqor::tptp::module_object != nullptr) return zelqor::new_ref(zelqor::tptp::module_object);
    return zelqor::tptp::create_module();
}
