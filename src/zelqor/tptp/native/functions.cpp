// Entry points: argument binding, then the reader, the writer or a pass.
#include "zelqor/tptp/native/functions.hpp"

#include "common/args.hpp"
#include "common/boundary.hpp"
#include "zelqor/tptp/native/names.hpp"
#include "zelqor/tptp/native/parser.hpp"
#include "zelqor/tptp/native/passes.hpp"
#include "zelqor/tptp/native/writer.hpp"

namespace zelqor::tptp {

namespace {

bool bind(const char *function, std::initializer_list<const char *> names, int npositional,
          std::initializer_list<PyObject *> defaults, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
          PyObject **out) {
    const Signature sig{function, static_cast<int>(names.size()), npositional, names.begin(), defaults.begin()};
    return bind_vector(sig, args, nargs, kwnames, out);
}

bool check_str(PyObject *value, const char *name) { return check_exact_arg(value, &PyUnicode_Type, name, "str"); }

bool check_optional_dict(PyObject *value, const char *name) {
    if (value == Py_None || PyDict_Check(value)) return true;
    PyErr_Format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected dict or None, got %.200s)", name,
                 Py_TYPE(value)->tp_name);
    return false;
}

PyObject *to_str(const std::string &text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
}

PyObject *raise_invalid(const std::string &message) {
    Ref text = Ref::steal(to_str(message));
    if (text) PyErr_SetObject(g.invalid_formula, text.get());
    return nullptr;
}

bool language_of(PyObject *name, Language &language) {
    Py_ssize_t size = 0;
    const char *data = PyUnicode_AsUTF8AndSize(name, &size);
    if (data == nullptr) return false;
    std::string_view text(data, static_cast<size_t>(size));
    if (text == "fof") {
        language = Language::Fof;
    } else if (text == "cnf") {
        language = Language::Cnf;
    } else if (text == "tff") {
        language = Language::Tff;
    } else if (text == "tcf") {
        language = Language::Tcf;
    } else {
        PyErr_Format(PyExc_ValueError, "unsupported language %R: expected 'fof', 'cnf', 'tff' or 'tcf'", name);
        return false;
    }
    return true;
}

// ---- reading ----------------------------------------------------------------------------

PyObject *symbol_table(const ProblemState &state) {
    Ref list = Ref::steal(PyList_New(0));
    if (!list) return nullptr;
    for (const Symbol &symbol : state.symbols.all()) {
        PyObject *kind = symbol.use == Use::Predicate ? g.kind_predicate :
                         symbol.arity == 0 ? g.kind_constant : g.kind_function;
        Ref arg_sorts = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(symbol.arg_sorts.size())));
        if (!arg_sorts) return nullptr;
        for (size_t i = 0; i < symbol.arg_sorts.size(); ++i) {
            PyTuple_SET_ITEM(arg_sorts.get(), static_cast<Py_ssize_t>(i), new_ref(symbol.arg_sorts[i]));
        }
        Ref entry = Ref::steal(Py_BuildValue("(OOiOO)", kind, symbol.name, symbol.arity, arg_sorts.get(),
                                             symbol.result != nullptr ? symbol.result : Py_None));
        if (!entry || PyList_Append(list.get(), entry.get()) < 0) return nullptr;
    }
    return list.release();
}

