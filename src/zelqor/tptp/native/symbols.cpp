#include "zelqor/tptp/native/symbols.hpp"

#include <cstring>

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
    Recent *recent = nullptr;
    uint64_t head = 0, tail = 0;
    if (key.size() <= 16) {
        std::memcpy(&head, key.data(), key.size() < 8 ? key.size() : 8);
        if (key.size() > 8) std::memcpy(&tail, key.data() + 8, key.size() - 8);
        uint64_t mixed = (head ^ (tail * 0x9e3779b97f4a7c15ULL) ^ key.size()) * 0xbf58476d1ce4e5b9ULL;
        recent = &recent_[mixed >> 56];
        if (recent->size == key.size() && recent->head == head && recent->tail == tail) {
            created = false;
            return symbols_[recent->index];
        }
    }
    size_t index;
    if (size_t *found = index_.find(key)) {
        created = false;
        index = *found;
    } else {
        created = true;
        symbols_.emplace_back();
        index = symbols_.size() - 1;
        index_.insert(key, index);
    }
    if (recent != nullptr) {
        *recent = Recent{head, tail, static_cast<uint32_t>(key.size()), static_cast<uint32_t>(index)};
    }
    return symbols_[index];
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
