#include "simd/isa.hpp"

#include <cstring>
#include <stdexcept>
#include <string>

namespace {

struct CpuLevels {
    bool avx2 = false;
    bool avx512 = false;
};

CpuLevels detect()
{
#if !defined(__x86_64__)
    return {};  // only the generic level is built off x86-64
#else
    __builtin_cpu_init();
    CpuLevels c;
    c.avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    c.avx512 = c.avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
               __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
    return c;
#endif
}

const CpuLevels& cpu()
{
    static const CpuLevels c = detect();
    return c;
}

}  // namespace

const char* isa_name(Isa isa)
{
    switch (isa) {
    case Isa::avx512:
        return "avx512";
    case Isa::avx2:
        return "avx2";
    case Isa::generic:
        break;
    }
    return "generic";
}

bool isa_supported(Isa isa)
{
    switch (isa) {
    case Isa::avx512:
        return cpu().avx512;
    case Isa::avx2:
        return cpu().avx2;
    case Isa::generic:
        break;
    }
    return true;
}

Isa best_isa()
{
    return isa_supported(Isa::avx512) ? Isa::avx512 : isa_supported(Isa::avx2) ? Isa::avx2 : Isa::generic;
}

Isa chosen_isa(const char* value)
{
    if (!value || !*value)
        return best_isa();
    std::string levels;
    for (Isa isa : {Isa::generic, Isa::avx2, Isa::avx512}) {
        if (std::strcmp(value, isa_name(isa)) != 0)
            continue;
        if (isa_supported(isa))
            return isa;
        for (Isa have : supported_isas())
            levels += (levels.empty() ? "" : ", ") + std::string(isa_name(have));
        throw std::invalid_argument("MORV_ISA=" + std::string(value) + ": this CPU lacks the " + value +
                                    " level (it has " + levels + ")");
    }
    throw std::invalid_argument("MORV_ISA=" + std::string(value) + " is not a level: say generic, avx2 or avx512");
}

std::vector<Isa> supported_isas()
{
    std::vector<Isa> levels;
    for (Isa isa : {Isa::generic, Isa::avx2, Isa::avx512})
        if (isa_supported(isa))
            levels.push_back(isa);
    return levels;
}
