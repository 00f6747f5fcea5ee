#include "zelqor/constructive/kripke/state.hpp"

#include "common/frozen_record.hpp"
#include "common/interned.hpp"
#include "common/module_init.hpp"

namespace zelqor::kripke {

State g;

namespace {

const char *const kImportedNames[kImportedCount] = {
    "Not", "And", "Or", "Implies", "Iff", "_is_falsum", "_is_verum", "_is_atomic", "to_string",
};
const char *const kCommonNames[kCommonCount] = {"FALSUM", "VERUM", "PredicateApp"};

}  // namespace

bool init_state(PyObject *module) {
    g.api = ast::import_api();
    if (g.api == nullptr || !g.globals.init(module, kImportedNames)) return false;
    for (int i = 0; i < kImportedCount; ++i) {
        if (!g.globals.remember_original(i)) return false;
    }
    Ref common = Ref::steal(PyImport_ImportModule("zelqor.constructive.common"));
    return common && g.common.init(common.get(), kCommonNames) &&
           import_frozen_instance_error() &&
           (g.newobj = import_attr("copyreg", "__newobj__")) &&
           intern_names({{&g.str_add, "add"}, {&g.str_name, "name"}, {&g.str_left, "left"},
                         {&g.str_right, "right"}, {&g.str_operand, "operand"}, {&g.str_worlds, "worlds"},
                         {&g.str_relations, "relations"}, {&g.str_valuations, "valuations"},
                         {&g.str_add_world, "add_world"}, {&g.str_accessible_worlds, "accessible_worlds"},
                         {&g.str_evaluate, "evaluate"}, {&g.str_closure, "_compute_transitive_closure"},
                         {&g.str_monotonicity, "_enforce_monotonicity"}, {&g.str_to_string, "to_string"}});
}

}  // namespace zelqor::kripke
