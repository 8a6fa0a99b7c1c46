#pragma once

// The three run-wide counts, written once by the dimension scan of the input
// files and only read afterwards.
extern int ps;     // SNPs
extern int ngene;  // genes
extern int n;      // samples
