// The fuzz build's error(): linked ahead of the library's, which would end
// the process. Throwing keeps the [[noreturn]] promise; the stack unwinds
// through the loaders, so whatever they hold open must be released by scope.
#include "io/error.hpp"

#include "fuzz/fatal_error.hpp"

void error(const char* message)
{
    throw FatalError{message};
}
