#pragma once

#include <cfloat>

// IEEE binary128, in which the exp and log tables are built: long double
// where it is that format (aarch64 Linux), GCC's __float128 elsewhere
// (x86-64). Both round every operation the same way, so the tables match.
#if LDBL_MANT_DIG == 113
using binary128 = long double;
#else
using binary128 = __float128;
#endif
