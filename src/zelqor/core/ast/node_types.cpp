// The node classes: slot functions shared by all twelve (grouped by purpose),
// then the type specs and their creation.
#include "zelqor/core/ast/node_types.hpp"

#include "common/args.hpp"
#include "common/boundary.hpp"
#include "common/compat.hpp"
#include "common/frozen_record.hpp"
#include "common/guard.hpp"
#include "common/members.hpp"
#include "common/small_vector.hpp"
#include "zelqor/core/ast/construct.hpp"
#include "zelqor/core/ast/equality.hpp"
#include "zelqor/core/ast/kinds.hpp"
#include "zelqor/core/ast/text_form.hpp"

#include <array>
#include <cassert>
#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

namespace zelqor::ast {

namespace {

constexpr Py_ssize_t basic_size(int nfields) {
    return static_cast<Py_ssize_t>(offsetof(Node, field) + sizeof(PyObject *) * static_cast<size_t>(nfields));
}

// ---- construction: tp_new and the vectorcall of the exact classes ----------

// Constructor signatures, filled once the defaults (Ind, INDIVIDUAL) are known.
PyObject *signature_defaults[kKindCount][5];
Signature signatures[kKindCount];

void init_signatures() {
    for (int k = 0; k < kKindCount; ++k) {
        const KindInfo &ki = info(k);
        for (int p = 0; p < ki.nparams; ++p) {
            const char *name = ki.param_names[p];
            PyObject *d = nullptr;
            if (std::strcmp(name, "kind") == 0) d = g.kind_members[0];
            if (std::strcmp(name, "sort") == 0 || std::strcmp(name, "return_sort") == 0) d = g.ind;
            signature_defaults[k][p] = d;
        }
        signatures[k] = Signature{ki.init_name, ki.nparams, ki.npositional, ki.param_names, signature_defaults[k],
                                  true};
    }
}

// Call arguments (in parameter order) to value fields (in storage order).
PyObject *construct_from_params(int k, PyTypeObject *type, PyObject *const *params) {
    const KindInfo &ki = info(k);
    PyObject *values[6] = {};
    for (int p = 0; p < ki.nparams; ++p) values[ki.param_field[p]] = params[p];
    return construct(kind_at(k), type, values);
}

PyObject *node_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
    int k = kind_of_type(type);
    PyObject *params[5];
    if (!bind_tuple(signatures[k], args, kwargs, params)) return nullptr;
    return construct_from_params(k, type, params);
}

template <int K>
PyObject *node_vectorcall(PyObject *callable, PyObject *const *args, size_t nargsf, PyObject *kwnames) {
    PyTypeObject *type = reinterpret_cast<PyTypeObject *>(callable);
    if (type != g.types[K]) return call_type_generically(callable, args, nargsf, kwnames);
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    // The common call: every parameter given by position, in storage order.
    if (kwnames == nullptr && nargs == info(K).nparams && info(K).param_field[0] == 0 && !info(K).is_term) {
        return construct(kind_at(K), type, args);
    }
    PyObject *params[5];
    if (!bind_vector(signatures[K], args, nargs, kwnames, params)) return nullptr;
    return construct_from_params(K, type, params);
}

// ---- lifetime ----------------------------------------------------------------

// Releasing a chain one reference at a time would recurse once per level,
// deeper than any stack. Instead a field that only the dying node holds (a
// node of the exact classes, or an argument tuple) first gives its own
// fields up to an explicit stack and leaves the garbage collector's lists:
// releasing it then frees one object and recurses no further. Subclass
// instances keep their own deallocation, finalizers included.
class Teardown {
public:
    // Takes over `count` owned references, leaving null behind.
    void take(PyObject **refs, Py_ssize_t count) noexcept {
        for (Py_ssize_t i = 0; i < count; ++i) {
            PyObject *ref = std::exchange(refs[i], nullptr);
            if (ref == nullptr) continue;
            try {
                pending_.push_back(ref);
            } catch (const std::bad_alloc &) {
                Py_DECREF(ref);  // no room to defer it: released at once, recursively
            }
        }
    }

    void release_all() noexcept {
        while (!pending_.empty()) {
            PyObject *ref = pending_.pop_back();
            if (Py_REFCNT(ref) == 1) hollow(ref);
            Py_DECREF(ref);
        }
    }

private:
    void hollow(PyObject *ref) noexcept {
        int k = exact_kind(ref);
        if (k >= 0) {
            PyObject_GC_UnTrack(ref);
            take(as_node(ref)->field, info(k).nfields);
        } else if (PyTuple_CheckExact(ref)) {
            PyObject_GC_UnTrack(ref);
            take(reinterpret_cast<PyTupleObject *>(ref)->ob_item, PyTuple_GET_SIZE(ref));
        }
    }

    static int exact_kind(PyObject *o) noexcept {
        for (int k = 0; k < kKindCount; ++k) {
            if (Py_TYPE(o) == g.types[k]) return k;
        }
        return -1;
    }

