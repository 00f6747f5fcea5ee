#include "zelqor/constructive/search/lifting.hpp"

#include "common/pyref.hpp"

#include <algorithm>
#include <numeric>
#include <unordered_map>
#include <unordered_set>

namespace zelqor::search {

namespace {

constexpr uint32_t kNone = UINT32_MAX;

uint64_t pair_key(FormulaId a, FormulaId b) {
    if (a > b) std::swap(a, b);
    return (static_cast<uint64_t>(a) << 32) | b;
}

struct Grid {
    std::vector<std::vector<FormulaId>> rows;                    // atoms of each hypothesis
    std::unordered_map<FormulaId, std::vector<uint32_t>> rows_of;  // atom -> rows it sits in
    std::unordered_set<uint64_t> pairs;                          // goal pairs
    std::unordered_map<FormulaId, std::vector<FormulaId>> partners;
};

// Reads the sequent as rows and goal pairs; false when it has another shape.
bool read_grid(const Store &store, const Sequent &sequent, Grid &grid) {
    if (store.kind(sequent.goal) != Kind::Or) return false;
    for (FormulaId h : sequent.hypotheses) {
        if (store.kind(h) != Kind::Or) return false;
        std::vector<FormulaId> row;
        for (FormulaId a : store.members(h)) {
            if (store.kind(a) != Kind::Atom) return false;
            row.push_back(a);
        }
        for (FormulaId a : row) grid.rows_of[a].push_back(static_cast<uint32_t>(grid.rows.size()));
        grid.rows.push_back(std::move(row));
    }
    for (FormulaId m : store.members(sequent.goal)) {
        if (store.kind(m) != Kind::And) return false;
        auto both = store.members(m);
        if (both.size() != 2 || store.kind(both[0]) != Kind::Atom || store.kind(both[1]) != Kind::Atom) return false;
        grid.pairs.insert(pair_key(both[0], both[1]));
        grid.partners[both[0]].push_back(both[1]);
        grid.partners[both[1]].push_back(both[0]);
    }
    return true;
}

struct UnionFind {
    std::vector<uint32_t> parent;
    explicit UnionFind(size_t n) : parent(n) { std::iota(parent.begin(), parent.end(), 0); }
    uint32_t find(uint32_t x) {
        while (parent[x] != x) x = parent[x] = parent[parent[x]];
        return x;
    }
    void unite(uint32_t a, uint32_t b) { parent[find(a)] = find(b); }
};

}  // namespace

Lifted lift(Store &store, AtomMaker &maker, const Sequent &sequent, Sequent &lifted, Renaming &renaming,
            FormulaId &image_goal) {
    Grid grid;
    if (!read_grid(store, sequent, grid)) return Lifted::NotApplicable;
    // Atoms in one row fix the columns: the goal pairs among them join a column.
    std::vector<FormulaId> single;
    std::unordered_map<FormulaId, uint32_t> number;
    bool shared = false;
    for (auto &[atom, rows] : grid.rows_of) {
        if (rows.size() == 1) {
            number[atom] = static_cast<uint32_t>(single.size());
            single.push_back(atom);
        } else {
            shared = true;
        }
    }
    if (!shared) return Lifted::NotApplicable;
    UnionFind columns(single.size());
    for (auto &[atom, others] : grid.partners) {
        auto a = number.find(atom);
        if (a == number.end()) continue;
        for (FormulaId other : others) {
            auto b = number.find(other);
            if (b != number.end()) columns.unite(a->second, b->second);
        }
    }
    // Column -> (row -> the row's atom there). A row twice in a column is no grid.
    std::unordered_map<uint32_t, std::unordered_map<uint32_t, FormulaId>> column_rows;
    for (uint32_t i = 0; i < single.size(); ++i) {
        uint32_t row = grid.rows_of[single[i]][0];
        if (!column_rows[columns.find(i)].emplace(row, single[i]).second) return Lifted::NotApplicable;
    }
    // Each copy of a shared atom goes to the one column its row leaves open
    // and whose atoms of other rows all pair with it.
    std::unordered_map<uint64_t, uint32_t> column_of;  // (atom, row) -> column
    for (uint32_t i = 0; i < single.size(); ++i) {
        column_of[pair_key(single[i], grid.rows_of[single[i]][0])] = columns.find(i);
    }
    std::vector<std::pair<uint32_t, uint32_t>> placed;  // (column, row) of the copies
    for (auto &[atom, rows] : grid.rows_of) {
        if (rows.size() < 2) continue;
        std::unordered_set<FormulaId> partners(grid.partners[atom].begin(), grid.partners[atom].end());
        for (uint32_t row : rows) {
            uint32_t chosen = kNone;
            for (auto &[column, members] : column_rows) {
                if (members.count(row) != 0) continue;
                bool meets_all = !members.empty();
                for (auto &[other_row, other] : members) meets_all = meets_all && partners.count(other) != 0;
                if (!meets_all) continue;
                if (chosen != kNone) return Lifted::NotApplicable;  // ambiguous
                chosen = column;
            }
            if (chosen == kNone) return Lifted::NotApplicable;
            column_of[pair_key(atom, row)] = chosen;
            placed.push_back({chosen, row});
        }
    }
    // A column may take each row once, copies included.
    for (auto [column, row] : placed) {
        if (!column_rows[column].emplace(row, kNoFormula).second) return Lifted::NotApplicable;
    }
    // Every atom of every row becomes a fresh atom, numbered row by row and
    // column by column, so that the lifted grid is as regular in its
    // numbering as in its shape.
    std::vector<uint32_t> column_order;
    std::unordered_map<uint32_t, FormulaId> column_key;
    for (auto &[key, column] : column_of) {
        FormulaId atom = static_cast<FormulaId>(key >> 32);
        auto known = column_key.find(column);
        if (known == column_key.end()) {
            column_key.emplace(column, atom);
            column_order.push_back(column);
        } else if (atom < known->second) {
            known->second = atom;
        }
    }
    std::sort(column_order.begin(), column_order.end(),
              [&](uint32_t a, uint32_t b) { return column_key[a] < column_key[b]; });
    std::unordered_map<uint32_t, uint32_t> column_rank;
    for (uint32_t i = 0; i < column_order.size(); ++i) column_rank[column_order[i]] = i;
    std::unordered_map<FormulaId, FormulaId> original_of;
    std::vector<std::vector<std::pair<uint32_t, FormulaId>>> by_column(column_order.size());  // (row, copy)
    lifted.hypotheses.clear();
    for (uint32_t row = 0; row < grid.rows.size(); ++row) {
        std::vector<std::pair<uint32_t, FormulaId>> cells;  // (column rank, original atom)
        for (FormulaId a : grid.rows[row]) cells.push_back({column_rank[column_of[pair_key(a, row)]], a});
        std::sort(cells.begin(), cells.end());
        std::vector<FormulaId> atoms;
        for (auto [rank, a] : cells) {
            uint32_t index = maker.copy_of(store.atom_index(a), row);
            if (index == kNone) return PyErr_Occurred() ? Lifted::Error : Lifted::NotApplicable;
            FormulaId copy = store.atom(index);
            original_of[copy] = a;
            renaming.push_back({copy, a});
            by_column[rank].push_back({row, copy});
            atoms.push_back(copy);
        }
        lifted.hypotheses.push_back(store.disjunction(atoms));
    }
    std::sort(lifted.hypotheses.begin(), lifted.hypotheses.end());
    lifted.hypotheses.erase(std::unique(lifted.hypotheses.begin(), lifted.hypotheses.end()), lifted.hypotheses.end());
    std::vector<FormulaId> goal, kept;
    for (const auto &cells : by_column) {
        for (size_t i = 0; i < cells.size(); ++i) {
            for (size_t j = i + 1; j < cells.size(); ++j) {
                FormulaId a = original_of[cells[i].second], b = original_of[cells[j].second];
                if (a == b || grid.pairs.count(pair_key(a, b)) == 0) continue;
                FormulaId both[2] = {cells[i].second, cells[j].second};
                goal.push_back(store.conjunction(both));
                FormulaId originals[2] = {a, b};
                kept.push_back(store.conjunction(originals));
            }
        }
    }
    lifted.goal = store.disjunction(goal);
    image_goal = store.disjunction(kept);
    return Lifted::Done;
}

}  // namespace zelqor::search
