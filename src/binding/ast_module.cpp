// Module `zelqor.core.ast`: imports, the VariableKind enumeration, the node
// classes, the structural queries, and the C API capsule for the other modules.
#include "common/args.hpp"
#include "common/members.hpp"
#include "common/frozen_record.hpp"
#include "common/interned.hpp"
#include "common/module_init.hpp"
#include "zelqor/core/ast/api.hpp"
#include "zelqor/core/ast/canonical.hpp"
#include "zelqor/core/ast/construct.hpp"
#include "zelqor/core/ast/node_types.hpp"
#include "zelqor/core/ast/queries.hpp"

namespace zelqor::ast {
namespace {

// ---- module functions -----------------------------------------------------------

template <PyObject *(*Impl)(PyObject *), const char *Name, const char *Param>
PyObject *unary_function(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {Param};
    static PyObject *const defaults[] = {nullptr};
    static const Signature sig{Name, 1, 1, names, defaults};
    PyObject *arg;
    if (nargs == 1 && kwnames == nullptr) {
        arg = args[0];
    } else if (!bind_vector(sig, args, nargs, kwnames, &arg)) {
        return nullptr;
    }
    return Impl(arg);
}

constexpr char kFreeVariables[] = "free_variables";
constexpr char kBoundVariables[] = "bound_variables";
constexpr char kFormulaDepth[] = "formula_depth";
constexpr char kFormulaSize[] = "formula_size";
constexpr char kCanonicalize[] = "canonicalize_bound_variables";
constexpr char kNode[] = "node";
constexpr char kFormula[] = "formula";

PyMethodDef module_functions[] = {
    {kFreeVariables, ZQ_FASTCALL((unary_function<free_variables, kFreeVariables, kNode>)),
     METH_FASTCALL | METH_KEYWORDS,
     "free_variables(node)\n--\n\nThe set of variables occurring free in a term or formula (a new set)."},
    {kBoundVariables, ZQ_FASTCALL((unary_function<bound_variables, kBoundVariables, kNode>)),
     METH_FASTCALL | METH_KEYWORDS,
     "bound_variables(node)\n--\n\nThe set of variables bound by a quantifier in a term or formula (a new set)."},
    {kFormulaDepth, ZQ_FASTCALL((unary_function<formula_depth, kFormulaDepth, kFormula>)),
     METH_FASTCALL | METH_KEYWORDS,
     "formula_depth(formula)\n--\n\nNumber of connective and quantifier levels above the atoms, plus one."},
    {kFormulaSize, ZQ_FASTCALL((unary_function<formula_size, kFormulaSize, kFormula>)),
     METH_FASTCALL | METH_KEYWORDS,
     "formula_size(formula)\n--\n\nNumber of nodes of a formula, terms included."},
    {kCanonicalize, ZQ_FASTCALL((unary_function<canonicalize_bound_variables, kCanonicalize, kFormula>)),
     METH_FASTCALL | METH_KEYWORDS,
     "canonicalize_bound_variables(formula)\n--\n\n"
     "A copy of the formula whose bound variables are renumbered 0, 1, 2, ... in order of appearance, "
     "skipping the ids of its free variables."},
    {nullptr, nullptr, 0, nullptr},
};

// ---- module state ----------------------------------------------------------------

int kind_of_object(PyObject *o) { return kind_of(o); }

Api api;

bool init_enum(PyObject *module) {
    Ref enum_cls = Ref::steal(PyObject_GetAttrString(module, "Enum"));
    if (!enum_cls) return false;
    Ref members = Ref::steal(Py_BuildValue("((ss)(ss)(ss))", "INDIVIDUAL", "INDIVIDUAL", "PREDICATE", "PREDICATE",
                                           "FUNCTION", "FUNCTION"));
    Ref args = Ref::steal(Py_BuildValue("(sO)", "VariableKind", members.get()));
    Ref kwargs = Ref::steal(Py_BuildValue("{ssss}", "module", "zelqor.core.ast", "qualname", "VariableKind"));
    if (!members || !args || !kwargs) return false;
    Ref kind = Ref::steal(PyObject_Call(enum_cls.get(), args.get(), kwargs.get()));
    if (!kind) return false;
    Ref doc = Ref::steal(PyUnicode_FromString("Distinguishes variable usage in logic expressions."));
    if (!doc || PyObject_SetAttrString(kind.get(), "__doc__", doc.get()) < 0) return false;
    const char *names[3] = {"INDIVIDUAL", "PREDICATE", "FUNCTION"};
    for (int i = 0; i < 3; ++i) {
        g.kind_members[i] = PyObject_GetAttrString(kind.get(), names[i]);
        if (g.kind_members[i] == nullptr) return false;
        g.kind_hashes[i] = PyObject_Hash(g.kind_members[i]);
        if (g.kind_hashes[i] == -1) return false;
    }
    return PyModule_AddObjectRef(module, "VariableKind", kind.get()) == 0;
}

// Offset of the object slot `name` of `type`; -1 (no error) when `name` is null.
bool slot_offset(PyTypeObject *type, const char *name, Py_ssize_t &offset) {
    offset = -1;
    if (name == nullptr) return true;
    Ref descr = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject *>(type), name));
    if (!descr) return false;
    if (!Py_IS_TYPE(descr.get(), &PyMemberDescr_Type)) return false;
    auto *member = reinterpret_cast<PyMemberDescrObject *>(descr.get())->d_member;
    if (member->type != ZQ_T_OBJECT_EX) return false;
    offset = member->offset;
    return true;
}

