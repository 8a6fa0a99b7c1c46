#pragma once

#include <string>
#include <vector>


// Lines without their newline (and without a Windows '\r'); no empty last line.
std::vector<std::string> split_lines(const std::string& text);
// Fields between tabs: "a\t\tb" gives three, the middle one empty.
std::vector<std::string> split_tabs(const std::string& line);
// Fields between runs of blanks and tabs; none for a blank line.
std::vector<std::string> split_blanks(const std::string& line);
