// Definitions of named subformulas (see clause_walk.hpp).
#include "zelqor/prover/definitional/clause_walk.hpp"

#include "zelqor/prover/skolem.hpp"

namespace zelqor::definitional {

namespace slot = ast::slot;

namespace {

PyObject *predicate(PyObject *name, PyObject *args) {
    Ref arity = Ref::steal(PyLong_FromSsize_t(PyTuple_GET_SIZE(args)));
    if (!arity) return nullptr;
    PyObject *fields[3] = {name, arity.get(), args};
    return g.api->make(Kind::PredicateApp, fields);
}

// `atom` with `replacements[i]` for `variables[i]` (tuples of equal length).
PyObject *renamed(PyObject *atom, PyObject *variables, PyObject *replacements) {
    if (PyTuple_GET_SIZE(variables) == 0) return new_ref(atom);
    Ref mapping = Ref::steal(PyDict_New());
    if (!mapping) return nullptr;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(variables); ++i) {
        if (PyDict_SetItem(mapping.get(), PyTuple_GET_ITEM(variables, i), PyTuple_GET_ITEM(replacements, i)) < 0) {
            return nullptr;
        }
    }
    // Variables for variables of the same sorts: no sort check needed.
    return g.subst_api->substitute_formula_presorted(atom, mapping.get());
}

// Variables like those of `variables` (their sorts and kinds), with ids
// from `next_id` (a function giving new references).
template <typename NextId>
PyObject *variables_like(PyObject *variables, NextId &&next_id) {
    Py_ssize_t count = PyTuple_GET_SIZE(variables);
    Ref made = Ref::steal(PyTuple_New(count));
    if (!made) return nullptr;
    for (Py_ssize_t i = 0; i < count; ++i) {
        Ref id = Ref::steal(next_id(i));
        PyObject *var = id ? prover::fresh_variable(g.api, PyTuple_GET_ITEM(variables, i), id.get()) : nullptr;
        if (var == nullptr) return nullptr;
        PyTuple_SET_ITEM(made.get(), i, var);
    }
    return made.release();
}

}  // namespace

int ClauseWalk::definition_for(int32_t index, bool positive, Ref &atom) {
    PyObject *free = free_variables_.of(index);
    if (free == nullptr) return -1;
    // What the walk made of each free variable here; a variable free in the
    // whole formula stands for itself.
    Py_ssize_t count = PyList_GET_SIZE(free);
    Ref images = Ref::steal(PyTuple_New(count));
    if (!images) return -1;
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject *var = PyList_GET_ITEM(free, i);
        PyObject *image = scope_.image_of(var);
        if (image == nullptr && PyErr_Occurred()) return -1;
        PyTuple_SET_ITEM(images.get(), i, new_ref(image != nullptr ? image : var));
    }
    Ref variables_list = Ref::steal(OrderedFreeVariables::of_terms(images.get()));
    Ref variables = variables_list ? Ref::steal(PyList_AsTuple(variables_list.get())) : Ref();
    if (!variables) return -1;
    // The key: the images with their variables numbered in order.
    atom = Ref::steal(predicate(g.str_pattern, images.get()));
    Ref canonical = atom ? Ref::steal(variables_like(variables.get(), [](Py_ssize_t i) {
        return PyLong_FromSsize_t(i);
    })) : Ref();
    Ref pattern = canonical ? Ref::steal(renamed(atom.get(), variables.get(), canonical.get())) : Ref();
    Ref position = pattern ? Ref::steal(PyLong_FromLong(index)) : Ref();
    Ref key = position ? Ref::steal(PyTuple_Pack(2, position.get(), pattern.get())) : Ref();
    if (!key) return -1;
    if (!definitions_by_pattern_) {
        definitions_by_pattern_ = Ref::steal(PyDict_New());
        if (!definitions_by_pattern_) return -1;
    }
    PyObject *known = PyDict_GetItemWithError(definitions_by_pattern_.get(), key.get());
    if (known == nullptr && PyErr_Occurred()) return -1;
    int definition;
    if (known != nullptr) {
        definition = static_cast<int>(PyLong_AsLong(known));
    } else {
        Ref name = Ref::steal(names_.next());
        if (!name) return -1;
        Py_ssize_t arity = PyTuple_GET_SIZE(variables.get());
        Ref arg_sorts = Ref::steal(PyTuple_New(arity));
        Ref arity_value = Ref::steal(PyLong_FromSsize_t(arity));
        if (!arg_sorts || !arity_value) return -1;
        for (Py_ssize_t i = 0; i < arity; ++i) {
            PyTuple_SET_ITEM(arg_sorts.get(), i, new_ref(ast::field(PyTuple_GET_ITEM(variables.get(), i), slot::sort)));
        }
        if (signature_ != Py_None && !prover::register_symbol(signature_, g.str_register_predicate,
                                                              {name.get(), arity_value.get(), arg_sorts.get()})) {
            return -1;
        }
        definition = static_cast<int>(definitions_.size());
        Ref number = Ref::steal(PyLong_FromLong(definition));
        if (!number || PyDict_SetItem(definitions_by_pattern_.get(), key.get(), number.get()) < 0) return -1;
        definitions_.push_back(Definition{index, std::move(name), std::move(pattern), std::move(canonical)});
    }
    Definition &made = definitions_[static_cast<size_t>(definition)];
    atom = Ref::steal(predicate(made.name.get(), variables.get()));
    if (!atom) return -1;
    uint8_t direction = positive ? kPositive : kNegative;
    if ((made.queued & direction) == 0) {
        made.queued |= direction;
        queue_.emplace_back(definition, positive);
    }
    return definition;
}