// Where a sort class of zelqor.core.sorts keeps its name and parameters.
bool read_leaf_sort(LeafSortLayout &layout, const char *cls, const char *name, const char *sorts, const char *sort) {
    Ref type = Ref::steal(import_attr("zelqor.core.sorts", cls));
    if (!type || !PyType_Check(type.get())) return false;
    auto *t = reinterpret_cast<PyTypeObject *>(type.get());
    if (!slot_offset(t, name, layout.name) || !slot_offset(t, sorts, layout.sorts) ||
        !slot_offset(t, sort, layout.sort)) {
        return false;
    }
    layout.type = reinterpret_cast<PyTypeObject *>(type.release());  // kept for the module's life
    return true;
}

bool init_constants(PyObject *module) {
    static const char *const global_names[kGlobalCount] = {"InvalidFormulaError"};
    static const char *const second_order[4] = {"ForallPred", "ExistsPred", "ForallFunc", "ExistsFunc"};
    if (!(g.ind = PyObject_GetAttrString(module, "Ind")) || !g.globals.init(module, global_names) ||
        !g.globals.remember_original(kInvalidFormulaError) ||
        !import_frozen_instance_error() ||
        !(g.newobj_ex = import_attr("copyreg", "__newobj_ex__")) || !(g.empty_frozenset = PyFrozenSet_New(nullptr)) ||
        !(g.zero = PyLong_FromLong(0)) ||
        !intern_names({{&g.str_free_vars, "_free_vars"}, {&g.str_index, "index"}, {&g.str_arity, "arity"},
                       {&g.str_body, "body"}, {&g.str_sort, "sort"}, {&g.str_operand, "operand"},
                       {&g.str_left, "left"}, {&g.str_right, "right"}, {&g.str_variable, "variable"},
                       {&g.str_args, "args"}, {&g.str_func, "func"}, {&g.str_pred, "pred"},
                       {&g.str_return_sort, "return_sort"}}) ||
        !intern_names(g.second_order_names, second_order)) {
        return false;
    }
    // Shared by every node without free variables: it holds nothing, so the
    // collector need not see it (nor, through it, the nodes).
    if (PyObject_GC_IsTracked(g.empty_frozenset)) PyObject_GC_UnTrack(g.empty_frozenset);
    // Optional: a sort module without these classes (or slots) only loses the untracking.
    struct { const char *cls, *name, *sorts, *sort; } leaf_sorts[3] = {
        {"PrimitiveSort", "name", nullptr, nullptr},
        {"ParameterizedSort", "name", "params", nullptr},
        {"FunctionSort", nullptr, "domain", "codomain"},
    };
    for (int i = 0; i < 3; ++i) {
        if (!read_leaf_sort(g.leaf_sorts[i], leaf_sorts[i].cls, leaf_sorts[i].name, leaf_sorts[i].sorts,
                            leaf_sorts[i].sort)) {
            g.leaf_sorts[i] = LeafSortLayout{};
            PyErr_Clear();
        }
    }
    return true;
}

bool init_api(PyObject *module) {
    api.version = kApiVersion;
    api.term_type = g.term;
    api.formula_type = g.formula;
    for (int k = 0; k < kKindCount; ++k) api.types[k] = g.types[k];
    api.variable_kind_individual = g.kind_members[0];
    api.default_sort = g.ind;
    api.make = make_node;
    api.free_variables = free_variables;
    api.bound_variables = bound_variables;
    api.kind_of = kind_of_object;
    Ref capsule = Ref::steal(PyCapsule_New(&api, kCapsuleName, nullptr));
    return capsule && PyModule_AddObjectRef(module, "_C_API", capsule.get()) == 0;
}

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "zelqor.core.ast",
    "Immutable syntax trees of many-sorted first-order logic and structural queries over them.",
    -1,
    module_functions,
    nullptr, nullptr, nullptr, nullptr,
};

PyObject *create_module() {
    Ref module = Ref::steal(PyModule_Create(&module_def));
    if (!module) return nullptr;
    PyObject *m = module.get();
    bool ok = import_names(m, "abc", {"ABC"}) && import_names(m, "dataclasses", {"dataclass", "field"}) &&
              import_names(m, "enum", {"Enum"}) &&
              import_names(m, "typing", {"Tuple", "FrozenSet", "Set", "Union", "Dict", "Optional", "Any"}) &&
              import_names(m, "zelqor.core.sorts", {"Sort", "Ind"}) &&
              import_names(m, "zelqor.core.exceptions", {"InvalidFormulaError"}) && init_constants(m) &&
              init_enum(m) && create_node_types(m) && init_api(m);
    if (!ok) return nullptr;
    g.module = new_ref(m);
    return module.release();
}

}  // namespace
}  // namespace zelqor::ast

PyMODINIT_FUNC PyInit_ast(void) {
    if (zelqor::ast::g.module != nullptr) return zelqor::new_ref(zelqor::ast::g.module);
    return zelqor::ast::create_module();
}
