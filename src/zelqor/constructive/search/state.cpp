#include "zelqor/constructive/search/state.hpp"

#include "common/module_init.hpp"

namespace zelqor::search {

State g;

bool init_state() {
    // The capsule is found through the module's attribute path: load it first.
    Ref ast_module = Ref::steal(PyImport_ImportModule("zelqor.core.ast"));
    if (!ast_module) return false;
    g.api = ast::import_api();
    if (g.api == nullptr) return false;
    g.falsum = import_attr("zelqor.constructive.common", "FALSUM");
    g.verum = import_attr("zelqor.constructive.common", "VERUM");
    g.invalid_formula_error = import_attr("zelqor.core.exceptions", "InvalidFormulaError");
    g.zero = PyLong_FromLong(0);
    return g.zero != nullptr && g.falsum != nullptr && g.verum != nullptr && g.invalid_formula_error != nullptr;
}

}  // namespace zelqor::search
