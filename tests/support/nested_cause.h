#pragma once
// Checks that an error carries the system's reason as a nested platform::EOSError.

#include <gtest/gtest.h>

#include <exception>
#include <string>

#include "platform/exceptions.h"

namespace quelvan::test {

inline void ExpectNestedOSError(const std::exception& E, int ErrorCode, const std::string& Fragment) {
    try {
        std::rethrow_if_nested(E);
        ADD_FAILURE() << "no cause nested in \"" << E.what() << "\"";
    } catch (const platform::EOSError& cause) {
        EXPECT_EQ(cause.ErrorCode(), ErrorCode) << cause.what();
        EXPECT_NE(std::string(cause.what()).find(Fragment), std::string::npos) << cause.what();
    }
}

}  // namespace quelvan::test
