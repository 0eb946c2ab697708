// What the package tests share: the program's temporary folder pointed at a
// fresh place for each test, and a byte-list helper. Folders and file reading
// come from the test bed.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "testbed/Environment.h"
#include "testbed/Files.h"
#include "testbed/Folders.h"

using testbed::ReadBytes;

inline std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

// Points the program's temporary folder (and the run's package configuration
// path) at a fresh place for the lifetime of a test.
class PackageEnvironment : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Where the program puts its temporary folder: inside m_runtime on Linux, at
    // the root of the program's drive on Windows.
    std::filesystem::path TempDir() const;

    testbed::TempFolder m_runtime;
    testbed::TempFolder m_scratch;

private:
    testbed::ScopedEnvironment m_environment;
};
