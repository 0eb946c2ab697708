// Whole files read and written in one call, and where the built programs are.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testbed {

// The build's bin folder (producer, SDK, programs): FLASHWRIGHT_BIN_DIR when
// set, else the folder of the running test program.
std::filesystem::path BinDir();
// A program of the bin folder by its base name ("flashwright-cli").
std::filesystem::path BuiltProgram(const std::string& name);

// Empty when the file cannot be read.
std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path);
std::string ReadText(const std::filesystem::path& path);
// Replaces the file; false when it cannot be written.
bool WriteText(const std::filesystem::path& path, const std::string& text);

// Makes link a symbolic link to the folder target. False when this system
// cannot make one (Wine, a Windows account without the right), so a test can
// skip what needs it; throws on any other failure.
bool MakeDirectoryLink(const std::filesystem::path& target, const std::filesystem::path& link);

// Polls condition until it holds or limit has passed; true when it held. The
// bound is generous on purpose: it only decides how long a failing test takes.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(20));

}  // namespace testbed
