#include "zvsim/StateStore.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include <nlohmann/json.hpp>

#include "zvsim/Clock.h"

namespace zvsim {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::string ErrnoText(int error) { return std::error_code(error, std::generic_category()).message(); }

// Closes a descriptor on every path out of a scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }
    int Release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

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
        throw StateError("cannot create the folder \"" + path.string() + "\": " +
                         (error ? error.message() : std::string("not a directory")));
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
    const char* temporary = std::getenv("TMPDIR");
    fs::path base = (temporary != nullptr && *temporary != '\0') ? fs::path(temporary) : fs::path("/tmp");
    fs::path folder = base / ("flashwright-sim-" + std::to_string(::getuid()));
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        throw StateError("cannot create the state folder \"" + folder.string() + "\": " + ErrnoText(errno));
    }
    // A predictable name in a shared folder: refuse one planted by someone else.
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid()) {
        throw StateError("the state folder \"" + folder.string() +
                         "\" is not a directory of this user; set FLASHWRIGHT_SIM_STATE");
    }
    return folder;
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
        path.string() + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(ThreadId());
    {
        FileDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (fd.Get() < 0) {
            throw StateError("cannot write \"" + temporary.string() + "\": " + ErrnoText(errno));
        }
        const auto* bytes = static_cast<const uint8_t*>(data);
        size_t done = 0;
        while (done < size) {
            const ssize_t written = ::write(fd.Get(), bytes + done, size - done);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                const int error = errno;
                ::unlink(temporary.c_str());
                throw StateError("cannot write \"" + temporary.string() + "\": " + ErrnoText(error));
            }
            done += static_cast<size_t>(written);
        }
        if (::close(fd.Release()) != 0) {
            const int error = errno;
            ::unlink(temporary.c_str());
            throw StateError("cannot write \"" + temporary.string() + "\": " + ErrnoText(error));
        }
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        throw StateError("cannot replace \"" + path.string() + "\": " + ErrnoText(error));
    }
}

std::optional<std::vector<uint8_t>> ReadWholeFile(const fs::path& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        throw StateError("cannot read \"" + path.string() + "\": " + ErrnoText(errno));
    }
    std::vector<uint8_t> content;
    uint8_t buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw StateError("cannot read \"" + path.string() + "\": " + ErrnoText(errno));
        }
        if (got == 0) {
            break;
        }
        content.insert(content.end(), buffer, buffer + got);
    }
    return content;
}

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
    FileDescriptor fd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (fd.Get() < 0) {
        throw StateError("cannot open \"" + lockPath.string() + "\": " + ErrnoText(errno));
    }
    while (::flock(fd.Get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            throw StateError("cannot lock \"" + lockPath.string() + "\": " + ErrnoText(errno));
        }
    }
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
    return *state;  // the lock goes with the descriptor
}

void CameraStore::WriteFlash(uint64_t address, const void* data, size_t size) const {
    CreateDirectories(FlashDirectory());
    WriteFileAtomically(FlashFile(address), data, size);
}

std::optional<std::vector<uint8_t>> CameraStore::ReadFlash(uint64_t address) const {
    return ReadWholeFile(FlashFile(address));
}

AccessLock::~AccessLock() {
    if (m_fd >= 0) {
        if (::ftruncate(m_fd, 0) != 0) {
            // The holder text is only a hint; the lock below is what counts.
        }
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
    }
}

std::unique_ptr<AccessLock> AccessLock::TryAcquire(const fs::path& cameraDirectory, const std::string& owner,
                                                   std::string& holder) {
    CreateDirectories(cameraDirectory);
    const fs::path path = cameraDirectory / "access.lock";
    FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (fd.Get() < 0) {
        throw StateError("cannot open \"" + path.string() + "\": " + ErrnoText(errno));
    }
    int result;
    while ((result = ::flock(fd.Get(), LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (result != 0) {
        if (errno != EWOULDBLOCK) {
            throw StateError("cannot lock \"" + path.string() + "\": " + ErrnoText(errno));
        }
        std::optional<std::vector<uint8_t>> text = ReadWholeFile(path);
        holder = (text && !text->empty()) ? std::string(text->begin(), text->end()) : std::string("unknown");
        return nullptr;
    }
    const std::string text = owner + " " + std::to_string(::getpid());
    if (::ftruncate(fd.Get(), 0) != 0 || ::pwrite(fd.Get(), text.data(), text.size(), 0) < 0) {
        throw StateError("cannot write \"" + path.string() + "\": " + ErrnoText(errno));
    }
    return std::unique_ptr<AccessLock>(new AccessLock(fd.Release()));
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
        const long pid = std::strtol(holder.c_str() + space + 1, nullptr, 10);
        if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            return "";
        }
    }
    return holder;
}

}  // namespace zvsim
