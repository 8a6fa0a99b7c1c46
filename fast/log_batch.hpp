#pragma once

// log_batch (a kernel of the fast tables, fast/log_batch_kernel.hpp):
// natural logarithms of `count` values, vectorised where the level allows
// (the C library's vector logarithm, within 4 ulp; elsewhere std::log).
// Approximate by design: for estimates whose error bounds allow for it,
// never where a value must equal std::log's bit for bit.

// The error bound callers may rely on, in units of the result's magnitude.
constexpr double kLogBatchRelativeError = 8 * 0x1p-52;
