// ExportVisitor: infix, prefix and LaTeX text. While the operations reached
// are our own, the whole tree renders into one TextBuffer; a caller's override
// contributes the value it returns, inserted as an f-string would insert it.
#include "common/args.hpp"
#include "common/compat.hpp"
#include "common/guard.hpp"
#include "common/members.hpp"
#include "common/text_buffer.hpp"
#include "zelqor/core/visitors/dispatch.hpp"
#include "zelqor/core/visitors/fields.hpp"

#include <cstddef>
#include <optional>

namespace zelqor::visitors {

namespace {

// An operation renders into `w`, or leaves a bare value in `bare` (the name
// of a constant, the symbol of an application without arguments) for the
// caller to return or insert.
using RenderFn = bool (*)(PyObject *self, PyObject *node, TextBuffer &w, Ref &bare);

int notation(PyObject *self) { return as_visitor(self)->notation_code; }

// What reading `self.notation` gives when __init__ never ran.
bool missing_notation(PyObject *self) {
    PyErr_Format(PyExc_AttributeError, "'%.100s' object has no attribute 'notation'", Py_TYPE(self)->tp_name);
    return false;
}

bool render_child(PyObject *self, PyObject *child, TextBuffer &w, Ref &value) {
    Route route;
    if (!visit_child(as_visitor(self), child, route, value)) return false;
    if (route.impl == nullptr) return true;
    std::optional<RecursionGuard> guard;
    if (needs_guard(route) && !guard.emplace(" while exporting a syntax tree").ok()) return false;
    if (route.impl->family == kFamilyExport) {
        return reinterpret_cast<RenderFn>(route.impl->fast)(self, child, w, value);
    }
    value = Ref::steal(route.impl->value(self, child));
    return bool(value);
}

// A child placed in a template.
bool insert(PyObject *self, PyObject *child, TextBuffer &w) {
    Ref value;
    if (!render_child(self, child, w, value)) return false;
    return !value || w.value(value.get());
}

// The arguments of an application, joined by `sep` as str.join joins them:
// every argument is visited first; then any non-str result is an error.
bool join_args(PyObject *self, PyObject *args, const char *sep, TextBuffer &w) {
    Py_ssize_t index = 0, bad_index = -1;
    Ref bad_type;  // the class of the first non-str result, kept alive for the message
    bool ok = for_each_arg(args, [&](PyObject *arg) {
        if (index > 0 && !w.literal(sep)) return false;
        Ref value;
        if (!render_child(self, arg, w, value)) return false;
        if (value) {
            if (PyUnicode_Check(value.get())) {
                if (!w.text(value.get())) return false;
            } else if (bad_index < 0) {
                bad_index = index;
                bad_type = Ref::borrow(reinterpret_cast<PyObject *>(Py_TYPE(value.get())));
            }
        }
        ++index;
        return true;
    });
    if (!ok) return false;
    if (bad_index >= 0) {
        PyErr_Format(PyExc_TypeError, "sequence item %zd: expected str instance, %.80s found", bad_index,
                     reinterpret_cast<PyTypeObject *>(bad_type.get())->tp_name);
        return false;
    }
    return true;
}

// Display text of an application symbol: its `name` attribute where it has
// one (second-order variables), otherwise its text form.
PyObject *display(PyObject *symbol) {
    if (PyUnicode_CheckExact(symbol)) return new_ref(symbol);
    PyObject *name = nullptr;
    int found = get_optional_attr(symbol, g.str_name, &name);
    if (found < 0) return nullptr;
    if (found > 0) return name;
    return PyObject_Str(symbol);
}

// A field value returned as the operation's result must be str (or None).
bool bare_result(Ref value, Ref &bare) {
    if (!check_exact_result(value.get(), &PyUnicode_Type, "str")) return false;
    bare = std::move(value);
    return true;
}

// ---- the sixteen operations ------------------------------------------------------

bool render_variable(PyObject *self, PyObject *node, TextBuffer &w, Ref &) {
    int code = notation(self);
    if (code == kNotationUnset) return missing_notation(self);
    Field id = node_field(node, kVariable, ast::slot::var_id, g.str_id);
    if (!id) return false;
    if (code == kLatex) return w.literal("v_{") && w.integer(id.get()) && w.literal("}");
    return w.literal("v") && w.integer(id.get());
}

bool render_constant(PyObject *, PyObject *node, TextBuffer &, Ref &bare) {
    Field name = node_field(node, kConstant, ast::slot::const_name, g.str_name);
    return name && bare_result(name.ref(), bare);
}

template <int K>
bool render_app(PyObject *self, PyObject *node, TextBuffer &w, Ref &bare) {
    Field symbol = node_field(node, K, K == kFunctionApp ? ast::slot::fn_func : ast::slot::pred_pred,
                            K == kFunctionApp ? g.str_func : g.str_pred);
    if (!symbol) return false;
    Ref shown = Ref::steal(display(symbol.get()));
    if (!shown) return false;
    Field args = app_args(node, K);
    if (!args) return false;
    int has_args = PyTuple_CheckExact(args.get()) ? PyTuple_GET_SIZE(args.get()) > 0 : PyObject_IsTrue(args.get());
    if (has_args < 0) return false;
    if (K == kPredicateApp && !has_args) return bare_result(std::move(shown), bare);
    int code = notation(self);
    if (code == kNotationUnset) return missing_notation(self);
    if (code == kPrefix) {
        if (!has_args) return bare_result(std::move(shown), bare);
        return w.literal("(") && w.value(shown.get()) && w.literal(" ") && join_args(self, args.get(), " ", w) &&
               w.literal(")");
    }
    return w.value(shown.get()) && w.literal("(") && join_args(self, args.get(), ", ", w) && w.literal(")");
}

// Templates are written as the notation selects; when __init__ never ran the
// children are still rendered first, as the reading of `notation` comes last.
bool render_equality(PyObject *self, PyObject *node, TextBuffer &w, Ref &) {
    int code = notation(self);
    Field left = node_field(node, kEquality, ast::slot::eq_left, g.str_left);
    if (!left) return false;
    if (code == kPrefix && !w.literal("(= ")) return false;
    if (!insert(self, left.get(), w)) return false;
    if (!w.literal(code == kPrefix ? " " : " = ")) return false;
    Field right = node_field(node, kEquality, ast::slot::eq_right, g.str_right);
    if (!right || !insert(self, right.get(), w)) return false;
    if (code == kNotationUnset) return missing_notation(self);
    return code != kPrefix || w.literal(")");
}

struct Connective {
    std::string_view infix, prefix_head, latex;
};
const Connective kConnectives[4] = {
    {" & ", "(and ", " \\land "},
    {" | ", "(or ", " \\lor "},
    {" => ", "(=> ", " \\implies "},
    {" <=> ", "(<=> ", " \\iff "},
};

template <int K>
bool render_binary(PyObject *self, PyObject *node, TextBuffer &w, Ref &) {
    const Connective &c = kConnectives[K - kAnd];
    int code = notation(self);
    Field left = node_field(node, K, ast::slot::left, g.str_left);
    if (!left || !w.literal(code == kPrefix ? c.prefix_head : std::string_view("(")) || !insert(self, left.get(), w)) {
        return false;
    }
    if (!w.literal(code == kPrefix ? std::string_view(" ") : code == kLatex ? c.latex : c.infix)) return false;
    Field right = node_field(node, K, ast::slot::right, g.str_right);
    if (!right || !insert(self, right.get(), w)) return false;
    if (code == kNotationUnset) return missing_notation(self);
    return w.literal(")");
}

// isinstance(operand, (And, Or, Implies, Iff)) with the module's current names.
int is_compound(PyObject *operand, bool &pure) {
    pure = true;
    for (int k = kAnd; k <= kIff; ++k) {
        int original = g.globals.is_original(k);
        if (original < 0) return -1;
        pure = pure && original;
    }
    if (pure) {
        for (int k = kAnd; k <= kIff; ++k) {
            if (PyObject_TypeCheck(operand, g.node_types[k])) return 1;
        }
        return 0;
    }
    return 0;
}

int is_compound_generic(PyObject *operand) {
    Ref classes = Ref::steal(PyTuple_New(4));
    if (!classes) return -1;
    for (int k = kAnd; k <= kIff; ++k) {
        Ref cls = g.globals.get(k);
        if (!cls) return -1;
        PyTuple_SET_ITEM(classes.get(), k - kAnd, cls.release());
    }
    return PyObject_IsInstance(operand, classes.get());
}

bool render_not(PyObject *self, PyObject *node, TextBuffer &w, Ref &) {
    int code = notation(self);
    Field operand = node_field(node, kNot, ast::slot::operand, g.str_operand);
    if (!operand) return false;
    if (code == kPrefix) return w.literal("(not ") && insert(self, operand.get(), w) && w.literal(")");
    bool pure;
    int compound = is_compound(operand.get(), pure);
    if (compound < 0) return false;
    if (pure) {
        // The class test has no effects: decide the opening before the operand.
        const char *open = code == kLatex ? (compound ? "\\neg (" : "\\neg ") : (compound ? "~(" : "~");
        if (!w.literal(open) || !insert(self, operand.get(), w)) return false;
        if (code == kNotationUnset) return missing_notation(self);
        return !compound || w.literal(")");
    }
    size_t open;
    if (!w.hole(open) || !insert(self, operand.get(), w)) return false;
    if (code == kNotationUnset) return missing_notation(self);
    compound = is_compound_generic(operand.get());
    if (compound < 0) return false;
    Ref text = Ref::steal(PyUnicode_FromString(code == kLatex ? (compound ? "\\neg (" : "\\neg ")
                                                              : (compound ? "~(" : "~")));
    if (!text || !w.fill(open, text.get())) return false;
    return !compound || w.literal(")");
}

// The sort name of a variable of ours whose sort class keeps `name` in a slot:
// reading it runs no caller code, so it may be read ahead of the body (null
// when that cannot be known, or the slot is empty).
PyObject *slot_sort_name(PyObject *variable) {
    if (!is_exact(variable, kVariable)) return nullptr;
    PyObject *sort = ast::field(variable, ast::slot::sort);
    PyTypeObject *type = Py_TYPE(sort);
    if (type->tp_getattro != PyObject_GenericGetAttr) return nullptr;
    PyObject *descr = _PyType_Lookup(type, g.str_name);  // borrowed
    if (descr == nullptr || !Py_IS_TYPE(descr, &PyMemberDescr_Type)) return nullptr;
    PyObject *name = PyMember_GetOne(reinterpret_cast<const char *>(sort),
                                     reinterpret_cast<PyMemberDescrObject *>(descr)->d_member);
    if (name == nullptr) PyErr_Clear();  // an empty slot: read it again in order, and fail there
    return name;
}

// Forall and Exists: V, then B, then the sort name S, which is placed between them.
template <int K>
bool render_quantifier(PyObject *self, PyObject *node, TextBuffer &w, Ref &) {
    int code = notation(self);
    const char *word = K == kForall ? "forall" : "exists";
    Field variable = node_field(node, K, ast::slot::variable, g.str_variable);
    if (!variable) return false;
    bool ok = code == kPrefix ? w.literal("(") && w.literal(word) && w.literal(" (")
              : code == kLatex ? w.literal("\\") && w.literal(word) && w.literal(" ")
                               : w.literal(word) && w.literal(" ");
    if (!ok || !insert(self, variable.get(), w) || !w.literal(" : ")) return false;
    Ref early = Ref::steal(slot_sort_name(variable.get()));
    size_t sort_name = 0;
    if (early ? !w.value(early.get()) : !w.hole(sort_name)) return false;
    if (!w.literal(code == kPrefix ? ") " : ", ")) return false;
    Field body = node_field(node, K, ast::slot::body, g.str_body);
    if (!body || !insert(self, body.get(), w)) return false;
    if (!early) {
        Field sort = node_field(variable.get(), kVariable, ast::slot::sort, g.str_sort);
        if (!sort) return false;
        Ref name = Ref::steal(PyObject_GetAttr(sort.get(), g.str_name));
        if (!name || !w.fill(sort_name, name.get())) return false;
    }
    if (code == kNotationUnset) return missing_notation(self);
    return code != kPrefix || w.literal(")");
}

// The second-order quantifiers: B first, then the variable's name N before it.
template <int K>
bool render_second_order(PyObject *self, PyObject *node, TextBuffer &w, Ref &) {
    static const char *const words[4] = {"forall_pred", "exists_pred", "forall_func", "exists_func"};
    const char *word = words[K - kForallPred];
    int code = notation(self);
    bool ok = code == kPrefix ? w.literal("(") && w.literal(word) && w.literal(" (")
              : code == kLatex ? w.literal(K == kForallPred || K == kForallFunc ? "\\forall " : "\\exists ")
                               : w.literal(word) && w.literal(" ");
    if (!ok) return false;
    size_t var_name;
    if (!w.hole(var_name) || !w.literal(code == kPrefix ? ") " : ", ")) return false;
    Ref body = Ref::steal(PyObject_GetAttr(node, g.str_body));
    if (!body || !insert(self, body.get(), w)) return false;
    Ref variable = Ref::steal(PyObject_GetAttr(node, g.str_variable));
    if (!variable) return false;
    Ref name = Ref::steal(PyObject_GetAttr(variable.get(), g.str_name));
    if (!name || !w.fill(var_name, name.get())) return false;
    if (code == kNotationUnset) return missing_notation(self);
    return code != kPrefix || w.literal(")");
}

template <RenderFn Fn>
PyObject *as_value(PyObject *self, PyObject *node) {
    TextBuffer w;
    Ref bare;
    if (!Fn(self, node, w, bare)) return nullptr;
    if (bare) return bare.release();
    return w.finish();
}

// __init__(self, notation="infix")
PyObject *export_init(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"notation"};
    PyObject *const defaults[] = {g.notations[kInfix]};
    const Signature sig{"ExportVisitor.__init__", 1, 1, names, defaults, true};
    PyObject *given;
    if (!bind_vector(sig, args, nargs, kwnames, &given)) return nullptr;
    if (!check_exact_arg(given, &PyUnicode_Type, "notation", "str")) return nullptr;
    int code = kNotationUnset;
    for (int c = kInfix; c <= kLatex; ++c) {
        if (PyUnicode_Compare(given, g.notations[c]) == 0) code = c;
    }
    if (code == kNotationUnset) {
        PyErr_Format(PyExc_ValueError, "Unsupported notation: %U", given);
        return nullptr;
    }
    VisitorObject *v = as_visitor(self);
    Py_XSETREF(v->notation, new_ref(given));
    v->notation_code = code;
    Py_RETURN_NONE;
}

#define ZQ_E(name, fn) ZQ_OP(name, as_value<fn>, kFamilyExport, fn, "ExportVisitor." name)

const OpImpl ops[kOpCount] = {
    ZQ_E("visit_variable", render_variable),
    ZQ_E("visit_constant", render_constant),
    ZQ_E("visit_function_app", render_app<kFunctionApp>),
    ZQ_E("visit_predicate_app", render_app<kPredicateApp>),
    ZQ_E("visit_equality", render_equality),
    ZQ_E("visit_not", render_not),
    ZQ_E("visit_and", render_binary<kAnd>),
    ZQ_E("visit_or", render_binary<kOr>),
    ZQ_E("visit_implies", render_binary<kImplies>),
    ZQ_E("visit_iff", render_binary<kIff>),
    ZQ_E("visit_forall", render_quantifier<kForall>),
    ZQ_E("visit_exists", render_quantifier<kExists>),
    ZQ_E("visit_forall_pred", render_second_order<kForallPred>),
    ZQ_E("visit_exists_pred", render_second_order<kExistsPred>),
    ZQ_E("visit_forall_func", render_second_order<kForallFunc>),
    ZQ_E("visit_exists_func", render_second_order<kExistsFunc>),
};

PyMethodDef methods[] = {
    {"__init__", ZQ_FASTCALL(export_init),
     METH_FASTCALL | METH_KEYWORDS,
     "__init__($self, /, notation='infix')\n--\n\nChooses the notation: \"infix\", \"prefix\" or \"latex\"."},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef members[] = {
    {"notation", ZQ_T_OBJECT_EX, static_cast<Py_ssize_t>(offsetof(VisitorObject, notation)), ZQ_READONLY,
     "The notation: \"infix\", \"prefix\" or \"latex\"."},
    {nullptr, 0, 0, 0, nullptr},
};

}  // namespace

const ClassParts kExportFamily = {ops, kOpCount, methods, members};

}  // namespace zelqor::visitors
