// Forcing: whether a world forces a formula.
//
// The names the clauses rely on (the three predicates of the constructive
// module and the five connective classes) are module attributes, read once
// per call of `evaluate`. While they still hold the objects imported at load,
// the clauses run here without calling out; otherwise the attributes are
// called as they are. Recursive steps go through `self.evaluate` whenever a
// subclass or instance replaced it.
#include "common/guard.hpp"
#include "zelqor/constructive/kripke/model.hpp"

#include <vector>

namespace zelqor::kripke {

namespace {

using ast::Kind;

enum Predicate : int { kFalsum, kVerum, kAtomic };
constexpr Imported kPredicateNames[3] = {kIsFalsum, kIsVerum, kIsAtomic};
constexpr Imported kClassNames[5] = {kNot, kAnd, kOr, kImplies, kIff};
constexpr Kind kClassKinds[5] = {Kind::Not, Kind::And, Kind::Or, Kind::Implies, Kind::Iff};

struct Context {
    PyObject *self = nullptr;
    bool own_evaluate = true;
    bool own_accessible = true;
    bool own_classes = true;            // the five connectives are the syntax tree's
    bool own_predicate[3] = {true, true, true};
    Ref classes[5];
    Ref predicates[3];
    Ref falsum, verum, predicate_app;   // what the constructive module's predicates read
    bool all_own() const {
        return own_evaluate && own_classes && own_predicate[0] && own_predicate[1] && own_predicate[2];
    }
};

bool prepare(Context &cx, PyObject *self) {
    cx.self = self;
    int own = uses_own(self, kEvaluate);
    if (own < 0) return false;
    cx.own_evaluate = own;
    own = uses_own(self, kAccessibleWorlds);
    if (own < 0) return false;
    cx.own_accessible = own;
    for (int i = 0; i < 5; ++i) {
        cx.classes[i] = module_global(kClassNames[i]);
        if (!cx.classes[i]) return false;
        cx.own_classes = cx.own_classes && cx.classes[i].get() == g.imported[kClassNames[i]];
    }
    PyObject *common_names[3] = {g.str_falsum, g.str_verum, g.str_predicate_app};
    Ref *common_values[3] = {&cx.falsum, &cx.verum, &cx.predicate_app};
    for (int i = 0; i < 3; ++i) {
        cx.predicates[i] = module_global(kPredicateNames[i]);
        if (!cx.predicates[i]) return false;
        // The package's own predicate reads a global of its module at call time.
        *common_values[i] = Ref::borrow(PyDict_GetItemWithError(g.common_globals, common_names[i]));
        if (!*common_values[i] && PyErr_Occurred()) return false;
        cx.own_predicate[i] = cx.predicates[i].get() == g.imported[kPredicateNames[i]] && *common_values[i];
    }
    return true;
}

// `f == constant`, as the constructive module compares.
int equals(PyObject *f, PyObject *constant) {
    PyTypeObject *tf = Py_TYPE(f), *tc = Py_TYPE(constant);
    richcmpfunc nodes = node_type(Kind::PredicateApp)->tp_richcompare;
    // Two node classes that both compare as nodes: different classes never match.
    if (tf != tc && tf->tp_richcompare == nodes && tc->tp_richcompare == nodes) return 0;
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

// Which connective clause applies: 0..4 for Not, And, Or, Implies, Iff; 5 none.
int connective(Context &cx, PyObject *f) {
    if (cx.own_classes) {
        PyTypeObject *t = Py_TYPE(f);
        for (int i = 0; i < 5; ++i) {
            if (t == node_type(kClassKinds[i])) return i;
        }
        for (int i = 0; i < 5; ++i) {
            if (PyObject_TypeCheck(f, node_type(kClassKinds[i]))) return i;
        }
        return 5;
    }
    for (int i = 0; i < 5; ++i) {
        int r = instance_of(f, cx.classes[i].get());
        if (r != 0) return r < 0 ? -1 : i;
    }
    return 5;
}

// A member of a connective: read in place from our own nodes, else by name.
Ref member(Context &cx, PyObject *f, int slot, PyObject *name) {
    if (cx.own_classes) return Ref::borrow(ast::field(f, slot));
    return Ref::steal(PyObject_GetAttr(f, name));
}

// acc(world): a snapshot of its row, or the world alone.
bool accessible(Context &cx, PyObject *world, std::vector<Ref> &out) {
    Ref source;
    if (cx.own_accessible) {
        Ref relations = Ref::borrow(as_model(cx.self)->relations);
        Ref row = dict_get(relations.get(), world);
        if (!row) {
            if (PyErr_Occurred()) return false;
            out.push_back(Ref::borrow(world));
            return true;
        }
        source = PySet_CheckExact(row.get()) ? std::move(row) : Ref::steal(PySet_New(row.get()));
    } else {
        source = Ref::steal(call_method(cx.self, kAccessibleWorlds, &world, 1));
    }
    if (!source) return false;
    Ref it = Ref::steal(PyObject_GetIter(source.get()));
    if (!it) return false;
    while (Ref u = Ref::steal(PyIter_Next(it.get()))) out.push_back(std::move(u));
    return !PyErr_Occurred();
}

int force(Context &cx, PyObject *f, PyObject *w);

// A recursive step: here, or through the replaced `self.evaluate`.
int step(Context &cx, PyObject *f, PyObject *w) {
    if (cx.own_evaluate) return force(cx, f, w);
    PyObject *args[2] = {f, w};
    Ref r = Ref::steal(call_method(cx.self, kEvaluate, args, 2));
    return r ? PyObject_IsTrue(r.get()) : -1;
}

// left -> right at every world accessible from w.
int implication(Context &cx, PyObject *left, PyObject *right, PyObject *w) {
    std::vector<Ref> worlds;
    if (!accessible(cx, w, worlds)) return -1;
    for (const Ref &u : worlds) {
        int l = step(cx, left, u.get());
        if (l <= 0) {
            if (l < 0) return -1;
            continue;
        }
        int r = step(cx, right, u.get());
        if (r <= 0) return r;
    }
    return 1;
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
    if (r) {
        Ref valuations = Ref::borrow(as_model(cx.self)->valuations);
        Ref set = dict_get(valuations.get(), w);
        if (!set) return PyErr_Occurred() ? -1 : 0;
        return PySequence_Contains(set.get(), f);
    }

    int kind = connective(cx, f);
    switch (kind) {
    case -1: return -1;
    case 0: {  // Not: no accessible world forces the operand
        Ref operand = member(cx, f, ast::slot::operand, g.str_operand);
        if (!operand) return -1;
        std::vector<Ref> worlds;
        if (!accessible(cx, w, worlds)) return -1;
        for (const Ref &u : worlds) {
            int s = step(cx, operand.get(), u.get());
            if (s != 0) return s < 0 ? -1 : 0;
        }
        return 1;
    }
    case 1:    // And
    case 2: {  // Or
        bool is_and = kind == 1;
        Ref left = member(cx, f, ast::slot::left, g.str_left);
        if (!left) return -1;
        int l = step(cx, left.get(), w);
        if (l < 0 || l == (is_and ? 0 : 1)) return l;
        Ref right = member(cx, f, ast::slot::right, g.str_right);
        if (!right) return -1;
        return step(cx, right.get(), w);
    }
    case 3: {  // Implies
        Ref left = member(cx, f, ast::slot::left, g.str_left);
        Ref right = left ? member(cx, f, ast::slot::right, g.str_right) : Ref();
        if (!right) return -1;
        return implication(cx, left.get(), right.get(), w);
    }
    case 4: {  // Iff: both implications
        Ref left = member(cx, f, ast::slot::left, g.str_left);
        Ref right = left ? member(cx, f, ast::slot::right, g.str_right) : Ref();
        if (!right) return -1;
        if (cx.all_own()) {
            // Our own Implies nodes would be evaluated by the Implies clause
            // alone, so the two nodes need not be built.
            int l = implication(cx, left.get(), right.get(), w);
            return l <= 0 ? l : implication(cx, right.get(), left.get(), w);
        }
        Ref left_imp = make_implies(cx, left.get(), right.get());
        if (!left_imp) return -1;
        Ref right_imp = make_implies(cx, right.get(), left.get());
        if (!right_imp) return -1;
        int l = step(cx, left_imp.get(), w);
        return l <= 0 ? l : step(cx, right_imp.get(), w);
    }
    default: return 0;
    }
}

}  // namespace

PyObject *evaluate(PyObject *self, PyObject *formula, PyObject *world) {
    Context cx;
    if (!prepare(cx, self)) return nullptr;
    int r = force(cx, formula, world);
    if (r < 0) return nullptr;
    return PyBool_FromLong(r);
}

}  // namespace zelqor::kripke
