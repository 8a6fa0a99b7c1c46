#include "fast/result_line.hpp"

#include <cmath>

#include "exact/fixed_format.hpp"
#include "stats/cascade.hpp"

char* format_line(char* p, const char* prefix, std::size_t prefixLen, std::size_t g2, int flag,
                  double pMc, double lda, double pIt)
{
    p = put_text(p, prefix, prefixLen);
    p = put_uint(p, g2);
    *p++ = '\t';
    *p++ = static_cast<char>('0' + flag);
    *p++ = '\t';
    p = format_fixed6(p, std::log10(pMc));
    if (flag == kPrunedByMc)
        return put_text(p, "\t1.0\t1.0\n", 9);
    *p++ = '\t';
    p = format_fixed6(p, lda);
    if (flag == kPrunedByLda)
        return put_text(p, "\t1.0\n", 5);
    *p++ = '\t';
    p = format_fixed6(p, std::log10(pIt));
    *p++ = '\n';
    return p;
}
