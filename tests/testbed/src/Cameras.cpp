#include "testbed/Cameras.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/System.h"
#include "testbed/Files.h"
#include "testbed/Library.h"
#include "zvsim/ZvIAPI.h"

namespace fs = std::filesystem;

namespace testbed {

json Camera(const std::string& serial, const std::string& model, double writeBytesPerSecond) {
    return json{
        {"device_id", kDeviceIdPrefix + serial},
        {"model", model},
        {"serial", serial},
        {"guid", ("G" + serial + "0000000000000000").substr(0, 16)},
        {"device_version", "1.1_2.1_2.0"},
        {"firmware_version", kOldFirmware},
        {"factory_version", "V01.00.000.001"},
        {"xml_version", {1, 0, 3}},
        {"write_bytes_per_second", writeBytesPerSecond},
        {"reboot_seconds", kRebootSeconds},
        {"after_upgrade",
         {{"firmware_version", kReleaseFirmware}, {"device_version", "1.1_2.1_2.1"}, {"xml_version", {1, 0, 4}}}},
    };
}

json Description(const std::vector<json>& cameras) {
    return json{{"producer", {{"enumeration_seconds", 0}}},
                {"interfaces", json::array({json{{"id", kInterfaceId}, {"cameras", cameras}}})}};
}

json WithFaults(json camera, json faults) {
    camera["faults"] = std::move(faults);
    return camera;
}

fs::path SimulatorDefaultStateFolder(const fs::path& tmp) { return tmp / system::SimulatorStateFolderName(); }

std::string DeviceId(const json& camera) { return camera.at("device_id").get<std::string>(); }

std::string Hex(std::uint64_t value) {
    std::ostringstream out;
    out << "0x" << std::hex << value;
    return out.str();
}

std::vector<json> ReadEvents(const fs::path& stateFolder, const EventFilter& filter) {
    std::vector<json> events;
    std::ifstream in(stateFolder / "events.jsonl");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        json event = json::parse(line);
        if (!filter.deviceId.empty() && event.value("device_id", "") != filter.deviceId) continue;
        if (!filter.call.empty() && event.value("call", "") != filter.call) continue;
        if (!filter.source.empty() && event.value("source", "") != filter.source) continue;
        events.push_back(std::move(event));
    }
    return events;
}

namespace {

// The variable of the program's word size, as the program looks it up.
const char* ProducerPathVariable() { return sizeof(void*) == 8 ? "GENICAM_GENTL64_PATH" : "GENICAM_GENTL32_PATH"; }

}  // namespace

SimulatedCameras::SimulatedCameras(const json& description, ProducerBuild producer)
    : m_state(Root() / "sim-state"), m_description(Root() / "description.json") {
    fs::create_directories(m_state);
    WriteDescription(description);
    const fs::path producerFolder = producer == ProducerBuild::kWithUpgradeExtensions ? BinDir() : BinDir() / "noext";
    Environment().SetOnlySpelling(ProducerPathVariable(), producerFolder.string());
    Environment().Set("FLASHWRIGHT_SIM_CONFIG", m_description.string());
    Environment().Set("FLASHWRIGHT_SIM_STATE", m_state.string());
    Environment().Set("FLASHWRIGHT_REBOOT_ALLOWANCE", kRebootAllowanceSeconds);
}

void SimulatedCameras::WriteDescription(const json& description) const { WriteDescriptionText(description.dump(2)); }

void SimulatedCameras::WriteDescriptionText(const std::string& text) const { WriteText(m_description, text); }

std::vector<std::string> SimulatedCameras::Calls(const EventFilter& filter) const {
    std::vector<std::string> calls;
    for (const json& event : Events(filter)) calls.push_back(event.value("call", ""));
    return calls;
}

fs::path SimulatedCameras::CameraFolder(const std::string& deviceId) const { return m_state / "cameras" / deviceId; }

json SimulatedCameras::CameraState(const std::string& deviceId) const {
    std::ifstream in(CameraFolder(deviceId) / "state.json");
    if (!in) return json();
    return json::parse(in);
}

bool SimulatedCameras::WaitPastReboot(const std::string& deviceId) const {
    const json state = CameraState(deviceId);
    if (!state.is_object() || !state.contains("reboot_until_us")) return false;
    const std::chrono::system_clock::time_point until(
        std::chrono::microseconds(state["reboot_until_us"].get<std::int64_t>()));
    // A little past the deadline: the simulator compares with its own reading of the clock.
    std::this_thread::sleep_until(until + std::chrono::milliseconds(20));
    return true;
}

std::int64_t SimulatedCameras::LiveParameter(const std::string& deviceId, std::uint32_t feature) const {
    const json state = CameraState(deviceId);
    if (!state.is_object() || !state.contains("parameters") || !state["parameters"].contains("live")) return -1;
    for (const auto& [key, value] : state["parameters"]["live"].items())
        if (std::strtoul(key.c_str(), nullptr, 16) == feature) return value.get<std::int64_t>();
    return -1;
}

fs::path SimulatedCameras::FlashFile(const std::string& deviceId, std::uint64_t address) const {
    return CameraFolder(deviceId) / "flash" / (Hex(address) + ".bin");
}

std::optional<std::vector<std::uint8_t>> SimulatedCameras::Flash(const std::string& deviceId,
                                                                 std::uint64_t address) const {
    const fs::path file = FlashFile(deviceId, address);
    if (!fs::exists(file)) return std::nullopt;
    return ReadBytes(file);
}

std::vector<std::uint64_t> SimulatedCameras::FlashAddresses(const std::string& deviceId) const {
    std::vector<std::uint64_t> addresses;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(CameraFolder(deviceId) / "flash", error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("0x", 0) != 0 || entry.path().extension() != ".bin") continue;
        addresses.push_back(std::stoull(entry.path().stem().string(), nullptr, 16));
    }
    std::sort(addresses.begin(), addresses.end());
    return addresses;
}

bool SetLiveParameter(const std::string& identity, std::uint32_t feature, std::int64_t value) {
    using namespace zvsim::sdk;
    const LoadedLibrary sdk(BinDir() / system::LibraryFileName("ZvIAPI"));
    const auto open = sdk.GetOrdinal<PZvIAPI_100>(100, "ZvIAPI_100");
    const auto close = sdk.GetOrdinal<PZvIAPI_101>(101, "ZvIAPI_101");
    const auto count = sdk.GetOrdinal<PZvIAPI_200>(200, "ZvIAPI_200");
    const auto openCamera = sdk.GetOrdinal<PZvIAPI_301>(301, "ZvIAPI_301");
    const auto closeCamera = sdk.GetOrdinal<PZvIAPI_302>(302, "ZvIAPI_302");
    const auto setInteger = sdk.GetOrdinal<PZvIAPI_412>(412, "ZvIAPI_412");
    if (open == nullptr || close == nullptr || count == nullptr || openCamera == nullptr || closeCamera == nullptr ||
        setInteger == nullptr || open() != ZV_OK)
        return false;
    bool done = false;
    std::uint32_t cameras = 0;
    std::uint32_t handle = 0;
    const ZvOpenRequest request{identity.c_str(), 0, kAccessExclusive};
    if (count(&cameras, 1000) == ZV_OK && openCamera(&request, &handle) == ZV_OK) {
        done = setInteger(handle, feature, value) == ZV_OK;
        closeCamera(handle);
    }
    close();
    return done;
}

}  // namespace testbed