PyObject *read_problem_text(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *bound[4];
    if (!bind("parse_problem", {"data", "source", "resolver", "record"}, 4,
              {nullptr, nullptr, Py_None, reinterpret_cast<PyObject *>(&PyTuple_Type)}, args, nargs, kwnames, bound) ||
        !check_exact_arg(bound[0], &PyBytes_Type, "data", "bytes") || !check_str(bound[1], "source")) {
        return nullptr;
    }
    PyObject *data = bound[0], *source = bound[1], *resolver = bound[2], *record = bound[3];
    if (resolver != Py_None && !PyCallable_Check(resolver)) {
        PyErr_SetString(PyExc_TypeError, "the include resolver must be callable or None");
        return nullptr;
    }
    if (!PyType_Check(record) || !PyType_IsSubtype(reinterpret_cast<PyTypeObject *>(record), &PyTuple_Type)) {
        PyErr_SetString(PyExc_TypeError, "record must be tuple or a subclass of it");
        return nullptr;
    }
    ProblemState state(static_cast<size_t>(PyBytes_GET_SIZE(data)));
    state.resolver = resolver;
    state.record_type = reinterpret_cast<PyTypeObject *>(record);
    state.open_files.push_back(source);
    const char *begin = PyBytes_AS_STRING(data);
    try {
        Parser parser(state, source, begin, begin + PyBytes_GET_SIZE(data));
        parser.read_file();
    } catch (const Unwind &) {
        return nullptr;
    }
    Ref formulas = Ref::steal(PyList_New(static_cast<Py_ssize_t>(state.entries.size())));
    if (!formulas) return nullptr;
    for (size_t i = 0; i < state.entries.size(); ++i) {
        PyList_SET_ITEM(formulas.get(), static_cast<Py_ssize_t>(i), state.entries[i].record.release());
    }
    Ref symbols = Ref::steal(symbol_table(state));
    if (!symbols) return nullptr;
    const std::vector<PyObject *> &declared = state.sorts.declared();
    Ref sorts = Ref::steal(PyList_New(static_cast<Py_ssize_t>(declared.size())));
    if (!sorts) return nullptr;
    for (size_t i = 0; i < declared.size(); ++i) {
        PyList_SET_ITEM(sorts.get(), static_cast<Py_ssize_t>(i), new_ref(declared[i]));
    }
    return PyTuple_Pack(3, formulas.get(), symbols.get(), sorts.get());
}

PyObject *read_formula_text(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static PyObject *default_source = PyUnicode_InternFromString("<formula>");
    if (default_source == nullptr) return nullptr;
    PyObject *bound[3];
    if (!bind("parse_formula", {"data", "language", "source"}, 3, {nullptr, g.lang_fof, default_source}, args, nargs,
              kwnames, bound) ||
        !check_exact_arg(bound[0], &PyBytes_Type, "data", "bytes") || !check_str(bound[1], "language") ||
        !check_str(bound[2], "source")) {
        return nullptr;
    }
    Language language;
    if (!language_of(bound[1], language)) return nullptr;
    ProblemState state(static_cast<size_t>(PyBytes_GET_SIZE(bound[0])));
    const char *begin = PyBytes_AS_STRING(bound[0]);
    try {
        Parser parser(state, bound[2], begin, begin + PyBytes_GET_SIZE(bound[0]));
        return parser.read_formula(language);
    } catch (const Unwind &) {
        return nullptr;
    }
}

// ---- writing ----------------------------------------------------------------------------

PyObject *write_formula(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *bound[4];
    if (!bind("write_formula", {"formula", "variable_names", "infix", "tff"}, 4, {nullptr, Py_None, Py_False, Py_False},
              args, nargs, kwnames, bound) ||
        !check_optional_dict(bound[1], "variable_names")) {
        return nullptr;
    }
    int infix = PyObject_IsTrue(bound[2]), tff = PyObject_IsTrue(bound[3]);
    if (infix < 0 || tff < 0) return nullptr;
    Writer writer(infix ? Style::Infix : Style::Tptp, bound[1] == Py_None ? nullptr : bound[1], tff == 1);
    try {
        writer.name_free_variables(bound[0]);
        writer.formula(bound[0]);
    } catch (const Unwind &) {
        return nullptr;
    }
    if (!infix && !tff && writer.met_sorts()) {
        return raise_invalid("the formula has terms of sorts other than $i, which only tff can write");
    }
    return to_str(writer.out);
}

