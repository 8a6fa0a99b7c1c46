#pragma once

// Measures the genotype file (samples `n`, SNPs `ps`) and the expression file
// (genes `ngene`) and validates the genotype layout. Any fault is fatal.
void get_parmeters(const char* genotypePath, const char* expressionPath);