// ∀ȳ (¬d(ȳ) ∨ φ) for the positive direction, ∀ȳ (d(ȳ) ∨ ¬φ) for the
// negative one, with φ's free variables standing for their images: ȳ are
// fresh universal variables for the variables of those images.
bool ClauseWalk::definition_clauses(int definition, bool positive, Cnf &out) {
    int32_t index = definitions_[static_cast<size_t>(definition)].subformula;
    Ref name = Ref::borrow(definitions_[static_cast<size_t>(definition)].name.get());
    Ref pattern = Ref::borrow(definitions_[static_cast<size_t>(definition)].pattern.get());
    Ref parameters = Ref::borrow(definitions_[static_cast<size_t>(definition)].parameters.get());
    Ref fresh = Ref::steal(variables_like(parameters.get(), [this](Py_ssize_t) { return ids_.next(); }));
    Ref instance = fresh ? Ref::steal(renamed(pattern.get(), parameters.get(), fresh.get())) : Ref();
    Ref head_atom = instance ? Ref::steal(predicate(name.get(), fresh.get())) : Ref();
    PyObject *free = head_atom ? free_variables_.of(index) : nullptr;
    if (free == nullptr) return false;
    PyObject *images = ast::field(instance.get(), slot::pred_args);
    Py_ssize_t count = PyList_GET_SIZE(free);
    std::vector<Ref> previous(static_cast<size_t>(count));
    Py_ssize_t bound = 0;
    bool ok = true;
    for (; bound < count; ++bound) {
        ok = scope_.bind(PyList_GET_ITEM(free, bound), PyTuple_GET_ITEM(images, bound),
                         previous[static_cast<size_t>(bound)]);
        if (!ok) break;
    }
    size_t outer = universals_.size();
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(fresh.get()); ++i) {
        universals_.push_back(Ref::borrow(PyTuple_GET_ITEM(fresh.get(), i)));
    }
    Cnf head, body;
    ok = ok && literal(head_atom.get(), !positive, head) && walk(index, positive, body, true);
    if (ok) out = prover::product(head, body);
    universals_.resize(outer);
    for (Py_ssize_t i = bound; i-- > 0;) {
        ok = scope_.unbind(PyList_GET_ITEM(free, i), previous[static_cast<size_t>(i)]) && ok;
    }
    return ok;
}

}  // namespace zelqor::definitional
