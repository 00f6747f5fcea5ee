#include "zelqor/constructive/search/results.hpp"

namespace zelqor::search {

namespace {

// Steps the root rests on; steps are made premises first, so ascending order
// lists premises before their conclusions.
std::vector<uint32_t> needed_steps(const ProofSearch &search) {
    const auto &steps = search.steps();
    std::vector<uint8_t> needed(steps.size(), 0);
    needed[search.root()] = 1;
    for (size_t i = steps.size(); i-- > 0;) {
        if (!needed[i]) continue;
        const Step &step = steps[i];
        for (uint32_t k = 0; k < step.premise_count; ++k) needed[search.premises()[step.first_premise + k]] = 1;
    }
    std::vector<uint32_t> order;
    for (uint32_t i = 0; i < steps.size(); ++i) {
        if (needed[i]) order.push_back(i);
    }
    return order;
}

PyObject *renaming_to_python(const Renaming &renaming, TreeWriter &writer) {
    Ref mapping = Ref::steal(PyDict_New());
    if (!mapping) return nullptr;
    for (auto [from, to] : renaming) {
        PyObject *key = writer.tree(from);
        PyObject *value = key ? writer.tree(to) : nullptr;
        if (value == nullptr || PyDict_SetItem(mapping.get(), key, value) < 0) return nullptr;
    }
    return mapping.release();
}

}  // namespace

PyObject *derivation_to_python(const ProofSearch &search, const Store &store, const Vocabulary &vocabulary) {
    TreeWriter writer(store, vocabulary);
    std::vector<uint32_t> order = needed_steps(search);
    std::vector<uint32_t> position(search.steps().size(), 0);
    Ref rule_names[kRuleCount];
    for (int r = 0; r < kRuleCount; ++r) {
        rule_names[r] = Ref::steal(PyUnicode_InternFromString(rule_name(static_cast<Rule>(r))));
        if (!rule_names[r]) return nullptr;
    }
    Ref out = Ref::steal(PyList_New(static_cast<Py_ssize_t>(order.size())));
    if (!out) return nullptr;
    for (size_t k = 0; k < order.size(); ++k) {
        const Step &step = search.steps()[order[k]];
        position[order[k]] = static_cast<uint32_t>(k);
        const auto &hyps = step.sequent.hypotheses;
        Ref hypotheses = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(hyps.size())));
        if (!hypotheses) return nullptr;
        for (size_t i = 0; i < hyps.size(); ++i) {
            PyObject *tree = writer.tree(hyps[i]);
            if (tree == nullptr) return nullptr;
            PyTuple_SET_ITEM(hypotheses.get(), static_cast<Py_ssize_t>(i), new_ref(tree));
        }
        PyObject *goal = writer.tree(step.sequent.goal);
        if (goal == nullptr) return nullptr;
        Ref premises = Ref::steal(PyTuple_New(step.premise_count));
        if (!premises) return nullptr;
        for (uint32_t i = 0; i < step.premise_count; ++i) {
            PyObject *number = PyLong_FromUnsignedLong(position[search.premises()[step.first_premise + i]]);
            if (number == nullptr) return nullptr;
            PyTuple_SET_ITEM(premises.get(), i, number);
        }
        PyObject *principal = Py_None;
        if (step.principal != kNoFormula) {
            principal = writer.tree(step.principal);
            if (principal == nullptr) return nullptr;
        }
        Ref renaming = Ref::borrow(Py_None);
        if (step.rule == Rule::Rename) {
            renaming = Ref::steal(renaming_to_python(search.renamings()[step.renaming], writer));
            if (!renaming) return nullptr;
        }
        PyObject *item = PyTuple_Pack(6, hypotheses.get(), goal, rule_names[static_cast<int>(step.rule)].get(),
                                      premises.get(), principal, renaming.get());
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(out.get(), static_cast<Py_ssize_t>(k), item);
    }
    return out.release();
}

PyObject *countermodel_to_python(const Countermodel &model, const Vocabulary &vocabulary) {
    Ref out = Ref::steal(PyList_New(static_cast<Py_ssize_t>(model.worlds.size())));
    if (!out) return nullptr;
    for (size_t k = 0; k < model.worlds.size(); ++k) {
        const Countermodel::World &world = model.worlds[k];
        Ref atoms = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(world.atoms.size())));
        Ref successors = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(world.successors.size())));
        if (!atoms || !successors) return nullptr;
        for (size_t i = 0; i < world.atoms.size(); ++i) {
            PyTuple_SET_ITEM(atoms.get(), static_cast<Py_ssize_t>(i), new_ref(vocabulary.atom(world.atoms[i])));
        }
        for (size_t i = 0; i < world.successors.size(); ++i) {
            PyObject *number = PyLong_FromUnsignedLong(world.successors[i]);
            if (number == nullptr) return nullptr;
            PyTuple_SET_ITEM(successors.get(), static_cast<Py_ssize_t>(i), number);
        }
        PyObject *item = PyTuple_Pack(2, atoms.get(), successors.get());
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(out.get(), static_cast<Py_ssize_t>(k), item);
    }
    return out.release();
}

}  // namespace zelqor::search
