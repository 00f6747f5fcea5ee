// Immutable records (the syntax-tree nodes, literals and clauses, worlds)
// behave as frozen dataclasses do: the class itself refuses every attribute
// assignment with dataclasses.FrozenInstanceError; a subclass, whose
// instances carry a __dict__, refuses only assignments to the fields it
// inherits. Positional fields are listed in __match_args__, and a copy of an
// immutable record is the record itself.
#pragma once

#include "common/compat.hpp"
#include "common/interned.hpp"
#include "common/module_init.hpp"

#include <cstddef>
#include <initializer_list>

namespace zelqor {

namespace detail {
inline PyObject *frozen_instance_error = nullptr;  // strong, once imported
}  // namespace detail

// Imports dataclasses.FrozenInstanceError, once; every module with records
// calls this at load.
inline bool import_frozen_instance_error() {
    if (detail::frozen_instance_error == nullptr) {
        detail::frozen_instance_error = import_attr("dataclasses", "FrozenInstanceError");
    }
    return detail::frozen_instance_error != nullptr;
}

// "cannot assign to field 'name'" (or "cannot delete field", for a null
// `value`) as FrozenInstanceError. Always -1.
inline int refuse_assignment(PyObject *name, PyObject *value) {
    Ref message = Ref::steal(
        PyUnicode_FromFormat(value != nullptr ? "cannot assign to field %R" : "cannot delete field %R", name));
    if (message) PyErr_SetObject(detail::frozen_instance_error, message.get());
    return -1;
}

// Whether `name` is a str equal to one of `fields`.
inline bool is_field_name(PyObject *name, const char *const *fields, size_t count) {
    if (!PyUnicode_Check(name)) return false;
    for (size_t i = 0; i < count; ++i) {
        if (PyUnicode_CompareWithASCIIString(name, fields[i]) == 0) return true;
    }
    return false;
}
inline bool is_field_name(PyObject *name, std::initializer_list<const char *> fields) {
    return is_field_name(name, fields.begin(), fields.size());
}

// The tp_setattro of a record class `record`: its own instances refuse
// everything; a subclass instance takes any attribute but the fields, as
// `is_field(name)` tells them.
template <typename IsField>
int set_record_attribute(PyObject *self, PyObject *name, PyObject *value, PyTypeObject *record, IsField &&is_field) {
    if (Py_TYPE(self) != record && !is_field(name)) return PyObject_GenericSetAttr(self, name, value);
    return refuse_assignment(name, value);
}

// Sets `type.__match_args__` to the interned names, through the type's
// dictionary, which also serves a type that refuses attribute assignment.
inline bool set_match_args(PyTypeObject *type, const char *const *names, size_t count) {
    Ref tuple = Ref::steal(interned_tuple(names, count));
    return tuple && set_in_type_dict(type, "__match_args__", tuple.get());
}
inline bool set_match_args(PyTypeObject *type, std::initializer_list<const char *> names) {
    return set_match_args(type, names.begin(), names.size());
}

// The instance dictionary of a subclass instance, to be pickled along with
// the fields: left empty when there is none or it is empty; false with the
// exception set on error.
inline bool record_instance_dict(PyObject *self, Ref &dict) {
    static PyObject *dict_name = nullptr;
    if (dict_name == nullptr && (dict_name = PyUnicode_InternFromString("__dict__")) == nullptr) return false;
    PyObject *found = nullptr;
    if (get_optional_attr(self, dict_name, &found) < 0) return false;
    dict = Ref::steal(found);
    if (dict && (!PyDict_Check(dict.get()) || PyDict_GET_SIZE(dict.get()) == 0)) dict.reset();
    return true;
}

// __copy__ and __deepcopy__ of an immutable record: the record itself.
inline PyObject *copy_of_immutable(PyObject *self, PyObject *) { return new_ref(self); }

}  // namespace zelqor
