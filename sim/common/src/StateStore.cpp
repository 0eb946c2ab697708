#include "zvsim/StateStore.h"

#include <cstdlib>
#include <cstring>
#include <system_error>

#include <nlohmann/json.hpp>

#include "zvsim/Platform.h"
#include "zvsim/Clock.h"

namespace zvsim {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

json ParametersToJson(const ParameterSet& parameters) {
    json object = json::object();
    for (const auto& [feature, value] : parameters) {
        object[HexString(feature)] = value;
    }
    return object;
}

ParameterSet ParametersFromJson(const json& object) {
    ParameterSet parameters;
    for (auto it = object.begin(); it != object.end(); ++it) {
        parameters[static_cast<uint32_t>(std::stoul(it.key(), nullptr, 16))] = it.value().get<int64_t>();
    }
    return parameters;
}

json SeedOf(const CameraDescription& camera) {
    return json{{"firmware_version", camera.versions.firmwareVersion},
                {"device_version", camera.versions.deviceVersion},
                {"xml_version", camera.versions.xmlVersion},
                {"user_params", ParametersToJson(camera.factoryParameters)}};
}

uint64_t Fnv1a(const std::string& text) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

void CreateDirectories(const fs::path& path) {
    std::error_code error;
    fs::create_directories(path, error);
    if (error || !fs::is_directory(path)) {
        throw StateError("cannot create the folder \"" + path.string() +
                         "\": " + (error ? error.message() : std::string("not a directory")));
    }
}

}  // namespace

fs::path ResolveStateFolder() {
    const char* configured = std::getenv("FLASHWRIGHT_SIM_STATE");
    if (configured != nullptr && *configured != '\0') {
        fs::path folder = fs::absolute(configured);
        CreateDirectories(folder);
        return folder;
    }
    return platform::DefaultStateFolder();
}

std::string CameraFolderName(const std::string& deviceId) {
    const bool safe = !deviceId.empty() && deviceId.size() <= 200 && deviceId[0] != '.' &&
                      deviceId.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-") ==
                          std::string::npos;
    if (safe) {
        return deviceId;
    }
    std::string cleaned;
    for (char c : deviceId.substr(0, 64)) {
        cleaned += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
    }
    char hash[20];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(Fnv1a(deviceId)));
    return cleaned + "-" + hash;
}

void WriteFileAtomically(const fs::path& path, const void* data, size_t size) {
    const fs::path temporary =
        path.string() + ".tmp-" + std::to_string(platform::CurrentProcessId()) + "-" + std::to_string(ThreadId());
    try {
        platform::WriteNewFile(temporary, data, size);
        platform::MoveIntoPlace(temporary, path);
    } catch (const StateError&) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        throw;
    }
}

std::optional<std::vector<uint8_t>> ReadWholeFile(const fs::path& path) { return platform::ReadWholeFile(path); }

CameraStore::CameraStore(fs::path stateRoot, const CameraDescription& camera)
    : m_camera(camera), m_directory(stateRoot / "cameras" / CameraFolderName(camera.deviceId)) {}

fs::path CameraStore::FlashFile(uint64_t address) const { return FlashDirectory() / (HexString(address) + ".bin"); }

CameraState CameraStore::FactoryState() const {
    CameraState state;
    state.versions = m_camera.versions;
    ResetParametersToFactory(state);
    return state;
}

void CameraStore::ResetParametersToFactory(CameraState& state) const {
    state.live = m_camera.factoryParameters;
    for (ParameterSet& set : state.sets) {
        set = m_camera.factoryParameters;
    }
    state.selector = 0;
}

std::optional<CameraState> CameraStore::TryLoad(bool& seedMatches) const {
    const fs::path path = m_directory / "state.json";
    std::optional<std::vector<uint8_t>> bytes = ReadWholeFile(path);
    if (!bytes) {
        return std::nullopt;
    }
    try {
        const json document = json::parse(bytes->begin(), bytes->end());
        seedMatches = document.at("seed") == SeedOf(m_camera);
        CameraState state;
        state.versions.firmwareVersion = document.at("firmware_version").get<std::string>();
        state.versions.deviceVersion = document.at("device_version").get<std::string>();
        state.versions.xmlVersion = document.at("xml_version").get<XmlVersion>();
        state.userDefinedName = document.at("user_defined_name").get<std::string>();
        const json& parameters = document.at("parameters");
        state.live = ParametersFromJson(parameters.at("live"));
        const json& sets = parameters.at("sets");
        if (!sets.is_array() || sets.size() != static_cast<size_t>(kParameterSetCount)) {
            throw StateError("parameters.sets must hold " + std::to_string(kParameterSetCount) + " sets");
        }
        for (int i = 0; i < kParameterSetCount; ++i) {
            state.sets[static_cast<size_t>(i)] = ParametersFromJson(sets[static_cast<size_t>(i)]);
        }
        state.selector = parameters.at("selector").get<int32_t>();
        state.upgradeMode = document.at("upgrade_mode").get<bool>();
        state.sessionWrites = document.at("session_writes").get<uint32_t>();
        state.sessionFailed = document.at("session_failed").get<bool>();
        state.rebootUntilUs = document.at("reboot_until_us").get<int64_t>();
        state.gone = document.at("gone").get<bool>();
        state.bootCount = document.at("boot_count").get<uint64_t>();
        state.upgrades = document.at("upgrades").get<uint32_t>();
        return state;
    } catch (const std::exception& error) {
        throw StateError("the camera state \"" + path.string() + "\" is damaged (" + error.what() +
                         "); delete the file to start the camera afresh");
    }
}