PyObject *write_annotated(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *bound[5];
    if (!bind("write_annotated", {"language", "name", "role", "formula", "variable_names"}, 5,
              {nullptr, nullptr, nullptr, nullptr, Py_None}, args, nargs, kwnames, bound) ||
        !check_str(bound[0], "language") || !check_str(bound[1], "name") || !check_str(bound[2], "role") ||
        !check_optional_dict(bound[4], "variable_names")) {
        return nullptr;
    }
    Language language;
    if (!language_of(bound[0], language)) return nullptr;
    Py_ssize_t size = 0;
    const char *role = PyUnicode_AsUTF8AndSize(bound[2], &size);
    if (role == nullptr) return nullptr;
    if (!is_known_role(std::string_view(role, static_cast<size_t>(size)))) {
        PyErr_Format(PyExc_ValueError, "unknown role %R", bound[2]);
        return nullptr;
    }
    const char *name = PyUnicode_AsUTF8AndSize(bound[1], &size);
    if (name == nullptr) return nullptr;
    std::string out;
    bool clause = language == Language::Cnf || language == Language::Tcf;
    PyObject *names = bound[4] == Py_None ? nullptr : bound[4];
    Writer plain(Style::Tptp, names, language == Language::Tff || language == Language::Tcf);
    try {
        plain.name_free_variables(bound[3]);
        if (clause) plain.clause_tree(bound[3]);
    } catch (const Unwind &) {
        return nullptr;
    }
    // A clause with sorts is a typed clause, in whose language numbers are
    // arithmetic: write it again as such.
    bool typed_clause = clause && (plain.met_sorts() || language == Language::Tcf);
    Writer writer(Style::Tptp, names, language == Language::Tff || typed_clause);
    try {
        writer.name_free_variables(bound[3]);
        if (clause) {
            writer.clause_tree(bound[3]);
        } else {
            if (writer.has_free_variables()) {
                return raise_invalid(cat("formula '", std::string_view(name, static_cast<size_t>(size)),
                                         "' has free variables, which fof and tff do not allow"));
            }
            writer.formula(bound[3]);
        }
        std::string body;
        body.swap(writer.out);
        if (language == Language::Fof && writer.met_sorts()) {
            return raise_invalid("the formula has terms of sorts other than $i, which only tff can write");
        }
        const char *keyword = language == Language::Fof ? "fof(" : language == Language::Tff ? "tff(" : "cnf(";
        out.append(typed_clause ? "tcf(" : keyword);
        if (!append_formula_name(out, std::string_view(name, static_cast<size_t>(size)))) {
            return raise_invalid(cat("the name '", std::string_view(name, static_cast<size_t>(size)),
                                     "' cannot be written in TPTP: quoted names hold printable ASCII only"));
        }
        out.append(", ").append(role).append(", ");
        if (typed_clause && writer.has_free_variables()) {
            writer.free_variable_prefix();
            out.append(writer.out).append("(").append(body).append(")");
        } else {
            out.append(body);
        }
        out.append(").");
    } catch (const Unwind &) {
        return nullptr;
    }
    return to_str(out);
}

PyObject *write_clause(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *bound[2];
    if (!bind("write_clause", {"clause", "infix"}, 2, {nullptr, Py_False}, args, nargs, kwnames, bound)) return nullptr;
    int infix = PyObject_IsTrue(bound[1]);
    if (infix < 0) return nullptr;
    Writer writer(infix ? Style::Infix : Style::Tptp, nullptr, false);
    try {
        writer.clause(bound[0]);
    } catch (const Unwind &) {
        return nullptr;
    }
    return to_str(writer.out);
}

