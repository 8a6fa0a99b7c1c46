#include "io/error.hpp"

#include <cstdio>
#include <cstdlib>

void error(const char* message)
{
    std::fputs(message, stderr);
    std::fputc('\n', stderr);
    std::exit(1);
}
