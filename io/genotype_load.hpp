#pragma once

#include "io/matrices.hpp"

// Fills G (`n` rows by 2*`ps` columns, sized by the caller) from a genotype
// file that get_parmeters has already measured and validated.
void read_genotype(GenotypeMatrix& G, const char* path);
