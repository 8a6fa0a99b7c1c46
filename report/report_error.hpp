#pragma once

#include <stdexcept>
#include <string>

// Every failure of the report programs: the message after "Error: ". The
// mains print it on one line and end with status 1.
struct ReportError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
