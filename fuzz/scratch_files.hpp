#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The loaders take paths, so each input is written to a file first. Files
// live in one directory per process (under /dev/shm when it exists, so that
// they stay in memory), removed when the process ends normally.

// Writes `size` bytes to the scratch file `name` (replacing it) and returns
// its path.
std::string write_scratch(const char* name, const std::uint8_t* data, std::size_t size);
std::string write_scratch(const char* name, const std::string& text);
