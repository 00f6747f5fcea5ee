// Module state of zelqor.core.visitors and the lookups of its attributes at call time.
#include "zelqor/core/visitors/state.hpp"

#include "common/compat.hpp"

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
    case kVariable: return Py_BuildValue("(sss)", "id", "kind", "sort");
    case kConstant: return Py_BuildValue("(ss)", "name", "sort");
    case kFunctionApp: return Py_BuildValue("(ssss)", "func", "arity", "args", "return_sort");
    case kPredicateApp: return Py_BuildValue("(sss)", "pred", "arity", "args");
    case kNot: return Py_BuildValue("(s)", "operand");
    case kEquality: case kAnd: case kOr: case kImplies: case kIff: return Py_BuildValue("(ss)", "left", "right");
    default: return Py_BuildValue("(ss)", "variable", "body");
    }
}

PyObject *intern(const char *s) { return PyUnicode_InternFromString(s); }

}  // namespace

bool init_state(PyObject *module) {
    g.dict = PyModule_GetDict(module);
    for (int k = 0; k < ast::kKindCount; ++k) g.node_types[k] = g.api->types[k];
    for (int i = 0; i < kOpCount; ++i) {
        if ((g.op_names[i] = intern(kOpNames[i])) == nullptr) return false;
        if ((g.field_kwnames[i] = kwnames_for(i)) == nullptr) return false;
    }
    for (int i = 0; i < kGlobalCount; ++i) {
        if ((g.global_names[i] = intern(kGlobalNames[i])) == nullptr) return false;
    }
    // The node classes and bases were imported into the module just before.
    for (int i = 0; i < kFreeVariableCollectorName; ++i) {
        g.originals[i] = PyDict_GetItemWithError(g.dict, g.global_names[i]);
        if (g.originals[i] == nullptr) {
            if (!PyErr_Occurred()) PyErr_Format(PyExc_ImportError, "missing %U", g.global_names[i]);
            return false;
        }
        Py_INCREF(g.originals[i]);
    }
    g.str_visit = intern("visit");
    g.str_dispatch_table = intern("_dispatch_table");
    g.str_init_subclass = intern("__init_subclass__");
    g.str_name = intern("name");
    g.str_sort = intern("sort");
    g.str_id = intern("id");
    g.str_kind = intern("kind");
    g.str_operand = intern("operand");
    g.str_left = intern("left");
    g.str_right = intern("right");
    g.str_variable = intern("variable");
    g.str_body = intern("body");
    g.str_func = intern("func");
    g.str_pred = intern("pred");
    g.str_arity = intern("arity");
    g.str_args = intern("args");
    g.str_return_sort = intern("return_sort");
    g.str_update = intern("update");
    g.str_items = intern("items");
    g.empty_str = PyUnicode_New(0, 0);
    const char *notations[3] = {"infix", "prefix", "latex"};
    for (int i = 0; i < 3; ++i) {
        if ((g.notations[i + 1] = intern(notations[i])) == nullptr) return false;
    }
    g.asserts = assertions_enabled();
    return g.str_visit && g.str_dispatch_table && g.str_init_subclass && g.str_name && g.str_sort && g.str_id &&
           g.str_kind && g.str_operand && g.str_left && g.str_right && g.str_variable && g.str_body &&
           g.str_func && g.str_pred && g.str_arity && g.str_args && g.str_return_sort && g.str_update &&
           g.str_items && g.empty_str;
}

PyObject *global(int which) {
    PyObject *value = PyDict_GetItemWithError(g.dict, g.global_names[which]);
    if (value != nullptr) return new_ref(value);
    if (!PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", g.global_names[which]);
    return nullptr;
}

int global_is_original(int which) {
    PyObject *value = PyDict_GetItemWithError(g.dict, g.global_names[which]);
    if (value != nullptr) return value == g.originals[which];
    if (!PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", g.global_names[which]);
    return -1;
}

int is_instance_of_global(PyObject *obj, int which) {
    PyObject *cls = PyDict_GetItemWithError(g.dict, g.global_names[which]);
    if (cls == g.originals[which] && cls != nullptr && PyType_CheckExact(cls)) {
        return PyObject_TypeCheck(obj, reinterpret_cast<PyTypeObject *>(cls));
    }
    Ref owned = Ref::steal(global(which));
    if (!owned) return -1;
    return PyObject_IsInstance(obj, owned.get());
}

PyObject *build_node(int which, PyObject *const *fields, int nfields) {
    Ref cls = Ref::steal(global(which));
    if (!cls) return nullptr;
    if (which < ast::kKindCount && cls.get() == g.originals[which]) {
        // Our own class: straight to the checked constructor, fields in storage order.
        PyObject *values[5];
        switch (which) {
        case kVariable: values[0] = fields[2]; values[1] = fields[0]; values[2] = fields[1]; break;
        case kFunctionApp:
            values[0] = fields[3];
            for (int i = 0; i < 4; ++i) values[i + 1] = fields[i];
            break;
        default:
            for (int i = 0; i < nfields; ++i) values[i] = fields[i];
        }
        return g.api->make(static_cast<ast::Kind>(which), values);
    }
    return PyObject_Vectorcall(cls.get(), fields, 0, g.field_kwnames[which]);
}

}  // namespace zelqor::visitors
