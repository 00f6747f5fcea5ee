#include "zelqor/tptp/native/symbols.hpp"

namespace zelqor::tptp {

Interner::~Interner() {
    strings_.for_each([](const std::string &, PyObject *string) { Py_DECREF(string); });
}

PyObject *Interner::get(std::string_view text) {
    if (PyObject **found = strings_.find(text)) return *found;
    Ref string = Ref::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict"));
    if (!string) return nullptr;
    strings_.insert(text, string.get());
    return string.release();
}

Symbol &SymbolTable::find_or_add(std::string_view key, bool &created) {
    if (size_t *found = index_.find(key)) {
        created = false;
        return symbols_[*found];
    }
    created = true;
    Symbol &symbol = symbols_.emplace_back();
    index_.insert(key, symbols_.size() - 1);
    return symbol;
}

SortTable::~SortTable() {
    for (PyObject *sort : order_) Py_DECREF(sort);
}

PyObject *SortTable::find(std::string_view name) {
    PyObject **found = sorts_.find(name);
    return found == nullptr ? nullptr : *found;
}

bool SortTable::add(std::string_view name, PyObject *sort) {
    Ref owned = Ref::steal(sort);
    if (sorts_.find(name) != nullptr) return false;
    order_.reserve(order_.size() + 1);
    sorts_.insert(name, sort);
    order_.push_back(owned.release());
    return true;
}

}  // namespace zelqor::tptp
