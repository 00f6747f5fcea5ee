#include "zelqor/constructive/search/symmetry.hpp"

namespace zelqor::search {

bool SymmetryIndex::worthwhile(const Store &, FormulaId) { return false; }

void SymmetryIndex::remember(const Sequent &, uint32_t) {}

uint32_t SymmetryIndex::find(const Sequent &, const std::vector<Step> &, Renaming &) { return UINT32_MAX; }

}  // namespace zelqor::search
