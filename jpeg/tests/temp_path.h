// Temporary files for tests that write them.
#pragma once

#include <gtest/gtest.h>

#include <string>

// CTest runs test cases side by side in separate processes; each gets files of its own.
inline std::string uniqueTempPrefix() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name) {
        if (c == '/' || c == '\\') {
            c = '_';
        }
    }
    return ::testing::TempDir() + "/" + name + "-";
}
