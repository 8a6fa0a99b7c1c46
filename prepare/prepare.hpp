#pragma once

#include <ostream>

#include "prepare/options.hpp"

// Converts the study's files as `options` say, writes the six outputs and
// prints the summary to `out`. Throws PrepareError.
void prepare(const Options& options, std::ostream& out);
