#include "sdk/UnfinishedRun.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include <nlohmann/json.hpp>

#include "package/TempFiles.h"
#include "sdk/APIDeviceManager.h"
#include "support/Platform.h"

namespace {
namespace fs = std::filesystem;
using nlohmann::json;
}  // namespace

std::wstring UnfinishedRunRecordPath() {
    const std::wstring folder = PersistentStateFolder();
    return folder.empty() ? folder : folder + L"/unfinished-run.json";
}

bool ReadUnfinishedRun(std::vector<UnfinishedRunEntry>& entries, std::wstring& error) {
    entries.clear();
    const std::wstring widePath = UnfinishedRunRecordPath();
    if (widePath.empty()) return true;
    const fs::path path(platform::ToNativePath(widePath));
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec))) return true;
    if (!fs::is_regular_file(fs::symlink_status(path, ec))) {
        error = L"the record " + widePath + L" is not a plain file";
        return false;
    }
    try {
        std::ifstream in(path);
        const json document = json::parse(in);
        for (const json& camera : document.at("cameras")) {
            entries.push_back(UnfinishedRunEntry{camera.at("serial").get<std::string>(),
                                                 camera.at("identity").get<std::string>(),
                                                 platform::FromNativePath(camera.at("copy").get<std::string>())});
        }
    } catch (const std::exception& problem) {
        entries.clear();
        error = L"the record " + widePath + L" cannot be read: " + platform::AnsiToWide(problem.what());
        return false;
    }
    return true;
}

bool WriteUnfinishedRun(const std::vector<UnfinishedRunEntry>& entries, std::wstring& error) {
    const std::wstring folder = PersistentStateFolder();
    if (folder.empty()) {
        error = L"no state folder: neither XDG_STATE_HOME nor HOME is set";
        return false;
    }
    std::wstring reason;
    if (!package::EnsurePrivateFolder(folder, reason)) {
        error = L"the state folder " + folder + L" cannot be used: " + reason;
        return false;
    }
    const fs::path path(platform::ToNativePath(UnfinishedRunRecordPath()));
    std::error_code ec;
    if (entries.empty()) {
        fs::remove(path, ec);
        if (ec) error = L"the record cannot be removed: " + platform::AnsiToWide(ec.message());
        return !ec;
    }
    json cameras = json::array();
    for (const UnfinishedRunEntry& entry : entries)
        cameras.push_back({{"serial", entry.serial},
                           {"identity", entry.identity},
                           {"copy", platform::ToNativePath(entry.persistentCopy)}});
    // Invalid UTF-8 in a camera's text is replaced rather than refused.
    const std::string text = json{{"cameras", cameras}}.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
    const fs::path temporary = path.string() + ".new";
    fs::remove(temporary, ec);
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.flush();
        fs::permissions(temporary, fs::perms::owner_read | fs::perms::owner_write, ec);
        if (!out) {
            error = L"the record " + platform::FromNativePath(temporary.string()) + L" cannot be written";
            return false;
        }
    }
    fs::rename(temporary, path, ec);
    if (ec) {
        error = L"the record cannot be written: " + platform::AnsiToWide(ec.message());
        return false;
    }
    return true;
}
