#include "zelqor/constructive/search/trees.hpp"

#include "zelqor/constructive/search/state.hpp"

#include <algorithm>
#include <unordered_map>

namespace zelqor::search {

namespace {

using TreeKind = ast::Kind;
using ast::field;
namespace slot = ast::slot;

// InvalidFormulaError("not propositional: <what>: <text of the node>").
void raise_not_propositional(PyObject *node, const char *what) {
    Ref text = Ref::steal(PyObject_Repr(node));
    if (!text) {
        PyErr_Clear();
        text = Ref::steal(PyObject_Repr(reinterpret_cast<PyObject *>(Py_TYPE(node))));
        if (!text) return;
    }
    constexpr Py_ssize_t kShown = 200;
    if (PyUnicode_GetLength(text.get()) > kShown) {
        Ref head = Ref::steal(PyUnicode_Substring(text.get(), 0, kShown));
        if (!head) return;
        text = Ref::steal(PyUnicode_FromFormat("%U...", head.get()));
        if (!text) return;
    }
    Ref message = Ref::steal(PyUnicode_FromFormat("not propositional: %s: %U", what, text.get()));
    if (!message) return;
    Ref error = Ref::steal(PyObject_CallOneArg(g.invalid_formula_error, message.get()));
    if (error) PyErr_SetObject(reinterpret_cast<PyObject *>(Py_TYPE(error.get())), error.get());
}

const char *what_is_not_propositional(int kind) {
    switch (kind) {
        case static_cast<int>(TreeKind::Equality): return "an equality";
        case static_cast<int>(TreeKind::Forall):
        case static_cast<int>(TreeKind::Exists): return "a quantified formula";
        case static_cast<int>(TreeKind::Variable):
        case static_cast<int>(TreeKind::Constant):
        case static_cast<int>(TreeKind::FunctionApp): return "a term, not a formula";
        default: return "not a propositional connective or atom";
    }
}

// Whether an atom node has no arguments: arity 0 and an empty argument tuple.
int has_no_arguments(PyObject *node) {
    PyObject *arity = field(node, slot::pred_arity);
    PyObject *args = field(node, slot::pred_args);
    int zero = PyObject_RichCompareBool(arity, g.zero, Py_EQ);
    if (zero <= 0) return zero;
    Py_ssize_t length = PyObject_Length(args);
    if (length < 0) return -1;
    return length == 0 ? 1 : 0;
}

}  // namespace

FormulaId Vocabulary::read_atom(Store &store, PyObject *node) {
    int is_falsum = PyObject_RichCompareBool(node, g.falsum, Py_EQ);
    if (is_falsum < 0) return kNoFormula;
    if (is_falsum) return Store::falsum();
    int is_verum = PyObject_RichCompareBool(node, g.verum, Py_EQ);
    if (is_verum < 0) return kNoFormula;
    if (is_verum) return Store::verum();
    int plain = has_no_arguments(node);
    if (plain < 0) return kNoFormula;
    if (plain == 0) {
        raise_not_propositional(node, "an atom with arguments");
        return kNoFormula;
    }
    if (!index_of_atom_) {
        index_of_atom_ = Ref::steal(PyDict_New());
        if (!index_of_atom_) return kNoFormula;
    }
    PyObject *known = PyDict_GetItemWithError(index_of_atom_.get(), node);
    if (known != nullptr) return store.atom(static_cast<uint32_t>(PyLong_AsUnsignedLong(known)));
    if (PyErr_Occurred()) return kNoFormula;
    auto index = static_cast<uint32_t>(atoms_.size());
    Ref number = Ref::steal(PyLong_FromUnsignedLong(index));
    if (!number || PyDict_SetItem(index_of_atom_.get(), node, number.get()) < 0) return kNoFormula;
    atoms_.push_back(Ref::borrow(node));
    return store.atom(index);
}

uint32_t Vocabulary::copy_of(uint32_t atom, uint32_t tag) {
    PyObject *name = field(atoms_[atom].get(), slot::pred_pred);
    if (!PyUnicode_Check(name)) return UINT32_MAX;  // a second-order symbol: no copies
    Ref candidate = Ref::steal(PyUnicode_FromFormat("%U#%u", name, tag + 1));
    Ref empty = Ref::steal(PyTuple_New(0));
    if (!candidate || !empty) return UINT32_MAX;
    for (;;) {
        PyObject *fields[3] = {candidate.get(), g.zero, empty.get()};
        Ref node = Ref::steal(g.api->make(TreeKind::PredicateApp, fields));
        if (!node) return UINT32_MAX;
        PyObject *known = PyDict_GetItemWithError(index_of_atom_.get(), node.get());
        if (known == nullptr && PyErr_Occurred()) return UINT32_MAX;
        if (known == nullptr) {
            auto index = static_cast<uint32_t>(atoms_.size());
            Ref number = Ref::steal(PyLong_FromUnsignedLong(index));
            if (!number || PyDict_SetItem(index_of_atom_.get(), node.get(), number.get()) < 0) return UINT32_MAX;
            atoms_.push_back(std::move(node));
            return index;
        }
        candidate = Ref::steal(PyUnicode_FromFormat("%U'", candidate.get()));
        if (!candidate) return UINT32_MAX;
    }
}

FormulaId Vocabulary::read(Store &store, PyObject *formula) {
    // Post-order over the tree with its own stack; a node shared by several
    // parents is read once.
    struct Frame {
        PyObject *node;
        int kind;
        bool expanded;
    };
    std::unordered_map<PyObject *, FormulaId> done;
    std::unordered_map<PyObject *, std::vector<PyObject *>> chains;  // leaves of chains being read
    std::vector<Frame> stack;
    stack.push_back({formula, -1, false});
    while (!stack.empty()) {
        Frame frame = stack.back();
        if (done.count(frame.node) != 0) {
            stack.pop_back();
            continue;
        }
        FormulaId result = kNoFormula;
        if (!frame.expanded) {
            int kind = g.api->kind_of(frame.node);
            stack.back().kind = kind;
            stack.back().expanded = true;
            switch (kind) {
                case static_cast<int>(TreeKind::PredicateApp):
                    result = read_atom(store, frame.node);
                    if (result == kNoFormula) return kNoFormula;
                    break;
                case static_cast<int>(TreeKind::Not):
                    stack.push_back({field(frame.node, slot::operand), -1, false});
                    continue;
                case static_cast<int>(TreeKind::And):
                case static_cast<int>(TreeKind::Or): {
                    // A chain of one connective is read as one n-ary node:
                    // building it pairwise would copy its members at every link.
                    std::vector<PyObject *> &leaves = chains[frame.node];
                    std::vector<PyObject *> walk{frame.node};
                    while (!walk.empty()) {
                        PyObject *n = walk.back();
                        walk.pop_back();
                        if (g.api->kind_of(n) == kind) {
                            walk.push_back(field(n, slot::right));
                            walk.push_back(field(n, slot::left));
                        } else {
                            leaves.push_back(n);
                        }
                    }
                    for (auto it = leaves.rbegin(); it != leaves.rend(); ++it) stack.push_back({*it, -1, false});
                    continue;
                }
                case static_cast<int>(TreeKind::Implies):
                case static_cast<int>(TreeKind::Iff):
                    stack.push_back({field(frame.node, slot::right), -1, false});
                    stack.push_back({field(frame.node, slot::left), -1, false});
                    continue;
                default:
                    raise_not_propositional(frame.node, what_is_not_propositional(kind));
                    return kNoFormula;
            }
        } else if (frame.kind == static_cast<int>(TreeKind::Not)) {
            result = store.negation(done[field(frame.node, slot::operand)]);
        } else if (frame.kind == static_cast<int>(TreeKind::And) || frame.kind == static_cast<int>(TreeKind::Or)) {
            auto chain = chains.find(frame.node);
            std::vector<FormulaId> members;
            members.reserve(chain->second.size());
            for (PyObject *leaf : chain->second) members.push_back(done[leaf]);
            chains.erase(chain);
            result = frame.kind == static_cast<int>(TreeKind::And) ? store.conjunction(members)
                                                                    : store.disjunction(members);
        } else {
            FormulaId left = done[field(frame.node, slot::left)], right = done[field(frame.node, slot::right)];
            result = frame.kind == static_cast<int>(TreeKind::Implies) ? store.implication(left, right)
                                                                       : store.equivalence(left, right);
        }
        done.emplace(frame.node, result);
        if (sources_.size() < store.size()) sources_.resize(store.size(), nullptr);
        if (sources_[result] == nullptr) sources_[result] = frame.node;
        stack.pop_back();
    }
    return done[formula];
}

PyObject *TreeWriter::tree(FormulaId f) {
    if (f < built_.size() && built_[f]) return built_[f].get();
    if (built_.size() < store_.size()) built_.resize(store_.size());
    // Everything `f` needs, built bottom-up: reach() lists members first.
    FormulaId root[1] = {f};
    auto ready = [&](FormulaId g) { return static_cast<bool>(built_[g]) || vocabulary_.source(g) != nullptr; };
    for (FormulaId next : store_.reach(root, ready)) {
        if (!built_[next] && !build(next)) return nullptr;
    }
    return built_[f].get();
}

bool TreeWriter::build(FormulaId f) {
    PyObject *source = vocabulary_.source(f);
    if (source != nullptr) {
        built_[f] = Ref::borrow(source);
        return true;
    }
    switch (store_.kind(f)) {
        case Kind::Atom: built_[f] = Ref::borrow(vocabulary_.atom(store_.atom_index(f))); return true;
        case Kind::Falsum: built_[f] = Ref::borrow(g.falsum); return true;
        case Kind::Verum: built_[f] = Ref::borrow(g.verum); return true;
        case Kind::Implies: {
            PyObject *fields[2] = {built_[store_.antecedent(f)].get(), built_[store_.consequent(f)].get()};
            built_[f] = Ref::steal(g.api->make(TreeKind::Implies, fields));
            return static_cast<bool>(built_[f]);
        }
        default: {
            TreeKind kind = store_.kind(f) == Kind::And ? TreeKind::And : TreeKind::Or;
            auto members = store_.members(f);
            Ref nested = Ref::borrow(built_[members.back()].get());
            for (size_t i = members.size() - 1; i-- > 0;) {
                PyObject *fields[2] = {built_[members[i]].get(), nested.get()};
                nested = Ref::steal(g.api->make(kind, fields));
                if (!nested) return false;
            }
            built_[f] = std::move(nested);
            return true;
        }
    }
}

}  // namespace zelqor::search
