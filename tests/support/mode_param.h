#pragma once
// Names the RTU and ASCII instances of a suite parameterised by transmission mode.

#include <gtest/gtest.h>

#include <string>

#include "quelvan/connection_types.h"

namespace quelvan::test {

inline std::string ModeName(const ::testing::TestParamInfo<TTransmissionMode>& Param) {
    return Param.param == tmRTU ? "RTU" : "ASCII";
}

}  // namespace quelvan::test
