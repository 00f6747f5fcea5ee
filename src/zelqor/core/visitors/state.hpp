// Objects the visitors module resolves once at load: the syntax-tree API,
// its own classes, interned names. They never change after import.
#pragma once

#include "common/module_globals.hpp"
#include "zelqor/core/ast/api.hpp"

namespace zelqor::visitors {

// The sixteen operations, in table order: one per node kind, numbered as its
// ast::Kind, then the four second-order quantifiers, whose classes the
// syntax tree does not define.
enum Op : int {
    kVariable = ast::kind_index(ast::Kind::Variable),
    kConstant = ast::kind_index(ast::Kind::Constant),
    kFunctionApp = ast::kind_index(ast::Kind::FunctionApp),
    kPredicateApp = ast::kind_index(ast::Kind::PredicateApp),
    kEquality = ast::kind_index(ast::Kind::Equality),
    kNot = ast::kind_index(ast::Kind::Not),
    kAnd = ast::kind_index(ast::Kind::And),
    kOr = ast::kind_index(ast::Kind::Or),
    kImplies = ast::kind_index(ast::Kind::Implies),
    kIff = ast::kind_index(ast::Kind::Iff),
    kForall = ast::kind_index(ast::Kind::Forall),
    kExists = ast::kind_index(ast::Kind::Exists),
    kForallPred = ast::kKindCount,
    kExistsPred,
    kForallFunc,
    kExistsFunc,
};
inline constexpr int kOpCount = kExistsFunc + 1;

// The node kind of an operation on one of the syntax tree's own classes.
constexpr bool has_node_kind(int op) noexcept { return op < ast::kKindCount; }
constexpr ast::Kind node_kind(int op) noexcept { return ast::kind_at(op); }

// The visitor classes, in definition order.
enum ClassId : int {
    kASTVisitor, kASTTransformer, kDepthVisitor, kSizeVisitor, kFreeVariableCollector,
    kSubstitutionTransformer, kExportVisitor, kClassCount,
};

// Module attributes the operations look up when they run (a caller may
// replace them), indices into State::globals.
enum Global : int {
    // 0..15: the node classes of the dispatch table, in op order.
    kTerm = kOpCount, kFormula, kFreeVariableCollectorName, kSubstitutionTransformerName, kGlobalCount,
};

struct State {
    PyObject *module = nullptr;                  // strong
    const ast::Api *api = nullptr;
    PyTypeObject *node_types[ast::kKindCount] = {};  // the API's node classes, kept at hand
    PyTypeObject *base = nullptr;                // C layout shared by every visitor
    PyTypeObject *abstract_op = nullptr;         // type of the abstract declarations
    PyObject *classes[kClassCount] = {};
    ModuleGlobals<kGlobalCount> globals;         // originals: what each was bound to at load
    PyObject *op_names[kOpCount] = {};           // "visit_variable", ...
    PyObject *str_visit = nullptr;
    PyObject *str_dispatch_table = nullptr;
    PyObject *str_init_subclass = nullptr;
    PyObject *str_name = nullptr, *str_sort = nullptr, *str_id = nullptr, *str_kind = nullptr;
    PyObject *str_operand = nullptr, *str_left = nullptr, *str_right = nullptr;
    PyObject *str_variable = nullptr, *str_body = nullptr;
    PyObject *str_func = nullptr, *str_pred = nullptr, *str_arity = nullptr, *str_args = nullptr;
    PyObject *str_return_sort = nullptr, *str_update = nullptr, *str_items = nullptr;
    PyObject *empty_str = nullptr;
    PyObject *notations[4] = {};                 // indexed by Notation; [0] unused
    PyObject *field_kwnames[kOpCount] = {};      // keyword names used to rebuild each node class
    bool asserts = true;                         // false under `python -O`
};

extern State g;

bool init_state(PyObject *module);

// isinstance(obj, <module attribute>), with the interpreter's semantics.
int is_instance_of_global(PyObject *obj, int which);

// Calls a node class given by a module attribute with keyword fields; when the
// attribute is still our own class, builds through the syntax-tree API.
// `fields` are in the class's field order (terms without `sort`).
PyObject *build_node(int which, PyObject *const *fields, int nfields);

// An assertion failure: AssertionError without a message.
inline PyObject *assertion_failed() {
    PyErr_SetNone(PyExc_AssertionError);
    return nullptr;
}

}  // namespace zelqor::visitors
