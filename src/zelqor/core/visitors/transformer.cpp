// ASTTransformer: children first, then a new node of the same class only
// when some child came back as a different object.
#include "zelqor/core/visitors/transformer.hpp"

#include "zelqor/core/visitors/fields.hpp"

namespace zelqor::visitors {

namespace {

PyObject *keep(PyObject *, PyObject *node) { return new_ref(node); }

// Applications: every argument visited; the rebuilt tuple keeps only terms.
template <int K>
PyObject *transform_app(PyObject *self, PyObject *node) {
    Field args = app_args(node, K);
    if (!args) return nullptr;
    // The visited arguments are only collected from the first one that changed.
    Ref visited;
    Py_ssize_t same = 0;
    bool indexable = PyTuple_CheckExact(args.get());
    if (!indexable && !(visited = Ref::steal(PyList_New(0)))) return nullptr;
    bool changed = false;
    bool ok = for_each_arg(args.get(), [&](PyObject *arg) {
        Ref result = Ref::steal(visit_value(self, arg));
        if (!result) return false;
        changed = changed || result.get() != arg;
        if (!visited) {
            if (!changed) {
                ++same;
                return true;
            }
            Ref head = Ref::steal(PyTuple_GetSlice(args.get(), 0, same));
            if (!head) return false;
            visited = Ref::steal(PySequence_List(head.get()));
            if (!visited) return false;
        }
        return PyList_Append(visited.get(), result.get()) == 0;
    });
    if (!ok) return nullptr;
    if (!changed) return new_ref(node);
    Ref terms = Ref::steal(PyList_New(0));
    if (!terms) return nullptr;
    for (Py_ssize_t i = 0, n = PyList_GET_SIZE(visited.get()); i < n; ++i) {
        PyObject *item = PyList_GET_ITEM(visited.get(), i);
        int is_term = is_instance_of_global(item, kTerm);
        if (is_term < 0 || (is_term && PyList_Append(terms.get(), item) < 0)) return nullptr;
    }
    // One read at a time: a failed read leaves an error that no further
    // caller code (a property) may run under.
    Ref new_args = Ref::steal(PyList_AsTuple(terms.get()));
    if (!new_args) return nullptr;
    Field symbol = node_field(node, K, K == kFunctionApp ? ast::slot::fn_func : ast::slot::pred_pred,
                              K == kFunctionApp ? g.str_func : g.str_pred);
    if (!symbol) return nullptr;
    Field arity = node_field(node, K, K == kFunctionApp ? ast::slot::fn_arity : ast::slot::pred_arity, g.str_arity);
    if (!arity) return nullptr;
    if constexpr (K == kFunctionApp) {
        Field return_sort = node_field(node, K, ast::slot::fn_return_sort, g.str_return_sort);
        if (!return_sort) return nullptr;
        PyObject *fields[4] = {symbol.get(), arity.get(), new_args.get(), return_sort.get()};
        return build_node(K, fields, 4);
    } else {
        PyObject *fields[3] = {symbol.get(), arity.get(), new_args.get()};
        return build_node(K, fields, 3);
    }
}

// What the rebuilt children of each kind must be: Term, Formula or Variable.
int first_check(int kind) {
    if (kind == kEquality) return kTerm;
    return kind == kForall || kind == kExists ? static_cast<int>(kVariable) : static_cast<int>(kFormula);
}
int second_check(int kind) { return kind == kEquality ? kTerm : kFormula; }

bool check(PyObject *value, int global_class) {
    if (!g.asserts) return true;
    int ok = is_instance_of_global(value, global_class);
    if (ok < 0) return false;
    if (!ok) assertion_failed();
    return ok == 1;
}

// Equality, the connectives, Forall and Exists.
template <int K>
PyObject *transform_pair(PyObject *self, PyObject *node) {
    Field first = node_field(node, K, first_slot(K), first_name(K));
    if (!first) return nullptr;
    Ref new_first = Ref::steal(visit_value(self, first.get()));
    if (!new_first) return nullptr;
    Field second = node_field(node, K, second_slot(K), second_name(K));
    if (!second) return nullptr;
    Ref new_second = Ref::steal(visit_value(self, second.get()));
    if (!new_second) return nullptr;
    if (new_first.get() == first.get() && new_second.get() == second.get()) return new_ref(node);
    if (!check(new_first.get(), first_check(K)) || !check(new_second.get(), second_check(K))) return nullptr;
    PyObject *fields[2] = {new_first.get(), new_second.get()};
    return build_node(K, fields, 2);
}

PyObject *transform_not(PyObject *self, PyObject *node) {
    Field operand = node_field(node, kNot, ast::slot::operand, g.str_operand);
    if (!operand) return nullptr;
    Ref result = Ref::steal(visit_value(self, operand.get()));
    if (!result) return nullptr;
    if (result.get() == operand.get()) return new_ref(node);
    if (!check(result.get(), kFormula)) return nullptr;
    PyObject *fields[1] = {result.get()};
    return build_node(kNot, fields, 1);
}

// Second-order quantifiers: only the body is visited.
template <int K>
PyObject *transform_second_order(PyObject *self, PyObject *node) {
    Ref body = Ref::steal(PyObject_GetAttr(node, g.str_body));
    if (!body) return nullptr;
    Ref result = Ref::steal(visit_value(self, body.get()));
    if (!result) return nullptr;
    if (result.get() == body.get()) return new_ref(node);
    if (!check(result.get(), kFormula)) return nullptr;
    Ref variable = Ref::steal(PyObject_GetAttr(node, g.str_variable));
    if (!variable) return nullptr;
    PyObject *fields[2] = {variable.get(), result.get()};
    return build_node(K, fields, 2);
}

#define ZQ_T(name, fn) ZQ_OP(name, fn, kFamilyTransform, nullptr, "ASTTransformer." name)

const OpImpl ops[kOpCount] = {
    ZQ_T("visit_variable", keep),
    ZQ_T("visit_constant", keep),
    ZQ_T("visit_function_app", transform_app<kFunctionApp>),
    ZQ_T("visit_predicate_app", transform_app<kPredicateApp>),
    ZQ_T("visit_equality", transform_pair<kEquality>),
    ZQ_T("visit_not", transform_not),
    ZQ_T("visit_and", transform_pair<kAnd>),
    ZQ_T("visit_or", transform_pair<kOr>),
    ZQ_T("visit_implies", transform_pair<kImplies>),
    ZQ_T("visit_iff", transform_pair<kIff>),
    ZQ_T("visit_forall", transform_pair<kForall>),
    ZQ_T("visit_exists", transform_pair<kExists>),
    ZQ_T("visit_forall_pred", transform_second_order<kForallPred>),
    ZQ_T("visit_exists_pred", transform_second_order<kExistsPred>),
    ZQ_T("visit_forall_func", transform_second_order<kForallFunc>),
    ZQ_T("visit_exists_func", transform_second_order<kExistsFunc>),
};

}  // namespace

const ClassParts kTransformerFamily = {ops, kOpCount, nullptr, nullptr};

}  // namespace zelqor::visitors