    SmallVector<PyObject *, 32> pending_;
};

template <int N>
void node_dealloc(PyObject *self) {
    PyTypeObject *type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
#if PY_VERSION_HEX < 0x030E0000
    Py_TRASHCAN_BEGIN(self, boundary<node_dealloc<N>>)
#endif
    Teardown teardown;
    teardown.take(as_node(self)->field, N);
    teardown.release_all();
    type->tp_free(self);
    Py_DECREF(type);
#if PY_VERSION_HEX < 0x030E0000
    Py_TRASHCAN_END
#endif
}

template <int N>
int node_traverse(PyObject *self, visitproc visit, void *arg) {
    Py_VISIT(Py_TYPE(self));
    Node *node = as_node(self);
    for (int i = 0; i < N; ++i) Py_VISIT(node->field[i]);
    return 0;
}

// ---- frozen fields -------------------------------------------------------------

// The fields of a node class, the cached hash included.
bool is_node_field(int k, PyObject *name) {
    const KindInfo &ki = info(k);
    return is_field_name(name, ki.field_names, static_cast<size_t>(ki.nfields)) ||
           (ki.cached_hash && is_field_name(name, {"_hash_cache"}));
}

int node_setattro(PyObject *self, PyObject *name, PyObject *value) {
    int k = kind_of(self);
    return set_record_attribute(self, name, value, g.types[k], [k](PyObject *n) { return is_node_field(k, n); });
}

// ---- pickling and copying --------------------------------------------------------

// Rebuilt through the constructor: positional fields, plus `sort` by keyword
// for variables and constants; a subclass instance's __dict__ rides along.
// The pickler calls this once per level of a tree; before 3.14 it watches
// only the recursion limit, so the guard here is what stops it short of the
// end of the C stack.
PyObject *node_reduce(PyObject *self, PyObject *) {
    RecursionGuard guard(" while pickling a node");
    if (!guard.ok()) return nullptr;
    int k = kind_of(self);
    const KindInfo &ki = info(k);
    Ref args = Ref::steal(PyTuple_New(ki.npositional));
    if (!args) return nullptr;
    for (int p = 0; p < ki.npositional; ++p) {
        PyTuple_SET_ITEM(args.get(), p, new_ref(field(self, ki.param_field[p])));
    }
    PyObject *type = reinterpret_cast<PyObject *>(Py_TYPE(self));
    Ref call;
    // Variables and constants take `sort` by keyword only.
    bool sort_by_keyword = ki.is_term && kind_at(k) != Kind::FunctionApp;
    if (sort_by_keyword) {
        Ref kwargs = Ref::steal(PyDict_New());
        if (!kwargs || PyDict_SetItem(kwargs.get(), g.str_sort, field(self, slot::sort)) < 0) return nullptr;
        call = Ref::steal(Py_BuildValue("O(OOO)", g.newobj_ex, type, args.get(), kwargs.get()));
    } else {
        call = Ref::steal(Py_BuildValue("(OO)", type, args.get()));
    }
    if (!call) return nullptr;
    if (Py_TYPE(self) == g.types[k]) return call.release();
    Ref dict;
    if (!record_instance_dict(self, dict)) return nullptr;
    if (!dict) return call.release();
    if (sort_by_keyword) {
        return Py_BuildValue("(OOO)", PyTuple_GET_ITEM(call.get(), 0), PyTuple_GET_ITEM(call.get(), 1), dict.get());
    }
    return Py_BuildValue("(OOO)", type, args.get(), dict.get());
}

PyMethodDef node_methods[] = {
    {"__reduce__", boundary<node_reduce>, METH_NOARGS, "Rebuild through the constructor."},
    {"__copy__", boundary<copy_of_immutable>, METH_NOARGS, "Nodes are immutable: the copy is the node itself."},
    {"__deepcopy__", boundary<copy_of_immutable>, METH_O, "Nodes are immutable: the copy is the node itself."},
    {nullptr, nullptr, 0, nullptr},
};

// ---- the types -------------------------------------------------------------------

const char *const kSpecNames[kKindCount] = {
    "zelqor.core.ast.Variable",  "zelqor.core.ast.Constant", "zelqor.core.ast.FunctionApp",
    "zelqor.core.ast.PredicateApp", "zelqor.core.ast.Equality", "zelqor.core.ast.Not",
    "zelqor.core.ast.And",       "zelqor.core.ast.Or",       "zelqor.core.ast.Implies",
    "zelqor.core.ast.Iff",       "zelqor.core.ast.Forall",   "zelqor.core.ast.Exists",
};

PyMemberDef member_defs[kKindCount][8];

void fill_members(int k) {
    const KindInfo &ki = info(k);
    int m = 0;
    for (int i = 0; i < ki.nfields; ++i) {
        member_defs[k][m++] = PyMemberDef{ki.field_names[i], ZQ_T_OBJECT_EX,
                                          basic_size(i), ZQ_READONLY, ki.field_docs[i]};
    }
    if (ki.cached_hash) {
        member_defs[k][m++] = PyMemberDef{"_hash_cache", ZQ_T_PYSSIZET,
                                          static_cast<Py_ssize_t>(offsetof(Node, hash)), ZQ_READONLY, nullptr};
    }
    member_defs[k][m] = PyMemberDef{nullptr, 0, 0, 0, nullptr};
}

template <int N>
PyType_Slot *slots_for(int k, hashfunc hash) {
    static PyType_Slot slots[kKindCount][12];
    PyType_Slot *s = slots[k];
    int i = 0;
    s[i++] = {Py_tp_doc, const_cast<char *>(info(k).doc)};
    s[i++] = {Py_tp_new, ZQ_SLOT(node_new)};
    s[i++] = {Py_tp_dealloc, ZQ_SLOT(node_dealloc<N>)};
    s[i++] = {Py_tp_traverse, ZQ_SLOT(node_traverse<N>)};
    s[i++] = {Py_tp_hash, reinterpret_cast<void *>(hash)};
    s[i++] = {Py_tp_richcompare, ZQ_SLOT(node_richcompare)};
    s[i++] = {Py_tp_repr, ZQ_SLOT(node_repr)};
    s[i++] = {Py_tp_setattro, ZQ_SLOT(node_setattro)};
    s[i++] = {Py_tp_members, member_defs[k]};
    s[i++] = {Py_tp_methods, node_methods};
    s[i++] = {0, nullptr};
    assert(i <= static_cast<int>(std::size(slots[k])) && "slot table overrun");
    return s;
}

using Vectorcall = PyObject *(*)(PyObject *, PyObject *const *, size_t, PyObject *);

template <int... K>
constexpr auto make_vectorcalls(std::integer_sequence<int, K...>) {
    return std::array<Vectorcall, sizeof...(K)>{boundary<node_vectorcall<K>>...};
}
constexpr auto kVectorcalls = make_vectorcalls(std::make_integer_sequence<int, kKindCount>{});

PyType_Slot *slots_for_kind(int k) {
    hashfunc hash = kind_at(k) == Kind::Variable   ? boundary<variable_hash>
                    : kind_at(k) == Kind::Constant ? boundary<constant_hash>
                                                   : boundary<cached_hash>;
    switch (info(k).nfields) {
    case 1: return slots_for<1>(k, hash);
    case 2: return slots_for<2>(k, hash);
    case 3: return slots_for<3>(k, hash);
    case 4: return slots_for<4>(k, hash);
    default: return slots_for<6>(k, hash);
    }
}

PyTypeObject *create_base(PyObject *module, const char *name, const char *doc) {
    static PyType_Slot slots[2][2];
    static int used = 0;
    PyType_Slot *s = slots[used++];
    s[0] = {Py_tp_doc, const_cast<char *>(doc)};
    s[1] = {0, nullptr};
    static PyType_Spec specs[2];
    PyType_Spec *spec = &specs[used - 1];
    *spec = PyType_Spec{name, 0, 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, s};
    return reinterpret_cast<PyTypeObject *>(PyType_FromModuleAndSpec(module, spec, nullptr));
}

bool add_type(PyObject *module, const char *name, PyTypeObject *type) {
    return PyModule_AddObjectRef(module, name, reinterpret_cast<PyObject *>(type)) == 0;
}

}  // namespace

