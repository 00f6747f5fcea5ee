// Coverage-guided fuzzing of the TPTP reader (and of the writer on what it
// reads), with libFuzzer, inside an embedded interpreter.
//
// The first byte of an input picks what the rest is read as: a problem, or a
// single formula in one of the languages. Includes resolve to a small file,
// to a failing resolver or to bad resolver results, chosen by the name. A
// TPTPError or any other exception the reader documents is a clean outcome;
// SystemError (an error returned with none set, a bad internal call) or an
// exception that is not an Exception stops the run as a finding, as does
// anything the sanitizers see.
//
// Built by fuzz/tptp.sh, which also installs the instrumented extensions.
#include <Python.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

PyObject *parse_problem = nullptr;
PyObject *parse_formula = nullptr;
PyObject *write_formula = nullptr;
PyObject *write_annotated = nullptr;
PyObject *resolver = nullptr;
PyObject *languages[4] = {};

const char kResolver[] = R"(
def resolve(name, including):
    if name.startswith("bad"):
        return 42
    if name.startswith("missing"):
        raise LookupError("no such file: " + name)
    if name.startswith("self"):
        return including, b"include('" + name.encode() + b"')."
    return name, b"fof(included, axiom, p(a)).\ncnf(c, axiom, q(X) | ~ r(X)).\ntff(t, type, s: $tType).\n"
)";

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "tptp_fuzzer: %s\n", what);
    if (PyErr_Occurred()) PyErr_Print();
    std::abort();
}

PyObject *attribute(PyObject *module, const char *name) {
    PyObject *value = PyObject_GetAttrString(module, name);
    if (value == nullptr) fail(name);
    return value;
}

// An exception the reader may raise on bad text; anything else is a finding.
void clear_expected_error() {
    if (!PyErr_Occurred()) fail("a call failed with no exception set");
    if (PyErr_ExceptionMatches(PyExc_SystemError) || !PyErr_ExceptionMatches(PyExc_Exception)) {
        fail("unexpected exception");
    }
    PyErr_Clear();
}

// Writes back what was read: each record's formula through the writer.
void write_back(PyObject *records) {
    PyObject *formulas = PyTuple_GetItem(records, 0);
    if (formulas == nullptr || !PyList_Check(formulas)) fail("parse_problem returned no list of formulas");
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(formulas); ++i) {
        PyObject *record = PyList_GET_ITEM(formulas, i);
        if (!PyTuple_Check(record) || PyTuple_GET_SIZE(record) < 4) fail("a record is not a tuple");
        PyObject *text = PyObject_CallFunctionObjArgs(write_annotated, PyTuple_GET_ITEM(record, 0),
                                                      PyTuple_GET_ITEM(record, 1), PyTuple_GET_ITEM(record, 2),
                                                      PyTuple_GET_ITEM(record, 3), nullptr);
        if (text == nullptr) clear_expected_error();
        Py_XDECREF(text);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // The interpreter's allocations go through malloc, where the sanitizers see them.
    setenv("PYTHONMALLOC", "malloc", 1);
    PyConfig config;
    PyConfig_InitPythonConfig(&config);
    config.install_signal_handlers = 0;  // libFuzzer handles the signals
    // FUZZ_PYTHON names the virtual environment's interpreter, so that its
    // site-packages (the instrumented extensions) are found.
    if (const char *python = std::getenv("FUZZ_PYTHON")) {
        if (PyStatus_Exception(PyConfig_SetBytesString(&config, &config.program_name, python))) fail("config");
    }
    if (PyStatus_Exception(Py_InitializeFromConfig(&config))) fail("cannot start the interpreter");
    PyConfig_Clear(&config);

    PyObject *native = PyImport_ImportModule("zelqor.tptp._native");
    if (native == nullptr) fail("cannot import zelqor.tptp._native");
    parse_problem = attribute(native, "parse_problem");
    parse_formula = attribute(native, "parse_formula");
    write_formula = attribute(native, "write_formula");
    write_annotated = attribute(native, "write_annotated");
    PyObject *globals = PyDict_New();
    if (globals == nullptr || PyDict_SetItemString(globals, "__builtins__", PyEval_GetBuiltins()) < 0) fail("dict");
    PyObject *done = PyRun_String(kResolver, Py_file_input, globals, globals);
    if (done == nullptr) fail("resolver");
    Py_DECREF(done);
    resolver = PyDict_GetItemString(globals, "resolve");
    Py_XINCREF(resolver);
    const char *names[4] = {"fof", "cnf", "tff", "tcf"};
    for (int i = 0; i < 4; ++i) languages[i] = PyUnicode_InternFromString(names[i]);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    uint8_t mode = data[0];
    PyObject *text = PyBytes_FromStringAndSize(reinterpret_cast<const char *>(data + 1),
                                               static_cast<Py_ssize_t>(size - 1));
    if (text == nullptr) fail("bytes");
    if (mode % 5 == 0) {
        PyObject *source = PyUnicode_FromString("fuzz/problem.p");
        PyObject *result = PyObject_CallFunctionObjArgs(parse_problem, text, source, resolver, nullptr);
        Py_DECREF(source);
        if (result == nullptr) {
            clear_expected_error();
        } else {
            if (!PyTuple_Check(result) || PyTuple_GET_SIZE(result) != 3) fail("parse_problem returned no triple");
            write_back(result);
            Py_DECREF(result);
        }
    } else {
        PyObject *formula = PyObject_CallFunctionObjArgs(parse_formula, text, languages[mode % 5 - 1], nullptr);
        if (formula == nullptr) {
            clear_expected_error();
        } else {
            PyObject *written = PyObject_CallFunctionObjArgs(write_formula, formula, nullptr);
            if (written == nullptr) clear_expected_error();
            Py_XDECREF(written);
            Py_DECREF(formula);
        }
    }
    Py_DECREF(text);
    return 0;
}
