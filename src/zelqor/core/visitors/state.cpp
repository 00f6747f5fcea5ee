// Module state of zelqor.core.visitors and the lookups of its attributes at call time.
#include "zelqor/core/visitors/state.hpp"

#include "common/compat.hpp"
#include "common/interned.hpp"
#include "zelqor/core/visitors/object.hpp"

namespace zelqor::visitors {

State g;

namespace {

const char *const kOpNames[kOpCount] = {
    "visit_variable", "visit_constant", "visit_function_app", "visit_predicate_app",
    "visit_equality", "visit_not", "visit_and", "visit_or", "visit_implies", "visit_iff",
    "visit_forall", "visit_exists", "visit_forall_pred", "visit_exists_pred",
    "visit_forall_func", "visit_exists_func",
};

const char *const kGlobalNames[kGlobalCount] = {
    "Variable", "Constant", "FunctionApp", "PredicateApp", "Equality", "Not", "And", "Or",
    "Implies", "Iff", "Forall", "Exists", "ForallPred", "ExistsPred", "ForallFunc", "ExistsFunc",
    "Term", "Formula", "FreeVariableCollector", "SubstitutionTransformer",
};

// Keyword fields a rebuilt node is given, per node class.
PyObject *kwnames_for(int op) {
    switch (op) {
    case kVariable: return interned_tuple({"id", "kind", "sort"});
    case kConstant: return interned_tuple({"name", "sort"});
    case kFunctionApp: return interned_tuple({"func", "arity", "args", "return_sort"});
    case kPredicateApp: return interned_tuple({"pred", "arity", "args"});
    case kNot: return interned_tuple({"operand"});
    case kEquality: case kAnd: case kOr: case kImplies: case kIff: return interned_tuple({"left", "right"});
    default: return interned_tuple({"variable", "body"});
    }
}

}  // namespace

bool init_state(PyObject *module) {
    for (int k = 0; k < ast::kKindCount; ++k) g.node_types[k] = g.api->types[k];
    if (!intern_names(g.op_names, kOpNames) || !g.globals.init(module, kGlobalNames)) return false;
    for (int i = 0; i < kOpCount; ++i) {
        if ((g.field_kwnames[i] = kwnames_for(i)) == nullptr) return false;
    }
    // The node classes and bases were imported into the module just before;
    // the two visitor classes are recorded once defined.
    for (int i = 0; i < kFreeVariableCollectorName; ++i) {
        if (!g.globals.remember_original(i)) return false;
    }
    if (!intern_names({{&g.str_visit, "visit"}, {&g.str_dispatch_table, "_dispatch_table"},
                       {&g.str_init_subclass, "__init_subclass__"}, {&g.str_name, "name"}, {&g.str_sort, "sort"},
                       {&g.str_id, "id"}, {&g.str_kind, "kind"}, {&g.str_operand, "operand"}, {&g.str_left, "left"},
                       {&g.str_right, "right"}, {&g.str_variable, "variable"}, {&g.str_body, "body"},
                       {&g.str_func, "func"}, {&g.str_pred, "pred"}, {&g.str_arity, "arity"}, {&g.str_args, "args"},
                       {&g.str_return_sort, "return_sort"}, {&g.str_update, "update"}, {&g.str_items, "items"},
                       {&g.notations[kInfix], "infix"}, {&g.notations[kPrefix], "prefix"},
                       {&g.notations[kLatex], "latex"}})) {
        return false;
    }
    g.empty_str = PyUnicode_New(0, 0);
    g.asserts = assertions_enabled();
    return g.empty_str != nullptr;
}

int is_instance_of_global(PyObject *obj, int which) {
    int original = g.globals.is_original(which);
    if (original < 0) return -1;
    PyObject *cls = g.globals.original(which);
    if (original && PyType_CheckExact(cls)) return PyObject_TypeCheck(obj, reinterpret_cast<PyTypeObject *>(cls));
    Ref current = g.globals.get(which);
    if (!current) return -1;
    return PyObject_IsInstance(obj, current.get());
}

PyObject *build_node(int which, PyObject *const *fields, int nfields) {
    Ref cls = g.globals.get(which);
    if (!cls) return nullptr;
    if (has_node_kind(which) && cls.get() == g.globals.original(which)) {
        // Our own class: straight to the checked constructor.
        ast::Kind kind = node_kind(which);
        return g.api->make(kind, ast::StorageOrder(kind, fields, nfields).fields());
    }
    return PyObject_Vectorcall(cls.get(), fields, 0, g.field_kwnames[which]);
}

}  // namespace zelqor::visitors
