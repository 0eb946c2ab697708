// The cameras' lasting state, kept in the state folder so that it outlives
// the libraries and the processes that load them:
//   <state>/events.jsonl                         the event record
//   <state>/cameras/<device_id>/state.json       versions, parameters, upgrade session, reboot deadline
//   <state>/cameras/<device_id>/flash/0x<address>.bin   one file per written region
//   <state>/cameras/<device_id>/access.lock      held (a file lock) by whichever library has the camera open
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "zvsim/Description.h"

namespace zvsim {

namespace platform {
class LockFile;
}

class StateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr int kParameterSetCount = 4;

struct CameraState {
    Versions versions;
    std::string userDefinedName;
    ParameterSet live;
    std::array<ParameterSet, kParameterSetCount> sets;
    int32_t selector = 0;
    bool upgradeMode = false;
    uint32_t sessionWrites = 0;
    bool sessionFailed = false;
    int64_t rebootUntilUs = 0;  // absent from enumeration until then
    bool gone = false;          // rebooted and never came back
    uint64_t bootCount = 0;     // handles opened before a reboot are lost
    uint32_t upgrades = 0;

    bool IsPresent(int64_t nowUs) const { return !gone && nowUs >= rebootUntilUs; }
};

// Resolves FLASHWRIGHT_SIM_STATE, or a private folder under the user's
// temporary folder; creates it. Throws StateError when the folder is unusable.
std::filesystem::path ResolveStateFolder();

// A name for the camera's folder: the device id itself when it is a safe
// file name, else a cleaned prefix plus a hash of the id.
std::string CameraFolderName(const std::string& deviceId);

class CameraStore {
public:
    CameraStore(std::filesystem::path stateRoot, const CameraDescription& camera);

    const std::filesystem::path& Directory() const { return m_directory; }
    std::filesystem::path FlashDirectory() const { return m_directory / "flash"; }
    std::filesystem::path FlashFile(uint64_t address) const;

    // The current state; a camera seen for the first time, or one whose
    // description has changed its factory values, starts from the description.
    CameraState Read() const;
    // Read-modify-write under an exclusive file lock; returns the new state.
    CameraState Modify(const std::function<void(CameraState&)>& change) const;

    void WriteFlash(uint64_t address, const void* data, size_t size) const;
    std::optional<std::vector<uint8_t>> ReadFlash(uint64_t address) const;

    CameraState FactoryState() const;
    void ResetParametersToFactory(CameraState& state) const;

private:
    std::optional<CameraState> TryLoad(bool& seedMatches) const;
    void Store(const CameraState& state) const;

    const CameraDescription& m_camera;
    std::filesystem::path m_directory;
};

// Exclusive access to one camera, shared by the producer and the SDK, across
// threads and processes. The lock dies with the process that holds it.
class AccessLock {
public:
    ~AccessLock();
    AccessLock(const AccessLock&) = delete;
    AccessLock& operator=(const AccessLock&) = delete;

    // On failure returns null and fills holder with who has the camera
    // ("producer 1234", "sdk 1234" or "unknown").
    static std::unique_ptr<AccessLock> TryAcquire(const std::filesystem::path& cameraDirectory,
                                                  const std::string& owner, std::string& holder);
    // Who holds the camera now, empty when nobody does.
    static std::string CurrentHolder(const std::filesystem::path& cameraDirectory);

private:
    explicit AccessLock(std::unique_ptr<platform::LockFile> file);
    std::unique_ptr<platform::LockFile> m_file;
};

// Writes a whole file through a temporary file and a rename, so that readers
// never see half of it.
void WriteFileAtomically(const std::filesystem::path& path, const void* data, size_t size);
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::filesystem::path& path);

}  // namespace zvsim
