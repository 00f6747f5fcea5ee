#include "zelqor/tptp/native/state.hpp"

#include "common/module_init.hpp"

namespace zelqor::tptp {

State g;

static bool intern(PyObject *&slot, const char *text) {
    slot = PyUnicode_InternFromString(text);
    return slot != nullptr;
}

bool init_state(PyObject *) {
    g.api = ast::import_api();
    if (g.api == nullptr) return false;
    g.ind = g.api->default_sort;
    g.individual = g.api->variable_kind_individual;
    g.tptp_error = import_attr("zelqor.core.exceptions", "TPTPError");
    g.invalid_formula = import_attr("zelqor.core.exceptions", "InvalidFormulaError");
    g.primitive_sort = import_attr("zelqor.core.sorts", "PrimitiveSort");
    g.verum = import_attr("zelqor.constructive.common", "VERUM");
    g.falsum = import_attr("zelqor.constructive.common", "FALSUM");
    if (g.tptp_error == nullptr || g.invalid_formula == nullptr || g.primitive_sort == nullptr ||
        g.verum == nullptr || g.falsum == nullptr) {
        return false;
    }
    if (!is_exact(g.verum, Kind::PredicateApp) || !is_exact(g.falsum, Kind::PredicateApp)) {
        PyErr_SetString(PyExc_ImportError, "zelqor.constructive.common: VERUM and FALSUM must be PredicateApp nodes");
        return false;
    }
    g.verum_name = new_ref(ast::field(g.verum, ast::slot::pred_pred));
    g.falsum_name = new_ref(ast::field(g.falsum, ast::slot::pred_pred));
    g.empty_tuple = PyTuple_New(0);
    return g.empty_tuple != nullptr && intern(g.str_literals, "literals") && intern(g.str_atom, "atom") &&
           intern(g.str_positive, "positive") && intern(g.str_name, "name") && intern(g.lang_fof, "fof") &&
           intern(g.lang_cnf, "cnf") && intern(g.lang_tff, "tff") && intern(g.lang_tcf, "tcf") && intern(g.kind_constant, "constant") &&
           intern(g.kind_function, "function") && intern(g.kind_predicate, "predicate");
}

bool is_truth_atom(PyObject *node, bool &value) {
    if (node == g.verum || node == g.falsum) {
        value = node == g.verum;
        return true;
    }
    if (!is_exact(node, Kind::PredicateApp)) return false;
    PyObject *args = ast::field(node, ast::slot::pred_args);
    if (!PyTuple_CheckExact(args) || PyTuple_GET_SIZE(args) != 0) return false;
    PyObject *symbol = ast::field(node, ast::slot::pred_pred);
    if (!PyUnicode_CheckExact(symbol)) return false;
    if (PyUnicode_Compare(symbol, g.verum_name) == 0) {
        value = true;
        return true;
    }
    if (PyUnicode_Compare(symbol, g.falsum_name) == 0) {
        value = false;
        return true;
    }
    return false;
}

}  // namespace zelqor::tptp
