#pragma once

#include <string>
#include <vector>

// The whole text of a plain or gzip-compressed input (read_checked_text). A
// BGZF file must also end with its end-of-file block: a cut between blocks
// leaves a gzip stream that looks whole. Throws FileError or PrepareError.
std::string read_text_input(const std::string& path);

// "FILE does not end with the BGZF end-of-file block: it looks cut short ..."
std::string missing_end_block(const std::string& file);

// Lines without their newline (and without a Windows '\r'); no empty last line.
std::vector<std::string> split_lines(const std::string& text);
// Fields between tabs: "a\t\tb" gives three, the middle one empty.
std::vector<std::string> split_tabs(const std::string& line);
// Fields between runs of blanks and tabs; none for a blank line.
std::vector<std::string> split_blanks(const std::string& line);
