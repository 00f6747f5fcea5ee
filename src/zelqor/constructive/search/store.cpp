#include "zelqor/constructive/search/store.hpp"

#include "common/hashing.hpp"

#include <algorithm>

namespace zelqor::search {

namespace {

uint64_t content_hash(Kind kind, uint32_t atom, const FormulaId *members, uint32_t count) {
    TupleHasher h;
    h.add(static_cast<Py_hash_t>(kind));
    if (kind == Kind::Atom) {
        h.add(atom);
    } else {
        for (uint32_t i = 0; i < count; ++i) h.add(members[i]);
    }
    return static_cast<uint64_t>(h.finish());
}

}  // namespace

Store::Store() {
    table_.assign(1024, 0);
    intern(Kind::Falsum, 0, nullptr, 0);
    intern(Kind::Verum, 0, nullptr, 0);
}

FormulaId Store::atom(uint32_t atom) { return intern(Kind::Atom, atom, nullptr, 0); }

FormulaId Store::conjunction(std::span<const FormulaId> members) { return junction(Kind::And, members); }

FormulaId Store::disjunction(std::span<const FormulaId> members) { return junction(Kind::Or, members); }

FormulaId Store::implication(FormulaId antecedent, FormulaId consequent) {
    FormulaId pair[2] = {antecedent, consequent};
    return intern(Kind::Implies, 0, pair, 2);
}

FormulaId Store::equivalence(FormulaId left, FormulaId right) {
    FormulaId both[2] = {implication(left, right), implication(right, left)};
    return conjunction(both);
}

FormulaId Store::junction(Kind kind, std::span<const FormulaId> members) {
    // `members` may point into pool_, which grows below: gather first.
    std::vector<FormulaId> flat;
    flat.reserve(members.size());
    for (FormulaId m : members) {
        if (nodes_[m].kind == kind) {
            auto inner = this->members(m);
            flat.insert(flat.end(), inner.begin(), inner.end());
        } else {
            flat.push_back(m);
        }
    }
    std::sort(flat.begin(), flat.end());
    flat.erase(std::unique(flat.begin(), flat.end()), flat.end());
    if (flat.empty()) return kind == Kind::And ? verum() : falsum();
    if (flat.size() == 1) return flat[0];
    return intern(kind, 0, flat.data(), static_cast<uint32_t>(flat.size()));
}

bool Store::same(const Node &node, Kind kind, uint32_t atom, const FormulaId *members, uint32_t count) const {
    if (node.kind != kind) return false;
    if (kind == Kind::Atom) return node.first == atom;
    if (node.count != count) return false;
    return std::equal(members, members + count, pool_.data() + node.first);
}

FormulaId Store::intern(Kind kind, uint32_t atom, const FormulaId *members, uint32_t count) {
    uint64_t h = content_hash(kind, atom, members, count);
    size_t mask = table_.size() - 1;
    size_t slot = h & mask;
    while (table_[slot] != 0) {
        const Node &n = nodes_[table_[slot] - 1];
        if (n.hash == h && same(n, kind, atom, members, count)) return table_[slot] - 1;
        slot = (slot + 1) & mask;
    }
    auto id = static_cast<FormulaId>(nodes_.size());
    Node node{kind, atom, count, h};
    if (kind != Kind::Atom) {
        node.first = static_cast<uint32_t>(pool_.size());
        pool_.insert(pool_.end(), members, members + count);
    }
    nodes_.push_back(node);
    table_[slot] = id + 1;
    if (nodes_.size() * 2 > table_.size()) grow_table();
    return id;
}

void Store::grow_table() {
    std::vector<uint32_t> bigger(table_.size() * 2, 0);
    size_t mask = bigger.size() - 1;
    for (size_t id = 0; id < nodes_.size(); ++id) {
        size_t slot = nodes_[id].hash & mask;
        while (bigger[slot] != 0) slot = (slot + 1) & mask;
        bigger[slot] = static_cast<uint32_t>(id + 1);
    }
    table_.swap(bigger);
}

}  // namespace zelqor::search
