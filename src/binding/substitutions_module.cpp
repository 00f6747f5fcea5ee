// Module `zelqor.core._substitutions`: the native substitution behind
// `zelqor.core.substitutions`.
#include "common/args.hpp"
#include "common/interned.hpp"
#include "common/module_init.hpp"
#include "zelqor/core/substitutions/api.hpp"
#include "zelqor/core/substitutions/substitute.hpp"

namespace zelqor::subst {
namespace {

template <PyObject *(*Impl)(PyObject *, PyObject *), const char *Name, const char *First>
PyObject *binary_function(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {First, "mapping"};
    static PyObject *const defaults[] = {nullptr, nullptr};
    static const Signature sig{Name, 2, 2, names, defaults};
    PyObject *bound[2];
    if (nargs == 2 && kwnames == nullptr) {
        bound[0] = args[0];
        bound[1] = args[1];
    } else if (!bind_vector(sig, args, nargs, kwnames, bound)) {
        return nullptr;
    }
    if (!PyDict_Check(bound[1])) {
        PyErr_Format(PyExc_TypeError, "Argument 'mapping' has incorrect type (expected dict, got %.200s)",
                     Py_TYPE(bound[1])->tp_name);
        return nullptr;
    }
    return Impl(bound[0], bound[1]);
}

constexpr char kTerm[] = "substitute_term";
constexpr char kFormula[] = "substitute_formula";
constexpr char kTermParam[] = "term";
constexpr char kFormulaParam[] = "formula";

PyMethodDef functions[] = {
    {kTerm, ZQ_FASTCALL((binary_function<substitute_term, kTerm, kTermParam>)), METH_FASTCALL | METH_KEYWORDS,
     "substitute_term(term, mapping)\n--\n\n"
     "Replace the variables that are keys of `mapping` by their terms, all at once.\n"
     "Raises SortError when a replacement's sort differs from its variable's sort."},
    {kFormula, ZQ_FASTCALL((binary_function<substitute_formula, kFormula, kFormulaParam>)),
     METH_FASTCALL | METH_KEYWORDS,
     "substitute_formula(formula, mapping)\n--\n\n"
     "Replace the free occurrences of the keys of `mapping` by their terms, all at once, renaming bound\n"
     "variables that would capture a variable of a replacement. Unchanged subtrees are shared.\n"
     "Raises SortError when a replacement's sort differs from its variable's sort."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "zelqor.core._substitutions", "Native substitution of terms for variables.", -1,
    functions, nullptr, nullptr, nullptr, nullptr,
};

PyObject *module_object = nullptr;
const Api api{kApiVersion, substitute_formula_presorted};

bool init_context() {
    Ref ast_module = Ref::steal(PyImport_ImportModule("zelqor.core.ast"));
    if (!ast_module) return false;
    static const char *const second_order[4] = {"ForallPred", "ExistsPred", "ForallFunc", "ExistsFunc"};
    return (ctx.api = ast::import_api()) && (ctx.sort_error = import_attr("zelqor.core.exceptions", "SortError")) &&
           (ctx.invalid_formula_error = import_attr("zelqor.core.exceptions", "InvalidFormulaError")) &&
           intern_names(ctx.second_order_names, second_order) &&
           intern_names({{&ctx.str_sort, "sort"}, {&ctx.str_body, "body"}, {&ctx.str_variable, "variable"},
                         {&ctx.str_id, "id"}, {&ctx.str_kind, "kind"}, {&ctx.str_func, "func"},
                         {&ctx.str_pred, "pred"}, {&ctx.str_arity, "arity"}, {&ctx.str_args, "args"},
                         {&ctx.str_return_sort, "return_sort"}, {&ctx.str_operand, "operand"},
                         {&ctx.str_left, "left"}, {&ctx.str_right, "right"}});
}

}  // namespace
}  // namespace zelqor::subst

PyMODINIT_FUNC PyInit__substitutions(void) {
    using namespace zelqor::subst;
    if (module_object != nullptr) return zelqor::new_ref(module_object);
    if (!init_context()) return nullptr;
    zelqor::Ref module = zelqor::Ref::steal(PyModule_Create(&module_def));
    if (!module) return nullptr;
    zelqor::Ref capsule = zelqor::Ref::steal(PyCapsule_New(const_cast<Api *>(&api), kCapsuleName, nullptr));
    if (!capsule || PyModule_AddObjectRef(module.get(), "_C_API", capsule.get()) < 0) return nullptr;
    module_object = module.release();
    return zelqor::new_ref(module_object);
}
