#pragma once

#include <string>

// Files written under a temporary name and renamed over their final name. A
// rename replaces whatever has that name: a device (/dev/null as OUT would
// become a regular file), a FIFO, a link's target's name. So an existing
// path must be a regular file to be written over.

// Throws FileError unless `path` does not exist or is a regular file (a
// symbolic link is judged by the path itself: renaming over it replaces the
// link, not its target, so it is refused too). `role` names the file in the
// message, e.g. "the output file".
void check_replaceable(const std::string& path, const std::string& role);

// The same as a test: "" when replaceable, else why not.
std::string why_not_replaceable(const std::string& path, const std::string& role);

// Writes `text` to `path` through a temporary beside it, renamed into place:
// the file is never seen half written. Checks the path first. Throws FileError.
void write_file_atomically(const std::string& path, const std::string& text, const std::string& role);
