#include "testbed/Files.h"

#include <fstream>
#include <iterator>
#include <thread>

#include "platform/System.h"

namespace fs = std::filesystem;

namespace testbed {

fs::path BinDir() {
    if (const auto dir = system::GetEnv("FLASHWRIGHT_BIN_DIR"); dir && !dir->empty()) return fs::path(*dir);
    return system::ExecutableDirectory();
}

fs::path BuiltProgram(const std::string& name) { return BinDir() / (name + system::ProgramSuffix()); }

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    return static_cast<bool>(out);
}

bool MakeDirectoryLink(const fs::path& target, const fs::path& link) {
    std::error_code error;
    fs::create_directory_symlink(target, link, error);
    if (!error) return true;
    if (error == std::errc::function_not_supported || error == std::errc::not_supported ||
        error == std::errc::operation_not_permitted)
        return false;
    throw fs::filesystem_error("cannot make a folder link", target, link, error);
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace testbed