void CameraStore::Store(const CameraState& state) const {
    json sets = json::array();
    for (const ParameterSet& set : state.sets) {
        sets.push_back(ParametersToJson(set));
    }
    const json document{
        {"device_id", m_camera.deviceId},
        {"seed", SeedOf(m_camera)},
        {"firmware_version", state.versions.firmwareVersion},
        {"device_version", state.versions.deviceVersion},
        {"xml_version", state.versions.xmlVersion},
        {"user_defined_name", state.userDefinedName},
        {"parameters", {{"live", ParametersToJson(state.live)}, {"sets", sets}, {"selector", state.selector}}},
        {"upgrade_mode", state.upgradeMode},
        {"session_writes", state.sessionWrites},
        {"session_failed", state.sessionFailed},
        {"reboot_until_us", state.rebootUntilUs},
        {"gone", state.gone},
        {"boot_count", state.bootCount},
        {"upgrades", state.upgrades},
    };
    const std::string text = document.dump(2) + "\n";
    WriteFileAtomically(m_directory / "state.json", text.data(), text.size());
}

CameraState CameraStore::Read() const {
    bool seedMatches = false;
    std::optional<CameraState> state = TryLoad(seedMatches);
    if (state && seedMatches) {
        return *state;
    }
    return Modify([](CameraState&) {});
}

CameraState CameraStore::Modify(const std::function<void(CameraState&)>& change) const {
    CreateDirectories(m_directory);
    const fs::path lockPath = m_directory / "state.lock";
    std::unique_ptr<platform::LockFile> lock = platform::LockFile::Open(lockPath);
    lock->Lock();
    bool seedMatches = false;
    std::optional<CameraState> state = TryLoad(seedMatches);
    if (!state || !seedMatches) {
        if (state) {
            // The description now names another camera under this id: its flash is not ours.
            std::error_code ignored;
            fs::remove_all(FlashDirectory(), ignored);
        }
        state = FactoryState();
    }
    change(*state);
    Store(*state);
    return *state;  // the lock goes with the lock file
}

void CameraStore::WriteFlash(uint64_t address, const void* data, size_t size) const {
    CreateDirectories(FlashDirectory());
    WriteFileAtomically(FlashFile(address), data, size);
}

std::optional<std::vector<uint8_t>> CameraStore::ReadFlash(uint64_t address) const {
    return ReadWholeFile(FlashFile(address));
}

AccessLock::AccessLock(std::unique_ptr<platform::LockFile> file) : m_file(std::move(file)) {}

AccessLock::~AccessLock() {
    try {
        m_file->Rewrite("");
    } catch (const StateError&) {
        // The holder text is only a hint; the lock, released with the file, is what counts.
    }
}

std::unique_ptr<AccessLock> AccessLock::TryAcquire(const fs::path& cameraDirectory, const std::string& owner,
                                                   std::string& holder) {
    CreateDirectories(cameraDirectory);
    const fs::path path = cameraDirectory / "access.lock";
    std::unique_ptr<platform::LockFile> file = platform::LockFile::Open(path);
    if (!file->TryLock()) {
        std::optional<std::vector<uint8_t>> text = ReadWholeFile(path);
        holder = (text && !text->empty()) ? std::string(text->begin(), text->end()) : std::string("unknown");
        return nullptr;
    }
    file->Rewrite(owner + " " + std::to_string(platform::CurrentProcessId()));
    return std::unique_ptr<AccessLock>(new AccessLock(std::move(file)));
}

std::string AccessLock::CurrentHolder(const fs::path& cameraDirectory) {
    std::optional<std::vector<uint8_t>> text;
    try {
        text = ReadWholeFile(cameraDirectory / "access.lock");
    } catch (const StateError&) {
        return "";
    }
    if (!text || text->empty()) {
        return "";
    }
    std::string holder(text->begin(), text->end());
    // A holder that died left its text behind, but not its lock.
    const size_t space = holder.rfind(' ');
    if (space != std::string::npos) {
        const long long pid = std::strtoll(holder.c_str() + space + 1, nullptr, 10);
        if (platform::ProcessHasEnded(pid)) {
            return "";
        }
    }
    return holder;
}

}  // namespace zvsim