bool create_node_types(PyObject *module) {
    init_signatures();
    g.term = create_base(module, "zelqor.core.ast.Term", "Abstract Base Class for all term AST nodes.");
    if (g.term == nullptr) return false;
    g.formula = create_base(module, "zelqor.core.ast.Formula", "Abstract Base Class for all formula AST nodes.");
    if (g.formula == nullptr) return false;
    if (!add_type(module, "Term", g.term) || !add_type(module, "Formula", g.formula)) return false;

    static PyType_Spec specs[kKindCount];
    for (int k = 0; k < kKindCount; ++k) {
        const KindInfo &ki = info(k);
        fill_members(k);
        specs[k] = PyType_Spec{kSpecNames[k], static_cast<int>(basic_size(ki.nfields)), 0,
                               Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC, slots_for_kind(k)};
        PyObject *base = reinterpret_cast<PyObject *>(ki.is_term ? g.term : g.formula);
        g.types[k] = reinterpret_cast<PyTypeObject *>(PyType_FromModuleAndSpec(module, &specs[k], base));
        if (g.types[k] == nullptr) return false;
        g.types[k]->tp_vectorcall = kVectorcalls[k];
        if (!set_match_args(g.types[k], ki.param_names, static_cast<size_t>(ki.npositional)) ||
            !add_type(module, ki.name, g.types[k])) {
            return false;
        }
    }
    return true;
}

}  // namespace zelqor::ast
