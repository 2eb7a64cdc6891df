// For the tests that need the double-byte ANSI code page 932. The ctest run
// that sets QM_EXPECT_ACP must really have it; any other run skips them.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>

// Call from SetUp: fails when the run was meant for another code page than
// it has, skips the test when the code page is not 932.
inline void require_code_page_932() {
    const char* expected = std::getenv("QM_EXPECT_ACP");
    if (expected) {
        ASSERT_EQ(GetACP(), (UINT)std::atoi(expected)) << "the run was meant for this code page";
    }
    if (GetACP() != 932) GTEST_SKIP() << "needs ANSI code page 932, this run has " << GetACP();
}
