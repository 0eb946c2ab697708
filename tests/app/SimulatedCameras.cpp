#include "SimulatedCameras.h"

#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "camera/GenTLLib.h"
#include "sdk/ZvIAPILibrary.h"
#include "support/Platform.h"

extern char** environ;

namespace apptest {

json Camera(const std::string& serial, const std::string& model, double bytesPerSecond) {
    return json{
        {"device_id", "SIM-" + serial},
        {"model", model},
        {"serial", serial},
        {"guid", ("G" + serial + "000000000000000").substr(0, 16)},
        {"device_version", "1.1_2.1_2.0"},
        {"firmware_version", "V01.03.001.002:V01.05"},
        {"factory_version", "V01.00.000.001"},
        {"xml_version", {1, 0, 3}},
        {"write_bytes_per_second", bytesPerSecond},
        {"reboot_seconds", 0.2},
        {"user_params", {{"0xc0ffee", 10}}},
        {"after_upgrade", {{"firmware_version", "V01.03.002.001:V01.06"}, {"device_version", "1.1_2.1_2.1"}, {"xml_version", {1, 0, 4}}}},
    };
}

json Description(const std::vector<json>& cameras) {
    return json{{"interfaces", json::array({json{{"id", "SIM-IF-0"}, {"cameras", cameras}}})}};
}

std::string DeviceId(const json& camera) { return camera.at("device_id").get<std::string>(); }

std::filesystem::path BinDir() {
    const char* dir = std::getenv("FLASHWRIGHT_BIN_DIR");
    if (dir != nullptr && *dir != '\0') return dir;
    return platform::ToNativePath(platform::GetExecutableDirectory());
}

// ---- ScopedEnvironment ------------------------------------------------------

void ScopedEnvironment::Save(const std::string& name) {
    for (const Saved& saved : m_saved)
        if (saved.name == name) return;
    const char* value = std::getenv(name.c_str());
    m_saved.push_back({name, value != nullptr, value != nullptr ? value : ""});
}

void ScopedEnvironment::Set(const std::string& name, const std::string& value) {
    Save(name);
    ::setenv(name.c_str(), value.c_str(), 1);
}

void ScopedEnvironment::Unset(const std::string& name) {
    Save(name);
    ::unsetenv(name.c_str());
}

ScopedEnvironment::~ScopedEnvironment() {
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
        if (it->present)
            ::setenv(it->name.c_str(), it->value.c_str(), 1);
        else
            ::unsetenv(it->name.c_str());
    }
}

// ---- SimulatedCameras -------------------------------------------------------

namespace {

// The producer path variable, with every other spelling of it removed so the
// one set here is the one the program finds.
void PointProducerPathAt(const std::filesystem::path& folder) {
    const std::string variable = platform::WideToAnsi(ProducerPathVariableName());
    std::vector<std::string> spellings;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const char* eq = std::strchr(*entry, '=');
        if (eq == nullptr) continue;
        std::string name(*entry, static_cast<std::size_t>(eq - *entry));
        if (strcasecmp(name.c_str(), variable.c_str()) == 0) spellings.push_back(name);
    }
    for (const std::string& name : spellings) ::unsetenv(name.c_str());
    ::setenv(variable.c_str(), folder.c_str(), 1);
}

}  // namespace

SimulatedCameras::SimulatedCameras(const json& description) {
    static std::atomic<int> counter{0};
    m_state = std::filesystem::temp_directory_path() /
              ("flashwright-app-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(m_state);
    std::filesystem::create_directories(m_state);
    m_description = m_state.parent_path() / (m_state.filename().string() + ".json");
    std::ofstream(m_description) << description.dump(2);

    PointProducerPathAt(BinDir());
    ::setenv("FLASHWRIGHT_SIM_CONFIG", m_description.c_str(), 1);
    ::setenv("FLASHWRIGHT_SIM_STATE", m_state.c_str(), 1);
    // Parameter backups and the unfinished-run record stay in the test's folder.
    if (const char* old = std::getenv("XDG_STATE_HOME")) m_oldStateHome = old;
    ::setenv("XDG_STATE_HOME", (m_state / "xdg-state").c_str(), 1);
}

SimulatedCameras::~SimulatedCameras() {
    ::unsetenv("FLASHWRIGHT_SIM_CONFIG");
    ::unsetenv("FLASHWRIGHT_SIM_STATE");
    if (m_oldStateHome)
        ::setenv("XDG_STATE_HOME", m_oldStateHome->c_str(), 1);
    else
        ::unsetenv("XDG_STATE_HOME");
    std::error_code ignored;
    std::filesystem::remove_all(m_state, ignored);
    std::filesystem::remove(m_description, ignored);
}

std::vector<json> SimulatedCameras::Events() const {
    std::vector<json> events;
    std::ifstream in(m_state / "events.jsonl");
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) events.push_back(json::parse(line));
    return events;
}

json SimulatedCameras::CameraState(const std::string& deviceId) const {
    std::ifstream in(m_state / "cameras" / deviceId / "state.json");
    if (!in) return json();
    return json::parse(in);
}

std::int64_t SimulatedCameras::LiveParameter(const std::string& deviceId, std::uint32_t feature) const {
    const json state = CameraState(deviceId);
    char key[16];
    std::snprintf(key, sizeof key, "0x%x", feature);
    const json* live = nullptr;
    if (state.contains("parameters") && state["parameters"].contains("live")) live = &state["parameters"]["live"];
    if (live == nullptr) return -1;
    for (auto it = live->begin(); it != live->end(); ++it) {
        if (std::strtoul(it.key().c_str(), nullptr, 16) == feature) return it.value().get<std::int64_t>();
    }
    return -1;
}

bool SetLiveParameter(const std::string& identity, std::uint32_t feature, std::int64_t value) {
    zviapi::CZvIAPILibrary sdk;
    if (!sdk.Load() || sdk.OpenSdk() != 0) return false;
    bool done = false;
    std::uint32_t handle = 0;
    const zviapi::OpenRequest request{identity.c_str(), 0, 4};
    std::uint32_t count = 0;
    if (sdk.GetDeviceCount(&count, 1000) == 0 && sdk.OpenDevice(&request, &handle) == 0) {
        done = sdk.SetInteger(handle, feature, value) == 0;
        sdk.CloseDevice(handle);
    }
    sdk.CloseSdk();
    return done;
}

}  // namespace apptest
