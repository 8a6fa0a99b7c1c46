#pragma once

#include <fstream>
#include <string>

#include "files/program_error.hpp"

// Calls take(line, number) for each line of `path`, numbered from 1, and
// returns how many there were. Throws ProgramError when the file cannot be
// opened or read.
template <class Take>
unsigned long for_each_line(const std::string& path, Take take)
{
    std::ifstream in(path);
    if (!in)
        throw ProgramError("cannot open " + path);
    std::string line;
    unsigned long number = 0;
    while (std::getline(in, line))
        take(line, ++number);
    if (in.bad())
        throw ProgramError("cannot read " + path);
    return number;
}