// One line per clause: `cnf(<name>_<k>, <role>, <literals>).`, or
// `<name>_<k>: <literals>` in infix.
PyObject *write_clause_lines(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *bound[2];
    if (!bind("write_clause_lines", {"groups", "infix"}, 2, {nullptr, Py_False}, args, nargs, kwnames, bound)) {
        return nullptr;
    }
    int infix = PyObject_IsTrue(bound[1]);
    if (infix < 0) return nullptr;
    Ref groups = Ref::steal(PyObject_GetIter(bound[0]));
    if (!groups) return nullptr;
    std::string out;
    Writer writer(infix ? Style::Infix : Style::Tptp, nullptr, false);
    try {
        while (PyObject *item = PyIter_Next(groups.get())) {
            Ref group = Ref::steal(item);
            PyObject *name = nullptr, *role = nullptr, *clauses = nullptr;
            if (!PyTuple_Check(group.get()) || PyTuple_GET_SIZE(group.get()) != 3) {
                PyErr_Format(PyExc_TypeError, "format_clauses: each group must be a (name, role, clauses) tuple, not %R",
                             group.get());
                return nullptr;
            }
            if (!PyArg_ParseTuple(group.get(), "UUO:format_clauses", &name, &role, &clauses)) return nullptr;
            Py_ssize_t name_size = 0, role_size = 0;
            const char *name_text = PyUnicode_AsUTF8AndSize(name, &name_size);
            const char *role_text = name_text ? PyUnicode_AsUTF8AndSize(role, &role_size) : nullptr;
            if (role_text == nullptr) return nullptr;
            std::string_view role_view(role_text, static_cast<size_t>(role_size));
            if (!infix && !is_known_role(role_view)) {
                PyErr_Format(PyExc_ValueError, "unknown role %R", role);
                return nullptr;
            }
            Ref iterator = Ref::steal(PyObject_GetIter(clauses));
            if (!iterator) return nullptr;
            long number = 0;
            while (PyObject *clause = PyIter_Next(iterator.get())) {
                Ref owned = Ref::steal(clause);
                std::string clause_name = cat(std::string_view(name_text, static_cast<size_t>(name_size)), "_",
                                              ++number);
                writer.reset(false);
                writer.clause(clause);
                if (infix) {
                    out.append(clause_name).append(": ").append(writer.out).push_back('\n');
                    continue;
                }
                // A clause with sorts is a typed clause, in whose language
                // numbers are arithmetic: write it again as such.
                bool typed = writer.met_sorts();
                if (typed) {
                    writer.reset(true);
                    writer.clause(clause);
                }
                out.append(typed ? "tcf(" : "cnf(");
                if (!append_formula_name(out, clause_name)) {
                    return raise_invalid(cat("the name '", clause_name,
                                             "' cannot be written in TPTP: quoted names hold printable ASCII only"));
                }
                out.append(", ").append(role_view).append(", ");
                if (typed && writer.has_free_variables()) {
                    std::string body;
                    body.swap(writer.out);
                    writer.free_variable_prefix();
                    out.append(writer.out).append("(").append(body).append(")");
                } else {
                    out.append(writer.out);
                }
                out.append(").\n");
            }
            if (PyErr_Occurred()) return nullptr;
        }
    } catch (const Unwind &) {
        return nullptr;
    }
    if (PyErr_Occurred()) return nullptr;
    return to_str(out);
}

// tff(name, type, symbol: type). for a symbol; tff(name, type, sort: $tType). for a sort.
PyObject *write_type_declaration(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *bound[4];
    if (!bind("write_type_declaration", {"name", "symbol", "result", "arg_sorts"}, 4,
              {nullptr, nullptr, nullptr, g.empty_tuple}, args, nargs, kwnames, bound) ||
        !check_str(bound[0], "name")) {
        return nullptr;
    }
    PyObject *symbol = bound[1], *result = bound[2];
    if (symbol != Py_None && !check_str(symbol, "symbol")) return nullptr;
    Ref arg_sorts = Ref::steal(PySequence_Tuple(bound[3]));
    if (!arg_sorts) return nullptr;
    std::string out = "tff(";
    try {
        auto name = [&](PyObject *text, const char *what) {
            Py_ssize_t size = 0;
            const char *data = PyUnicode_AsUTF8AndSize(text, &size);
            if (data == nullptr) unwind();
            if (!append_formula_name(out, std::string_view(data, static_cast<size_t>(size)))) {
                raise_invalid(cat("the ", what, " '", std::string_view(data, static_cast<size_t>(size)),
                                  "' cannot be written in TPTP: quoted names hold printable ASCII only"));
                unwind();
            }
        };
        name(bound[0], "name");
        out.append(", type, ");
        if (symbol == Py_None) {
            append_sort_name(out, result);
            out.append(": $tType).");
            return to_str(out);
        }
        name(symbol, "symbol");
        out.append(": ");
        Py_ssize_t count = PyTuple_GET_SIZE(arg_sorts.get());
        if (count > 1) out.push_back('(');
        for (Py_ssize_t i = 0; i < count; ++i) {
            if (i > 0) out.append(" * ");
            append_sort_name(out, PyTuple_GET_ITEM(arg_sorts.get(), i));
        }
        if (count > 1) out.push_back(')');
        if (count > 0) out.append(" > ");
        if (result == Py_None) {
            out.append("$o");
        } else {
            append_sort_name(out, result);
        }
        out.append(").");
    } catch (const Unwind &) {
        return nullptr;
    }
    return to_str(out);
}

