#pragma once

#include <string>

// Every fatal input or file error ends the run the same way: one line on
// standard error and exit status 1.
[[noreturn]] void error(const char* message);

[[noreturn]] inline void error(const std::string& message)
{
    error(message.c_str());
}
