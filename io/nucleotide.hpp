#pragma once

// The allele letters the input formats accept, in either case. Case is kept
// as read: it matters when alleles are compared later.
inline bool is_nucleotide(char c)
{
    switch (c) {
    case 'A': case 'T': case 'G': case 'C':
    case 'a': case 't': case 'g': case 'c':
        return true;
    default:
        return false;
    }
}
