#pragma once

#include <cstdint>
#include <cstdio>

#include "io/line_buffer.hpp"

// Reference allele of SNP k: the first character of line k (from 0) of the
// allele file. Opens and reads the file from its start on every call; any
// fault in the file ends the process.
void getallele(unsigned k, char& allele, const char* path);

// The same lookup for a scan that asks for SNP 0, 1, 2, ... in turn: the file
// is opened at the first lookup and read once front to back, so each lookup
// continues where the previous one stopped. Results and messages are those
// of getallele for the same k. Asking for an earlier (or the same) SNP
// starts over from the top of the file. The caller owns the reader and
// closes it with close_allele_reader.
struct AlleleReader {
    std::FILE* file = nullptr;
    std::uint64_t reads = 0;  // successful reads since the file was opened
    LineBuffer buffer;
};

void lookup_allele(AlleleReader& reader, unsigned k, char& allele, const char* path);
// The same lookup that hands a fault back instead of ending the process: the
// message lookup_allele would print, or nullptr. A threaded scan first
// finishes the SNPs before the faulty one, then reports it.
const char* find_allele(AlleleReader& reader, unsigned k, char& allele, const char* path);
void close_allele_reader(AlleleReader& reader);
