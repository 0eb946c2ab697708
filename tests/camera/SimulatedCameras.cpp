#include "SimulatedCameras.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <strings.h>

#include "camera/GenTLLib.h"
#include "support/Platform.h"

extern char** environ;

namespace camtest {

json Camera(const std::string& serial, const std::string& model) {
    return json{
        {"device_id", "SIM-" + serial},
        {"model", model},
        {"serial", serial},
        {"guid", ("G" + serial + "0000000000000000").substr(0, 16)},
        {"device_version", "1.1_2.1_2.0"},
        {"firmware_version", "V01.03.001.002:V01.05"},
        {"factory_version", "V01.00.000.001"},
        {"xml_version", {1, 0, 3}},
        {"write_bytes_per_second", 1e9},
        // Long enough for the run's first poll to see the camera gone.
        {"reboot_seconds", 0.3},
        // Back from an upgrade with the package's release version, as a real camera comes.
        {"after_upgrade",
         {{"firmware_version", "V01.03.002.001:V01.06"}, {"device_version", "1.1_2.1_2.1"}, {"xml_version", {1, 0, 4}}}},
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

SimulatedCameras::SimulatedCameras(const json& description, bool withUpgradeExtensions) {
    static std::atomic<int> counter{0};
    m_state = std::filesystem::temp_directory_path() /
              ("flashwright-camera-test-" + std::to_string(::getpid()) + "-" +
               std::to_string(counter++));
    std::filesystem::remove_all(m_state);
    std::filesystem::create_directories(m_state);
    const std::filesystem::path config = m_state / "description.json";
    std::ofstream(config) << description.dump(2);

    // Every spelling of the path variable, so the one set here is the one found.
    const std::string variable = platform::WideToAnsi(ProducerPathVariableName());
    std::vector<std::string> spellings;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const char* eq = std::strchr(*entry, '=');
        if (eq == nullptr) continue;
        std::string name(*entry, static_cast<std::size_t>(eq - *entry));
        if (strcasecmp(name.c_str(), variable.c_str()) == 0) spellings.push_back(name);
    }
    for (const std::string& name : spellings) {
        Save(name);
        ::unsetenv(name.c_str());
    }
    Save(variable);
    Save("FLASHWRIGHT_SIM_CONFIG");
    Save("FLASHWRIGHT_SIM_STATE");
    // A temporary folder of the test's own: Config.ini has one name per folder,
    // and other programs of this user may be writing and deleting theirs.
    Save("XDG_RUNTIME_DIR");
    const std::filesystem::path runtime = m_state / "runtime";
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    // Parameter backups, the unfinished-run record and the upgrade history stay in the test's folder.
    Save("XDG_STATE_HOME");
    ::setenv("XDG_STATE_HOME", (m_state / "xdg-state").c_str(), 1);
    const std::filesystem::path producerDir = withUpgradeExtensions ? BinDir() : BinDir() / "noext";
    ::setenv(variable.c_str(), producerDir.c_str(), 1);
    ::setenv("FLASHWRIGHT_SIM_CONFIG", config.c_str(), 1);
    ::setenv("FLASHWRIGHT_SIM_STATE", m_state.c_str(), 1);
}

void SimulatedCameras::WriteDescription(const json& description) const {
    std::ofstream(m_state / "description.json") << description.dump(2);
}

void SimulatedCameras::Save(const std::string& name) {
    for (const SavedVariable& saved : m_saved)
        if (saved.name == name) return;
    const char* value = std::getenv(name.c_str());
    m_saved.push_back({name, value != nullptr ? std::optional<std::string>(value) : std::nullopt});
}

SimulatedCameras::~SimulatedCameras() {
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
        if (it->value)
            ::setenv(it->name.c_str(), it->value->c_str(), 1);
        else
            ::unsetenv(it->name.c_str());
    }
    std::error_code ignored;
    std::filesystem::remove_all(m_state, ignored);
}

std::vector<json> SimulatedCameras::Events() const {
    std::vector<json> events;
    std::ifstream in(m_state / "events.jsonl");
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty()) events.push_back(json::parse(line));
    }
    return events;
}

std::vector<json> SimulatedCameras::Events(const std::string& deviceId,
                                           const std::string& call) const {
    std::vector<json> selected;
    for (json& event : Events()) {
        if (event.value("device_id", "") != deviceId) continue;
        if (!call.empty() && event.value("call", "") != call) continue;
        selected.push_back(std::move(event));
    }
    return selected;
}

namespace {
std::string Hex(std::uint64_t value) {
    std::ostringstream out;
    out << "0x" << std::hex << value;
    return out.str();
}
}  // namespace

std::optional<std::vector<std::uint8_t>> SimulatedCameras::Flash(const std::string& deviceId,
                                                                 std::uint64_t address) const {
    const std::filesystem::path file =
        m_state / "cameras" / deviceId / "flash" / (Hex(address) + ".bin");
    if (!std::filesystem::exists(file)) return std::nullopt;
    return ReadFile(file);
}

std::vector<std::uint64_t> SimulatedCameras::FlashAddresses(const std::string& deviceId) const {
    std::vector<std::uint64_t> addresses;
    const std::filesystem::path dir = m_state / "cameras" / deviceId / "flash";
    if (!std::filesystem::exists(dir)) return addresses;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("0x", 0) != 0 || entry.path().extension() != ".bin") continue;
        addresses.push_back(std::stoull(entry.path().stem().string(), nullptr, 16));
    }
    std::sort(addresses.begin(), addresses.end());
    return addresses;
}

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace camtest
