#include "zelqor/prover/definitional/pipeline.hpp"

#include "zelqor/prover/definitional/clause_walk.hpp"
#include "zelqor/prover/definitional/miniscope.hpp"
#include "zelqor/prover/definitional/naming.hpp"

namespace zelqor::definitional {

PyObject *clausify(PyObject *formula, PyObject *signature, const Options &options) {
    Ref tree = options.miniscope ? Ref::steal(miniscope(formula)) : Ref::borrow(formula);
    if (!tree) return nullptr;
    // Every node is checked and every id read before anything is drawn.
    Subformulas subformulas;
    FreshIds ids;
    if (!subformulas.build(tree.get(), ids)) return nullptr;
    if (options.naming) {
        mark_polarities(subformulas);
        choose_names(subformulas, options.threshold);
    }
    ClauseWalk walk(subformulas, ids, signature, !options.naming);
    Cnf cnf;
    if (!walk.run(subformulas.root(), cnf)) return nullptr;
    return walk.clauses(cnf);
}

}  // namespace zelqor::definitional
