#pragma once

#include <string>
#include <vector>

#include "driver/scan.hpp"
#include "driver/startup.hpp"
#include "driver/study_options.hpp"
#include "files/file_error.hpp"
#include "files/manifest.hpp"

// The manifest of a run with study options, `<result>.manifest.json`: what
// morv-merge, morv-annotate and morv-qq check a result against. Written when
// the result file is created, with "complete": false, and again at the
// successful end with the counts; a run that fails or is interrupted leaves
// it saying incomplete. A classic run writes none.
Manifest start_run_manifest(const std::vector<std::string>& command, const RunPaths& paths,
                            const StudyOptions& study, double threshold, const char* cpuLevel);

void finish_run_manifest(Manifest& m, const ScanCounts& counts);

// The histogram as written: its size and checksum, so a merge takes the
// very file this run wrote. Throws FileError.
void note_histogram(Manifest& m, const std::string& path);

// Writes it beside the result file; a failure is a fatal "Error: " line.
void write_run_manifest(const RunPaths& paths, const Manifest& m);

// A record or manifest that cannot be written ends the run as any file
// error of morv's does: "Error: " and the message, status 1.
[[noreturn]] void end_with(const FileError& e);

// Before a result file is (re)created: a record or manifest of an earlier
// run must not describe the new file.
void remove_stale_companions(const std::string& resultPath);
