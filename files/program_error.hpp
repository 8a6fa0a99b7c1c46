#pragma once

#include <stdexcept>

// What a companion program refuses or fails at (an option, an input, a
// shard, its output): the message names the file or option and what is
// wrong. Each main prints it after its own prefix ("Error: ", "morv-merge: ")
// and ends with status 1. An exception, not exit(), so tests and the fuzz
// targets can see the refusal and go on. Kept apart from FileError, which
// some callers catch to say more.
struct ProgramError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