// ---- passes -------------------------------------------------------------------------------

PyObject *simplify(PyObject *, PyObject *formula) { return simplify_truth_constants(formula); }

PyObject *count_clauses(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    PyObject *bound[2];
    if (!bind("count_distributed_clauses", {"formula", "positive"}, 2, {nullptr, Py_True}, args, nargs, kwnames,
              bound)) {
        return nullptr;
    }
    int positive = PyObject_IsTrue(bound[1]);
    if (positive < 0) return nullptr;
    uint64_t count = 0;
    if (!count_distributed_clauses(bound[0], positive == 1, count)) return nullptr;
    return PyLong_FromUnsignedLongLong(count);
}

}  // namespace

#define ZQ_KEYWORDS(f) ZQ_FASTCALL(boundary<f>), METH_FASTCALL | METH_KEYWORDS

PyMethodDef kFunctions[] = {
    {"parse_problem", ZQ_KEYWORDS(read_problem_text),
     "parse_problem(data, source, resolver=None, record=...)\n--\n\n"
     "Read the annotated formulas of a TPTP text. `resolver(name, including_source)` returns the (source, bytes) "
     "of an included file. Returns (formulas, symbols, sorts), each formula a `record` (a tuple type, tuple by "
     "default) of (name, role, language, formula, source, line, variable_names)."},
    {"parse_formula", ZQ_KEYWORDS(read_formula_text),
     "parse_formula(data, language='fof', source='<formula>')\n--\n\nRead one formula of the given language."},
    {"write_formula", ZQ_KEYWORDS(write_formula),
     "write_formula(formula, variable_names=None, infix=False, tff=False)\n--\n\nThe text of a formula."},
    {"write_annotated", ZQ_KEYWORDS(write_annotated),
     "write_annotated(language, name, role, formula, variable_names=None)\n--\n\n"
     "An annotated formula, such as fof(name, role, formula)."},
    {"write_clause", ZQ_KEYWORDS(write_clause),
     "write_clause(clause, infix=False)\n--\n\nThe literals of a clause, in a fixed order."},
    {"write_clause_lines", ZQ_KEYWORDS(write_clause_lines),
     "write_clause_lines(groups, infix=False)\n--\n\n"
     "One line per clause of each (name, role, clauses) group: cnf(name_k, role, literals)."},
    {"write_type_declaration", ZQ_KEYWORDS(write_type_declaration),
     "write_type_declaration(name, symbol, result, arg_sorts=())\n--\n\n"
     "tff(name, type, symbol: type). where result None means $o; with symbol None, the declaration of the sort "
     "`result`."},
    {"simplify_truth_constants", reinterpret_cast<PyCFunction>(boundary<simplify>), METH_O,
     "simplify_truth_constants(formula, /)\n--\n\n"
     "The formula with $true and $false simplified away: VERUM, FALSUM, or a formula holding neither."},
    {"count_distributed_clauses", ZQ_KEYWORDS(count_clauses),
     "count_distributed_clauses(formula, positive=True)\n--\n\n"
     "How many clauses distributing the formula (or its negation) gives, before tautologies are dropped."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace zelqor::tptp
