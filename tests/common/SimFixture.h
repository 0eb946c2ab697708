// Test support for the program's camera paths: a private simulated-camera
// description, state folder and temporary folders, named through the
// environment for as long as the fixture lives, and the simulator's event
// record read back.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace simtest {

namespace fs = std::filesystem;
using nlohmann::json;

inline fs::path BinDir() {
    const char* dir = std::getenv("FLASHWRIGHT_BIN_DIR");
    return dir != nullptr ? fs::path(dir) : fs::path();
}

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "flashwright-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const fs::path& Path() const { return m_path; }

private:
    fs::path m_path;
};

class ScopedEnvironment {
public:
    ScopedEnvironment(std::string name, const std::optional<std::string>& value) : m_name(std::move(name)) {
        if (const char* old = std::getenv(m_name.c_str())) m_old = old;
        if (value)
            ::setenv(m_name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(m_name.c_str());
    }
    ~ScopedEnvironment() {
        if (m_old)
            ::setenv(m_name.c_str(), m_old->c_str(), 1);
        else
            ::unsetenv(m_name.c_str());
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// One interface holding the given cameras; enumeration costs no time.
inline json Description(const std::vector<json>& cameras) {
    return json{{"producer", {{"enumeration_seconds", 0}}},
                {"interfaces", json::array({json{{"id", "IF-0"}, {"cameras", cameras}}})}};
}

// A camera of a package model that upgrades quickly and reboots at once.
inline json Camera(const std::string& deviceId, const std::string& model, const std::string& serial) {
    return json{{"device_id", deviceId},
                {"model", model},
                {"serial", serial},
                {"guid", (serial + "0000000000000000").substr(0, 16)},
                {"device_version", "1.1_2.1_2.0"},
                {"firmware_version", "V01.03.001.002:V01.05"},
                {"factory_version", "V01.00.000.001"},
                {"xml_version", {1, 0, 3}},
                {"write_bytes_per_second", 1e9},
                {"reboot_seconds", 0.05}};
}

// Description and state of the simulated cameras, plus the program's own
// temporary folder and parameter-backup folder, all private to one test.
class SimFolder {
public:
    explicit SimFolder(const json& description)
        : m_state(m_folder.Path() / "state"),
          m_config(m_folder.Path() / "description.json"),
          m_stateEnv("FLASHWRIGHT_SIM_STATE", m_state.string()),
          m_configEnv("FLASHWRIGHT_SIM_CONFIG", m_config.string()),
          m_runtimeEnv("XDG_RUNTIME_DIR", (m_folder.Path() / "runtime").string()),
          m_backupEnv("XDG_STATE_HOME", (m_folder.Path() / "xdg-state").string()) {
        fs::create_directories(m_folder.Path() / "runtime");
        Write(description);
    }
    void Write(const json& description) const { std::ofstream(m_config) << description.dump(2); }
    const fs::path& State() const { return m_state; }
    const fs::path& Root() const { return m_folder.Path(); }
    fs::path TempDirectory() const { return m_folder.Path() / "runtime" / "U3TempFileDirectory"; }
    fs::path BackupFolder() const { return m_folder.Path() / "xdg-state" / "flashwright" / "parameter-backups"; }
    fs::path CameraFolder(const std::string& deviceId) const { return m_state / "cameras" / deviceId; }
    fs::path FlashFile(const std::string& deviceId, const std::string& address) const {
        return CameraFolder(deviceId) / "flash" / (address + ".bin");
    }
    json CameraState(const std::string& deviceId) const {
        std::ifstream file(CameraFolder(deviceId) / "state.json");
        return json::parse(file);
    }
    std::vector<json> Events() const {
        std::vector<json> events;
        std::ifstream file(m_state / "events.jsonl");
        std::string line;
        while (std::getline(file, line)) events.push_back(json::parse(line));
        return events;
    }
    // The calls of one source ("producer" or "sdk"), optionally of one camera.
    std::vector<std::string> Calls(const std::string& source, const std::string& deviceId = "") const {
        std::vector<std::string> calls;
        for (const json& event : Events()) {
            if (event["source"] == source && (deviceId.empty() || event["device_id"] == deviceId))
                calls.push_back(event["call"].get<std::string>());
        }
        return calls;
    }

private:
    TempFolder m_folder;
    fs::path m_state;
    fs::path m_config;
    ScopedEnvironment m_stateEnv;
    ScopedEnvironment m_configEnv;
    ScopedEnvironment m_runtimeEnv;
    ScopedEnvironment m_backupEnv;
};

}  // namespace simtest
