#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// A fresh folder per test, removed afterwards; also serves as XDG_RUNTIME_DIR so
// the program's temporary folder lands inside it on Linux.
class TestFolder {
public:
    TestFolder() {
        // Creating the folder is the test for a free name, so two tests never share one.
        std::random_device random;
        std::error_code error;
        for (int attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
            const auto candidate = std::filesystem::temp_directory_path() /
                                   ("flashwright-test-" + std::to_string(random()) + std::to_string(random()));
            if (std::filesystem::create_directory(candidate, error)) m_path = candidate;
        }
        if (m_path.empty()) ADD_FAILURE() << "no test folder could be created";
    }
    ~TestFolder() {
        std::error_code ignored;
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                     ignored);
        std::filesystem::remove_all(m_path, ignored);
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    const std::filesystem::path& Path() const { return m_path; }

    std::filesystem::path Write(const std::string& name, const std::string& bytes) const {
        const std::filesystem::path file = m_path / name;
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return file;
    }

private:
    std::filesystem::path m_path;
};

inline std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

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

    TestFolder m_runtime;
    TestFolder m_scratch;

private:
    std::wstring m_savedRuntimeDir;
    bool m_hadRuntimeDir = false;
};
