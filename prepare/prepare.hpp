#pragma once

#include <ostream>

#include "files/manifest.hpp"
#include "prepare/options.hpp"

// Converts the study's files as `options` say, writes the six outputs and
// the manifest (begun by begin_manifest with the command line), and prints
// the summary to `out`. Throws ProgramError or FileError.
void prepare(const Options& options, Manifest manifest, std::ostream& out);
