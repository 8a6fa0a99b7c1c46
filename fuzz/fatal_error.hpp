#pragma once

#include <string>

// What error() throws in the fuzz build instead of ending the process: the
// message the program would have printed. Each target catches it, so a
// rejected input is an ordinary outcome and the next input can run.
struct FatalError {
    std::string message;
};
