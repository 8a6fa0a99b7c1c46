#pragma once

#include <stdexcept>

// A fault in the inputs or options: main prints "Error: " and the message and
// ends with status 1. An exception, not exit(), so tests and the fuzz target
// can see the rejection and go on.
struct PrepareError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
