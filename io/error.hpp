#pragma once

// Every fatal input or file error ends the run the same way: one line on
// standard error and exit status 1.
[[noreturn]] void error(const char* message);
