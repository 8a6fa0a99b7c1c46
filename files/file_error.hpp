#pragma once

#include <stdexcept>

// A file that cannot be read, is damaged, or must not be written over. The
// message names the file and says what is wrong; each program prints it in
// its own way (morv-merge after "morv-merge: ", the others after "Error: ").
struct FileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
