#pragma once

#include <stdexcept>

// Every refusal of morv-merge: main prints "morv-merge: " and the message,
// which names the file(s) and the problem, and ends with status 1.
struct MergeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
