// Module `zelqor.core.visitors`: imports, the type variable T and the
// visitor classes ASTVisitor, ASTTransformer, DepthVisitor, SizeVisitor,
// FreeVariableCollector, SubstitutionTransformer and ExportVisitor.
#include "common/boundary.hpp"
#include "common/module_init.hpp"
#include "zelqor/core/visitors/classes.hpp"
#include "zelqor/core/visitors/object.hpp"

namespace zelqor::visitors {
namespace {

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "zelqor.core.visitors",
    "Visitors over syntax trees: dispatch on the node class, rebuilding, substitution, measures and export.",
    -1,
    nullptr,
    nullptr, nullptr, nullptr, nullptr,
};

PyObject *create_module() {
    Ref module = Ref::steal(PyModule_Create(&module_def));
    if (!module) return nullptr;
    PyObject *m = module.get();
    bool ok = import_names(m, "abc", {"ABC", "abstractmethod"}) &&
              import_names(m, "typing",
                           {"Generic", "TypeVar", "Union", "Any", "Set", "Dict", "Optional", "Tuple", "List"}) &&
              import_names(m, "zelqor.core.ast",
                           {"Term", "Variable", "Constant", "FunctionApp", "Formula", "PredicateApp", "Equality",
                            "Not", "And", "Or", "Implies", "Iff", "Forall", "Exists"}) &&
              import_names(m, "zelqor.sol.ast_ext",
                           {"ForallPred", "ExistsPred", "ForallFunc", "ExistsFunc", "PredicateVariable",
                            "FunctionVariable"}) &&
              import_names(m, "zelqor.core.sorts",
                           {"Sort", "PrimitiveSort", "ParameterizedSort", "FunctionSort", "Ind", "Nat", "Bool"});
    if (!ok) return nullptr;
    g.api = ast::import_api();
    if (g.api == nullptr) return nullptr;
    g.module = m;  // borrowed until the body has run
    if (!init_state(m) || !create_base_types(m) || !define_classes(m)) {
        g.module = nullptr;
        return nullptr;
    }
    g.module = new_ref(m);
    return module.release();
}

}  // namespace
}  // namespace zelqor::visitors

PyMODINIT_FUNC PyInit_visitors(void) {
    if (zelqor::visitors::g.module != nullptr) return zelqor::new_ref(zelqor::visitors::g.module);
    return zelqor::shield(zelqor::visitors::create_module);
}
