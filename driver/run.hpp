#pragma once

#include "driver/scan.hpp"

// The whole run of a front end: start-up (options, checks, threshold,
// loading), the result header, the scan by the given engine, the counts.
// Returns the exit status; fatal errors end the process from where they are
// found.
int morv_main(int argc, char** argv, ScanEngine engine);
