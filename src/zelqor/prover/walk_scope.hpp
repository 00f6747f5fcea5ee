// What a clause-form walk knows of the variables in scope: every input
// variable bound on the way down stands for a fresh variable (a universal)
// or a Skolem term (an existential), and atoms are read through that map.
#pragma once

#include "common/dict_lookup.hpp"
#include "zelqor/core/ast/api.hpp"
#include "zelqor/core/substitutions/api.hpp"

#include <vector>

namespace zelqor::prover {

// A fresh variable with id `id` and the sort and kind of `like`.
inline PyObject *fresh_variable(const ast::Api *api, PyObject *like, PyObject *id) {
    auto fields = ast::variable_fields(id, ast::field(like, ast::slot::var_kind), ast::field(like, ast::slot::sort));
    return api->make(ast::Kind::Variable, fields.data());
}

class Scope {
public:
    // Maps `var` to `image`; `previous` keeps what it stood for before (an
    // inner quantifier over the same variable shadows the outer one), held:
    // the look-up may run a variable's __eq__, which could drop it.
    bool bind(PyObject *var, PyObject *image, Ref &previous) {
        if (!map_) {
            map_ = Ref::steal(PyDict_New());
            if (!map_) return false;
        }
        previous = dict_lookup(map_.get(), var);
        if (!previous && PyErr_Occurred()) return false;
        return PyDict_SetItem(map_.get(), var, image) == 0;
    }

    bool unbind(PyObject *var, Ref &previous) {
        return (previous ? PyDict_SetItem(map_.get(), var, previous.get()) : PyDict_DelItem(map_.get(), var)) == 0;
    }

    // Walks the body of a quantifier over `var` (numbered `id`) with `var`
    // standing for a fresh variable, pushed on `universals` meanwhile, when
    // `universal`, and for `skolem(sort)` otherwise; the binding is undone
    // after `body()` succeeds. A failed body fails the whole call, which drops
    // the scope: nothing to restore, and no hash to run with an error pending.
    template <typename Skolem, typename Body>
    bool quantified(const ast::Api *api, PyObject *var, PyObject *id, bool universal, std::vector<Ref> &universals,
                    Skolem &&skolem, Body &&body) {
        Ref image = universal ? Ref::steal(fresh_variable(api, var, id)) : skolem(ast::field(var, ast::slot::sort));
        Ref previous;
        if (!image || !bind(var, image.get(), previous)) return false;
        if (universal) universals.push_back(Ref::borrow(image.get()));
        bool ok = body();
        if (universal) universals.pop_back();
        return ok && unbind(var, previous);
    }

    // What `var` stands for (borrowed), or null when it is not bound (with an
    // exception set if the look-up failed).
    PyObject *image_of(PyObject *var) const {
        return map_ ? PyDict_GetItemWithError(map_.get(), var) : nullptr;
    }

    // `atom` with the images of its variables (new reference). Fresh
    // variables and Skolem terms keep the sorts of what they replace, so no
    // sort check is needed.
    PyObject *apply(const subst::Api *api, PyObject *atom) const {
        if (!map_ || PyDict_GET_SIZE(map_.get()) == 0) return new_ref(atom);
        return api->substitute_formula_presorted(atom, map_.get());
    }

private:
    Ref map_;
};

}  // namespace zelqor::prover
