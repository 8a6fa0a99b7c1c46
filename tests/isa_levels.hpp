#pragma once

// A test suite run at every instruction-set level: derive its fixture from
// IsaLevel and instantiate it with MORV_ISA_LEVELS(Suite). A level this CPU
// lacks is reported as skipped.

#include <gtest/gtest.h>

#include <string>

#include "fast/kernels.hpp"

class IsaLevel : public testing::TestWithParam<Isa> {
protected:
    void SetUp() override
    {
        if (!isa_supported(GetParam()))
            GTEST_SKIP() << "this CPU lacks the " << isa_name(GetParam()) << " level";
    }
    const Kernels& kernels() const { return kernels_for(GetParam()); }
};

#define MORV_ISA_LEVELS(Suite)                                                                   \
    INSTANTIATE_TEST_SUITE_P(Levels, Suite, testing::Values(Isa::generic, Isa::avx2, Isa::avx512), \
                             [](const testing::TestParamInfo<Isa>& level) {                       \
                                 return std::string(isa_name(level.param));                        \
                             })
