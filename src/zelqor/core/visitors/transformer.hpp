// ASTTransformer and SubstitutionTransformer.
#pragma once

#include "zelqor/core/visitors/dispatch.hpp"
