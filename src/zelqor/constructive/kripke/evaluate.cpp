// Forcing: whether a world forces a formula.
//
// The names the clauses rely on (the three predicates of the constructive
// module and the five connective classes) are module attributes, read once
// per call of `evaluate` (or not at all while neither namespace changed since
// a call found them all to be our own). While they still hold the objects
// imported at load, the clauses run here without calling out; otherwise the
// attributes are called as they are. Recursive steps go through
// `self.evaluate` whenever a subclass or instance replaced it.
#include "common/dict_watch.hpp"
#include "common/guard.hpp"
#include "zelqor/constructive/kripke/model.hpp"
#include "zelqor/constructive/kripke/world_cache.hpp"

namespace zelqor::kripke {

namespace {

using ast::Kind;

enum Predicate : int { kFalsum, kVerum, kAtomic };
constexpr Imported kPredicateNames[3] = {kIsFalsum, kIsVerum, kIsAtomic};
constexpr Imported kClassNames[5] = {kNot, kAnd, kOr, kImplies, kIff};
constexpr Kind kClassKinds[5] = {Kind::Not, Kind::And, Kind::Or, Kind::Implies, Kind::Iff};

// The connective clause a formula falls under, in the order of kClassNames.
enum Connective : int {
    kNegation,
    kConjunction,
    kDisjunction,
    kImplication,
    kEquivalence,
    kNoConnective,          // none of the five: forced nowhere
    kConnectiveError = -1,  // the class test failed (exception set)
};

struct Context {
    WorldCache worlds;
    PyObject *self = nullptr;
    bool own_evaluate = true;
    bool own_accessible = true;
    bool own_classes = true;            // the five connectives are the syntax tree's
    bool own_predicate[3] = {true, true, true};
    Ref classes[5];
    Ref predicates[3];
    Ref falsum, verum, predicate_app;   // what the constructive module's predicates read
    // Everything as imported, and the constants of the constructive module
    // are plain nodes: then an atom is exactly a PredicateApp and a node of
    // another of our classes is neither falsum, verum nor atomic.
    bool exact_nodes = false;
    bool all_own() const {
        return own_evaluate && own_classes && own_predicate[0] && own_predicate[1] && own_predicate[2];
    }
};

// The kripke module's namespace and the constructive module's, watched since
// the last call that found every name the clauses rely on to be our own.
struct NamespacesTag;
using Namespaces = DictWatch<NamespacesTag, 2>;

// What that call read from the constructive module. Borrowed: while neither
// namespace changed, it still holds these objects.
struct OwnNames {
    PyObject *falsum = nullptr, *verum = nullptr, *predicate_app = nullptr;
    bool exact_nodes = false;
} own_names;

// The constants are plain nodes and the atom class is ours.
bool plain_constants(const Context &cx) {
    PyTypeObject *atom = node_type(Kind::PredicateApp);
    return Py_IS_TYPE(cx.falsum.get(), atom) && Py_IS_TYPE(cx.verum.get(), atom) &&
           cx.predicate_app.get() == reinterpret_cast<PyObject *>(atom);
}

// Reads every name the clauses rely on, as the module's code would.
bool read_names(Context &cx) {
    for (int i = 0; i < 5; ++i) {
        cx.classes[i] = g.globals.get(kClassNames[i]);
        if (!cx.classes[i]) return false;
        cx.own_classes = cx.own_classes && cx.classes[i].get() == g.globals.original(kClassNames[i]);
    }
    constexpr CommonName common_names[3] = {kFalsumName, kVerumName, kPredicateAppName};
    Ref *common_values[3] = {&cx.falsum, &cx.verum, &cx.predicate_app};
    for (int i = 0; i < 3; ++i) {
        cx.predicates[i] = g.globals.get(kPredicateNames[i]);
        if (!cx.predicates[i]) return false;
        // The package's own predicate reads a global of its module at call time.
        *common_values[i] = g.common.find(common_names[i]);
        if (!*common_values[i] && PyErr_Occurred()) return false;
        cx.own_predicate[i] = cx.predicates[i].get() == g.globals.original(kPredicateNames[i]) && *common_values[i];
    }
    cx.exact_nodes = cx.all_own() && plain_constants(cx);
    return true;
}

// Every name read is the module's own (whatever `self` overrides).
bool own_names_only(const Context &cx) {
    return cx.own_classes && cx.own_predicate[0] && cx.own_predicate[1] && cx.own_predicate[2];
}

// The names as the last full read found them, when nothing changed since.
void reuse_names(Context &cx) {
    for (int i = 0; i < 5; ++i) cx.classes[i] = Ref::borrow(g.globals.original(kClassNames[i]));
    for (int i = 0; i < 3; ++i) cx.predicates[i] = Ref::borrow(g.globals.original(kPredicateNames[i]));
    cx.falsum = Ref::borrow(own_names.falsum);
    cx.verum = Ref::borrow(own_names.verum);
    cx.predicate_app = Ref::borrow(own_names.predicate_app);
    cx.exact_nodes = cx.own_evaluate && own_names.exact_nodes;
}

bool prepare(Context &cx, PyObject *self) {
    cx.self = self;
    int own = uses_own(self, kEvaluate);
    if (own < 0) return false;
    cx.own_evaluate = own;
    own = uses_own(self, kAccessibleWorlds);
    if (own < 0) return false;
    cx.own_accessible = own;
    if (Namespaces::unchanged()) {
        reuse_names(cx);
        return true;
    }
    if (!read_names(cx)) return false;
    if (own_names_only(cx)) {
        own_names = {cx.falsum.get(), cx.verum.get(), cx.predicate_app.get(), plain_constants(cx)};
        Namespaces::remember();
    } else {
        Namespaces::forget();
    }
    return true;
}

// `f == constant`, as the constructive module compares.
int equals(PyObject *f, PyObject *constant) {
    PyTypeObject *tf = Py_TYPE(f), *tc = Py_TYPE(constant);
    richcmpfunc nodes = node_type(Kind::PredicateApp)->tp_richcompare;
    // Two node classes that both compare as nodes: different classes never match.
    if (tf != tc && tf->tp_richcompare == nodes && tc->tp_richcompare == nodes) return 0;
    // Same node class: equal nodes have equal cached hashes.
    if (tf == tc && tf == node_type(Kind::PredicateApp) && f != constant &&
        ast::as_node(f)->hash != ast::as_node(constant)->hash) {
        return 0;
    }
    Ref r = Ref::steal(PyObject_RichCompare(f, constant, Py_EQ));
    return r ? PyObject_IsTrue(r.get()) : -1;
}

int instance_of(PyObject *o, PyObject *cls) {
    if (Py_IS_TYPE(cls, &PyType_Type)) return PyObject_TypeCheck(o, reinterpret_cast<PyTypeObject *>(cls));
    return PyObject_IsInstance(o, cls);
}

int test(Context &cx, Predicate p, PyObject *f) {
    if (!cx.own_predicate[p]) {
        Ref r = Ref::steal(PyObject_CallOneArg(cx.predicates[p].get(), f));
        return r ? PyObject_IsTrue(r.get()) : -1;
    }
    switch (p) {
    case kFalsum: return equals(f, cx.falsum.get());
    case kVerum: return equals(f, cx.verum.get());
    default: return instance_of(f, cx.predicate_app.get());
    }
}

// The connective of a formula of exactly one of the syntax tree's five classes.
Connective exact_connective(PyTypeObject *t) {
    for (int i = 0; i < 5; ++i) {
        if (t == node_type(kClassKinds[i])) return static_cast<Connective>(i);
    }
    return kNoConnective;
}

// Which connective clause applies, by the classes the module now names.
Connective connective(Context &cx, PyObject *f) {
    if (cx.own_classes) {
        Connective exact = exact_connective(Py_TYPE(f));
        if (exact != kNoConnective) return exact;
        for (int i = 0; i < 5; ++i) {
            if (PyObject_TypeCheck(f, node_type(kClassKinds[i]))) return static_cast<Connective>(i);
        }
        return kNoConnective;
    }
    for (int i = 0; i < 5; ++i) {
        int r = instance_of(f, cx.classes[i].get());
        if (r != 0) return r < 0 ? kConnectiveError : static_cast<Connective>(i);
    }
    return kNoConnective;
}

// A member of a connective: read in place from our own nodes, else by name.
Ref member(Context &cx, PyObject *f, int slot, PyObject *name) {
    if (cx.own_classes && g.api->is_exact(f)) return Ref::borrow(ast::field(f, slot));
    return Ref::steal(PyObject_GetAttr(f, name));
}

// A world a formula is evaluated at, as the row that led there showed it.
struct Site {
    PyObject *world;
    Py_hash_t hash;     // the hash a row stored for the world, or -1
    WorldInfo *info;    // the world's entry in the call's cache, if known
};

#ifndef Py_GIL_DISABLED
bool set_changed(const PySetObject *set, const setentry *table, Py_ssize_t mask, Py_ssize_t used) {
    if (set->table == table && set->mask == mask && set->used == used) return false;
    PyErr_SetString(PyExc_RuntimeError, "Set changed size during iteration");
    return true;
}

// Walks an exact set in place from slot `from`. Taking a reference to an
// entry runs no Python code; only a visit can, so the table is checked after
// each: should a node's own __eq__ change the row during the walk, the call
// fails as the iteration of a changed set does, and never reads freed memory.
template <typename Visit>
int walk_in_place(PySetObject *set, Py_ssize_t from, Visit &visit) {
    const setentry *table = set->table;
    const Py_ssize_t mask = set->mask, used = set->used;
    for (Py_ssize_t i = from; i <= mask; ++i) {
        const setentry &entry = table[i];
        if (entry.key == nullptr || entry.hash == -1) continue;
        Ref u = Ref::borrow(entry.key);
        int r = visit(u.get(), entry.hash, nullptr);
        if (r != 0) return r;
        if (set_changed(set, table, mask, used)) return -1;
    }
    return 0;
}

// Walks the row of `info`, the exact set `set`, from its list (see
// WorldInfo), listing further worlds as the walk reaches them. A walk of the
// same row nested in this one (a world sees itself) shares the list.
template <typename Visit>
int walk_listed(Context &cx, WorldInfo *info, PySetObject *set, Visit &visit) {
    WorldCache &cache = cx.worlds;
    uint32_t chunk = WorldCache::kNoChunk;
    int offset = WorldCache::kChunk;
    for (uint32_t k = 0;; ++k) {
        if (k == info->count) {
            switch (cache.extend(info, set)) {
            case WorldCache::Listing::kListed: break;
            case WorldCache::Listing::kComplete: return 0;
            case WorldCache::Listing::kChanged: return -1;
            case WorldCache::Listing::kRestInPlace: return walk_in_place(set, info->resume, visit);
            }
        }
        if (offset == WorldCache::kChunk) {
            chunk = chunk == WorldCache::kNoChunk ? info->head : cache.next_chunk(chunk);
            offset = 0;
        }
        WorldInfo *u = cache.item(chunk, offset++);
        int r = visit(u->world, u->hash, u);
        if (r != 0) return r;
    }
}
#endif

// Calls visit(u, hash, entry) for each u of acc(world) until it returns
// non-zero, and returns that (0 when every world was visited). `hash` is the
// hash a row stored for u, or -1; `entry` u's entry in the call's cache, or
// null.
//
// acc(world) is a copy of the row, so that nothing the visits do can change
// it. When no overriding method or replaced name can run during the walk,
// an exact set is instead read in place (the first walk of a row in a call)
// or from its list (later walks), without copying a row that an early result
// may leave mostly unvisited.
template <typename Visit>
int for_each_accessible(Context &cx, Site &at, Visit &&visit) {
    Ref source;
    if (cx.own_accessible) {
        WorldInfo *info = at.info;
        if (info == nullptr && cx.exact_nodes) info = at.info = cx.worlds.find_walked(at.world);
        if (info != nullptr && info->row_read) {
            source = Ref::borrow(info->row);
        } else {
            Ref relations = Ref::borrow(as_model(cx.self)->relations);
            source = world_entry(relations.get(), at.world, at.hash);
            if (!source && PyErr_Occurred()) return -1;
            if (info != nullptr) {
                info->row = Py_XNewRef(source.get());
                info->row_read = true;
            }
        }
        if (!source) return visit(at.world, at.hash, info);
#ifndef Py_GIL_DISABLED
        if (cx.exact_nodes && PyAnySet_CheckExact(source.get())) {
            auto *set = reinterpret_cast<PySetObject *>(source.get());
            if (info == nullptr) return walk_in_place(set, 0, visit);
            if (info->walked) return walk_listed(cx, info, set, visit);
            info->walked = true;
            return walk_in_place(set, 0, visit);
        }
#endif
        source = Ref::steal(PySet_New(source.get()));
    } else {
        source = Ref::steal(call_method(cx.self, kAccessibleWorlds, &at.world, 1));
    }
    if (!source) return -1;
    Ref it = Ref::steal(PyObject_GetIter(source.get()));
    if (!it) return -1;
    while (Ref u = Ref::steal(PyIter_Next(it.get()))) {
        int r = visit(u.get(), static_cast<Py_hash_t>(-1), nullptr);
        if (r != 0) return r;
    }
    return PyErr_Occurred() ? -1 : 0;
}

// `atom in valuation`, where `valuation` is borrowed: the check holds it,
// since a comparison may run Python code that drops it.
int contains(PyObject *valuation, PyObject *atom) {
    Ref held = Ref::borrow(valuation);
    if (!PyAnySet_CheckExact(valuation)) return PySequence_Contains(valuation, atom);
    return PySet_Contains(valuation, atom);
}

// Whether the atom is in the valuation set of the site's world. An entry of
// the call's cache keeps the set it read; elsewhere, as for most worlds an
// atom is looked up at, the set is read for this one check and not held.
int holds(Context &cx, PyObject *atom, Site &at) {
    PyObject *valuation;
    WorldInfo *info = at.info;
    // The dict the set is read from, held until contains() holds the set: the
    // lookup may run a key's __eq__ that replaces the model's valuations, and
    // the dict is then all that keeps the set.
    Ref valuations;
    if (info != nullptr && info->valuation_read) {
        valuation = info->valuation;
    } else {
        valuations = Ref::borrow(as_model(cx.self)->valuations);
        valuation = world_entry_borrowed(valuations.get(), at.world, at.hash);
        if (valuation == nullptr && PyErr_Occurred()) return -1;
        if (info != nullptr) {
            info->valuation = Py_XNewRef(valuation);
            info->valuation_read = true;
        }
    }
    if (valuation == nullptr) return 0;
#ifndef Py_GIL_DISABLED
    // Nothing ran since the set was read. A valuation set is mostly a small
    // table, scanned here whole: only an element with the atom's hash can
    // equal it, and the atom itself needs no comparison. Our own atom's hash
    // is the one kept in the node.
    if (PyAnySet_CheckExact(valuation)) {
        auto *set = reinterpret_cast<PySetObject *>(valuation);
        if (set->used == 0) return 0;
        if (set->mask < 8 && Py_IS_TYPE(atom, node_type(Kind::PredicateApp))) {
            const Py_hash_t hash = ast::as_node(atom)->hash;
            bool other = false;
            for (Py_ssize_t i = 0; i <= set->mask; ++i) {
                const setentry &entry = set->table[i];
                if (entry.key == nullptr || entry.hash != hash) continue;
                if (entry.key == atom) return 1;
                other = true;
            }
            if (!other) return 0;
        }
    }
#endif
    return contains(valuation, atom);
}

int force(Context &cx, PyObject *f, PyObject *w);

int connective_clause(Context &cx, Connective kind, PyObject *f, Site &at);

// Clauses 1 to 3 for an exact PredicateApp when the names are our own.
int force_atom(Context &cx, PyObject *f, Site &at) {
    for (PyObject *constant : {cx.falsum.get(), cx.verum.get()}) {
        int r = f == constant ? 1 : ast::as_node(f)->hash != ast::as_node(constant)->hash ? 0 : equals(f, constant);
        if (r != 0) return r < 0 ? -1 : constant == cx.falsum.get() ? 0 : 1;
    }
    return holds(cx, f, at);
}

// A recursive step: here, or through the replaced `self.evaluate`.
int step(Context &cx, PyObject *f, Site &at) {
    if (cx.exact_nodes) {
        PyTypeObject *t = Py_TYPE(f);
        if (t == node_type(Kind::PredicateApp)) return force_atom(cx, f, at);
        Connective kind = exact_connective(t);
        if (kind != kNoConnective) {
            RecursionGuard guard(" while evaluating a formula");
            if (!guard.ok()) return -1;
            return connective_clause(cx, kind, f, at);
        }
    }
    if (cx.own_evaluate) return force(cx, f, at.world);
    PyObject *args[2] = {f, at.world};
    Ref r = Ref::steal(call_method(cx.self, kEvaluate, args, 2));
    return r ? PyObject_IsTrue(r.get()) : -1;
}

// A step at a world a row showed: `hash` and `info` as for_each_accessible() gives them.
int step(Context &cx, PyObject *f, PyObject *w, Py_hash_t hash, WorldInfo *info) {
    Site at{w, hash, info};
    return step(cx, f, at);
}

// How step() forces a formula at any world.
enum class AtomRule {
    kNever,        // falsum
    kAlways,       // verum
    kByValuation,  // an exact atom told from both constants without a comparison
    kByStep,       // anything else: through step() every time
};

AtomRule atom_rule(const Context &cx, PyObject *f) {
    if (!cx.exact_nodes || !Py_IS_TYPE(f, node_type(Kind::PredicateApp))) return AtomRule::kByStep;
    for (PyObject *constant : {cx.falsum.get(), cx.verum.get()}) {
        if (f == constant) return constant == cx.falsum.get() ? AtomRule::kNever : AtomRule::kAlways;
        if (ast::as_node(f)->hash == ast::as_node(constant)->hash) return AtomRule::kByStep;
    }
    return AtomRule::kByValuation;
}

// step() for an operand whose atom_rule() was found once for a whole row.
int step_by_rule(Context &cx, PyObject *f, AtomRule rule, Site &at) {
    switch (rule) {
    case AtomRule::kNever: return 0;
    case AtomRule::kAlways: return 1;
    case AtomRule::kByValuation: return holds(cx, f, at);
    case AtomRule::kByStep: break;
    }
    return step(cx, f, at);
}

// left -> right at every world accessible from the site's.
int implication(Context &cx, PyObject *left, PyObject *right, Site &at) {
    const AtomRule left_rule = atom_rule(cx, left), right_rule = atom_rule(cx, right);
    int r = for_each_accessible(cx, at, [&](PyObject *u, Py_hash_t hash, WorldInfo *info) {
        Site there{u, hash, info};
        int l = step_by_rule(cx, left, left_rule, there);
        if (l <= 0) return l;                // error, or nothing to show here
        int rr = step_by_rule(cx, right, right_rule, there);
        return rr < 0 ? -1 : rr == 0 ? 2 : 0;  // 2: a counterexample
    });
    return r < 0 ? -1 : r == 2 ? 0 : 1;
}

// Implies(left=..., right=...) through the class the module now holds.
Ref make_implies(Context &cx, PyObject *left, PyObject *right) {
    if (cx.own_classes) {
        PyObject *fields[2] = {left, right};
        return Ref::steal(g.api->make(Kind::Implies, fields));
    }
    Ref names = Ref::steal(PyTuple_Pack(2, g.str_left, g.str_right));
    if (!names) return Ref();
    PyObject *args[2] = {left, right};
    return Ref::steal(PyObject_Vectorcall(cx.classes[3].get(), args, 0, names.get()));
}

int force(Context &cx, PyObject *f, PyObject *w) {
    RecursionGuard guard(" while evaluating a formula");
    if (!guard.ok()) return -1;
    Ref hold = Ref::borrow(f);  // a caller's predicate may drop the last other reference

    int r = test(cx, kFalsum, f);
    if (r != 0) return r < 0 ? -1 : 0;
    r = test(cx, kVerum, f);
    if (r != 0) return r < 0 ? -1 : 1;
    r = test(cx, kAtomic, f);
    if (r < 0) return -1;
    Site at{w, -1, nullptr};
    if (r) return holds(cx, f, at);
    return connective_clause(cx, connective(cx, f), f, at);
}

// Clauses 4 to 9, `kind` from connective().
int connective_clause(Context &cx, Connective kind, PyObject *f, Site &at) {
    switch (kind) {
    case kConnectiveError: return -1;
    case kNegation: {  // no accessible world forces the operand
        Ref operand = member(cx, f, ast::slot::operand, g.str_operand);
        if (!operand) return -1;
        int r = for_each_accessible(cx, at, [&](PyObject *u, Py_hash_t hash, WorldInfo *info) {
            int s = step(cx, operand.get(), u, hash, info);
            return s < 0 ? -1 : s;  // 1: the operand is forced there
        });
        return r < 0 ? -1 : r == 0 ? 1 : 0;
    }
    case kConjunction:
    case kDisjunction: {
        bool is_and = kind == kConjunction;
        Ref left = member(cx, f, ast::slot::left, g.str_left);
        if (!left) return -1;
        int l = step(cx, left.get(), at.world, at.hash, at.info);
        if (l < 0 || l == (is_and ? 0 : 1)) return l;
        Ref right = member(cx, f, ast::slot::right, g.str_right);
        if (!right) return -1;
        return step(cx, right.get(), at.world, at.hash, at.info);
    }
    case kImplication: {
        Ref left = member(cx, f, ast::slot::left, g.str_left);
        Ref right = left ? member(cx, f, ast::slot::right, g.str_right) : Ref();
        if (!right) return -1;
        return implication(cx, left.get(), right.get(), at);
    }
    case kEquivalence: {  // both implications
        Ref left = member(cx, f, ast::slot::left, g.str_left);
        Ref right = left ? member(cx, f, ast::slot::right, g.str_right) : Ref();
        if (!right) return -1;
        if (cx.all_own()) {
            // Our own Implies nodes would be evaluated by the Implies clause
            // alone, so the two nodes need not be built.
            int l = implication(cx, left.get(), right.get(), at);
            return l <= 0 ? l : implication(cx, right.get(), left.get(), at);
        }
        Ref left_imp = make_implies(cx, left.get(), right.get());
        if (!left_imp) return -1;
        Ref right_imp = make_implies(cx, right.get(), left.get());
        if (!right_imp) return -1;
        int l = step(cx, left_imp.get(), at.world, at.hash, at.info);
        return l <= 0 ? l : step(cx, right_imp.get(), at.world, at.hash, at.info);
    }
    case kNoConnective: break;
    }
    return 0;
}

// ---- small formulas of our own classes ------------------------------------------------
//
// When every name is our own and rows are read here, a formula of at most
// kPlanSize nodes is first flattened into a plan: each node's clause is
// decided once per call from its class (and, for an atom, how it compares
// with the two constants), instead of at every world the node is met at.
// Nodes that are not of our exact classes keep their place as kStep and go
// through step(). The plan borrows the nodes: the formula holds them, and
// nodes never change.

constexpr int kPlanSize = 64;


struct Op {
    enum Code : uint8_t { kFalse, kTrue, kAtom, kStep, kNot, kAnd, kOr, kImplies, kIff } code;
    bool guarded;         // enters the recursion guard (see Plan::add)
    int32_t left, right;  // operands' places in the plan (kNot: left)
    PyObject *node;
};

class Plan {
public:
    // The place of `f`'s op, -1 when the formula has more than kPlanSize
    // nodes. `depth`: the connectives above `f`.
    //
    // A connective's clause recurses through a few small frames of ours, and
    // a plan is at most kPlanSize deep: entering the interpreter's recursion
    // guard at every kGuardEvery-th level keeps the stack between two checks
    // small while sparing most of their cost.
    int add(const Context &cx, PyObject *f, int depth = 0) {
        if (size_ == kPlanSize) return -1;
        const int at = size_++;
        Op &op = ops_[at];
        op.node = f;
        op.left = op.right = -1;
        op.guarded = depth % kGuardEvery == 0;
        PyTypeObject *t = Py_TYPE(f);
        if (t == node_type(Kind::PredicateApp)) {
            switch (atom_rule(cx, f)) {
            case AtomRule::kNever: op.code = Op::kFalse; break;
            case AtomRule::kAlways: op.code = Op::kTrue; break;
            case AtomRule::kByValuation: op.code = Op::kAtom; break;
            case AtomRule::kByStep: op.code = Op::kStep; break;
            }
            return at;
        }
        static constexpr Op::Code kCodes[5] = {Op::kNot, Op::kAnd, Op::kOr, Op::kImplies, Op::kIff};
        op.code = Op::kStep;
        Connective kind = exact_connective(t);
        if (kind != kNoConnective) {
            op.code = kCodes[kind];
            // A depth of at most kPlanSize: no recursion guard needed here.
            if (kind == kNegation) {
                int operand = add(cx, ast::field(f, ast::slot::operand), depth + 1);
                if (operand < 0) return -1;
                ops_[at].left = operand;
            } else {
                int left = add(cx, ast::field(f, ast::slot::left), depth + 1);
                if (left < 0) return -1;
                int right = add(cx, ast::field(f, ast::slot::right), depth + 1);
                if (right < 0) return -1;
                ops_[at].left = left;
                ops_[at].right = right;
            }
        }
        return at;
    }
    const Op &operator[](int i) const { return ops_[i]; }

private:
    static constexpr int kGuardEvery = 4;
    Op ops_[kPlanSize];
    int size_ = 0;
};

int run(Context &cx, const Plan &plan, int i, Site &at);

// left -> right at every world accessible from the site's, by the plan.
int run_implication(Context &cx, const Plan &plan, int left, int right, Site &at) {
    const bool left_atom = plan[left].code == Op::kAtom, right_atom = plan[right].code == Op::kAtom;
    int r = for_each_accessible(cx, at, [&](PyObject *u, Py_hash_t hash, WorldInfo *info) {
        Site there{u, hash, info};
        int l = left_atom ? holds(cx, plan[left].node, there) : run(cx, plan, left, there);
        if (l <= 0) return l;
        int rr = right_atom ? holds(cx, plan[right].node, there) : run(cx, plan, right, there);
        return rr < 0 ? -1 : rr == 0 ? 2 : 0;  // 2: a counterexample
    });
    return r < 0 ? -1 : r == 2 ? 0 : 1;
}

// The clauses for the plan's op `i` at the site's world.
int run(Context &cx, const Plan &plan, int i, Site &at) {
    const Op &op = plan[i];
    switch (op.code) {
    case Op::kFalse: return 0;
    case Op::kTrue: return 1;
    case Op::kAtom: return holds(cx, op.node, at);
    case Op::kStep: return step(cx, op.node, at);
    default: break;
    }
    RecursionGuard guard(" while evaluating a formula", op.guarded);
    if (!guard.ok()) return -1;
    switch (op.code) {
    case Op::kNot: {
        int r = for_each_accessible(cx, at, [&](PyObject *u, Py_hash_t hash, WorldInfo *info) {
            Site there{u, hash, info};
            return run(cx, plan, op.left, there);  // 1: the operand is forced there
        });
        return r < 0 ? -1 : r == 0 ? 1 : 0;
    }
    case Op::kAnd:
    case Op::kOr: {
        int l = run(cx, plan, op.left, at);
        if (l < 0 || l == (op.code == Op::kAnd ? 0 : 1)) return l;
        return run(cx, plan, op.right, at);
    }
    case Op::kImplies: return run_implication(cx, plan, op.left, op.right, at);
    default: {  // Iff: both implications, as the Implies clause would run them
        int l = run_implication(cx, plan, op.left, op.right, at);
        return l <= 0 ? l : run_implication(cx, plan, op.right, op.left, at);
    }
    }
}

}  // namespace

bool watch_namespaces(PyObject *module) {
    PyObject *const dicts[2] = {PyModule_GetDict(module), g.common.dict()};
    return Namespaces::watch(dicts);
}

PyObject *evaluate(PyObject *self, PyObject *formula, PyObject *world) {
    Context cx;
    if (!prepare(cx, self)) return nullptr;
    int r;
    Plan plan;
    int root = cx.exact_nodes && cx.own_accessible ? plan.add(cx, formula) : -1;
    if (root >= 0) {
        Site at{world, -1, nullptr};
        r = run(cx, plan, root, at);
    } else {
        r = force(cx, formula, world);  // the top level always runs here
    }
    if (r < 0) return nullptr;
    return PyBool_FromLong(r);
}

}  // namespace zelqor::kripke
