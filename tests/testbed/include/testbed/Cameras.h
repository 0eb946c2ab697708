// Simulated cameras for one test: the one description builder, the private
// folders the simulator and the program use, and readers for what the
// simulator keeps (event record, flash regions, camera state).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "testbed/Folders.h"

namespace testbed {

using nlohmann::json;

// The defaults every test builds on. A camera made by Camera(serial, model):
//   device_id               "SIM-" + serial
//   guid                    "G" + serial, padded with zeros to 16 characters
//   device_version          "1.1_2.1_2.0"
//   firmware_version        "V01.03.001.002:V01.05" (older than the package's release, so upgradable)
//   factory_version         "V01.00.000.001"
//   xml_version             1.0.3
//   write_bytes_per_second  1e9 unless given (a whole upgrade writes in milliseconds;
//                           6e5 makes a run that lasts about a second, to watch it)
//   reboot_seconds          0.3 (long enough for a run polling every 250 ms to see the camera gone)
//   user_params             the simulator's factory set (kUserParameter, exposure, is 10000)
//   after_upgrade           the package's release: firmware "V01.03.002.001:V01.06",
//                           device "1.1_2.1_2.1", XML 1.0.4
// A description made by Description(cameras) has one interface "SIM-IF-0" and
// enumerations that cost no time. Tests change single keys of the json where
// they need another camera.
inline constexpr const char* kDeviceIdPrefix = "SIM-";
inline constexpr const char* kInterfaceId = "SIM-IF-0";
inline constexpr const char* kOldFirmware = "V01.03.001.002:V01.05";
inline constexpr const char* kReleaseFirmware = "V01.03.002.001:V01.06";
inline constexpr double kRebootSeconds = 0.3;
inline constexpr const char* kRebootAllowanceSeconds = "1";
inline constexpr std::uint32_t kUserParameter = 0x30001770;
inline constexpr std::int64_t kUserParameterFactoryValue = 10000;

json Camera(const std::string& serial, const std::string& model = "ORV-2C", double writeBytesPerSecond = 1e9);
json Description(const std::vector<json>& cameras);
// The camera with its "faults" entry replaced.
json WithFaults(json camera, json faults);
// The camera's device id as the simulator reports it.
std::string DeviceId(const json& camera);

// Which events of the record to read; empty fields match everything.
// Written with designated initializers: sim.Events({.deviceId = "SIM-A1", .call = "DevClose"}).
struct EventFilter {
    std::string deviceId = {};
    std::string call = {};
    std::string source = {};  // "producer" or "sdk"
};

// Where the simulator keeps its state when FLASHWRIGHT_SIM_STATE names no
// folder: a folder of the user's own under the temporary folder tmp.
std::filesystem::path SimulatorDefaultStateFolder(const std::filesystem::path& tmp);

// The simulator's event record of a state folder, one json object per call.
std::vector<json> ReadEvents(const std::filesystem::path& stateFolder, const EventFilter& filter = {});

// Which producer the program finds through the producer path variable.
enum class ProducerBuild {
    kWithUpgradeExtensions,     // <bin>/ZvU3VTL.cti
    kWithoutUpgradeExtensions,  // <bin>/noext/ZvU3VTL.cti
};

// A camera description and a fresh simulator state folder in the test's
// private folders, named through the environment (FLASHWRIGHT_SIM_CONFIG,
// FLASHWRIGHT_SIM_STATE, the producer path variable) for as long as the
// object lives. Processes the test starts inherit all of it, and with it
// FLASHWRIGHT_REBOOT_ALLOWANCE=kRebootAllowanceSeconds: a run waits that long,
// not the program's 10 s, for a camera whose reboot it never saw (one that
// failed before its reboot, or whose reboot fell between two polls).
class SimulatedCameras : public IsolatedFolders {
public:
    explicit SimulatedCameras(const json& description, ProducerBuild producer = ProducerBuild::kWithUpgradeExtensions);

    const std::filesystem::path& StateFolder() const { return m_state; }
    const std::filesystem::path& DescriptionFile() const { return m_description; }
    // Replaces the description; the cameras keep their state.
    void WriteDescription(const json& description) const;
    void WriteDescriptionText(const std::string& text) const;

    std::vector<json> Events(const EventFilter& filter = {}) const { return ReadEvents(m_state, filter); }
    // The names of the calls that match, in order.
    std::vector<std::string> Calls(const EventFilter& filter = {}) const;

    std::filesystem::path CameraFolder(const std::string& deviceId) const;
    // The camera's lasting state as the simulator keeps it; null before the
    // simulator first wrote it.
    json CameraState(const std::string& deviceId) const;
    // Waits until the reboot the camera's state records is over (the simulator
    // keeps the deadline on the system clock, so it holds across processes).
    // False when the state records no reboot.
    bool WaitPastReboot(const std::string& deviceId) const;
    // The camera's live value of a user parameter, or -1 when it has none.
    std::int64_t LiveParameter(const std::string& deviceId, std::uint32_t feature) const;
    std::filesystem::path FlashFile(const std::string& deviceId, std::uint64_t address) const;
    // The bytes last written at address, or nothing when it was never written.
    std::optional<std::vector<std::uint8_t>> Flash(const std::string& deviceId, std::uint64_t address) const;
    // Every written address, ascending.
    std::vector<std::uint64_t> FlashAddresses(const std::string& deviceId) const;

private:
    std::filesystem::path m_state;
    std::filesystem::path m_description;
};

// Sets a user parameter of a camera through the simulated SDK of the bin
// folder, as a person would with the maker's tools before an upgrade. False
// when the SDK or the camera refuses.
bool SetLiveParameter(const std::string& identity, std::uint32_t feature, std::int64_t value);

// "0x1f" for 31: how flash files and user parameters are keyed.
std::string Hex(std::uint64_t value);

}  // namespace testbed
