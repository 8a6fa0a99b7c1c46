#pragma once

#include "io/matrices.hpp"

// Fills E (`n` rows by `ngene` columns, sized by the caller) from the
// gene-major expression file, checking that it holds exactly `ngene`*`n` values.
void read_expression(ExpressionMatrix& E, const char* path);
