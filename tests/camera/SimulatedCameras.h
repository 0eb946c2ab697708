// Sets up the simulated producer for one test: a camera description, a fresh
// state folder, a private temporary folder and the producer path variable
// pointing at the build's producer, all undone when the object goes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace camtest {

using nlohmann::json;

// A camera of the description with the defaults the tests build on: fast
// writes, a short reboot, a version that fits the package.
json Camera(const std::string& serial, const std::string& model = "ORV-2C");
json Description(const std::vector<json>& cameras);
// The camera's device ID as the simulator reports it.
std::string DeviceId(const json& camera);

std::filesystem::path BinDir();

class SimulatedCameras {
public:
    explicit SimulatedCameras(const json& description, bool withUpgradeExtensions = true);
    ~SimulatedCameras();
    SimulatedCameras(const SimulatedCameras&) = delete;
    SimulatedCameras& operator=(const SimulatedCameras&) = delete;

    const std::filesystem::path& StateFolder() const { return m_state; }
    // Replaces the description; the cameras keep their state.
    void WriteDescription(const json& description) const;
    std::vector<json> Events() const;
    // The events of one camera, optionally only those of one call.
    std::vector<json> Events(const std::string& deviceId, const std::string& call = "") const;
    // Written regions of a camera: address to bytes.
    std::optional<std::vector<std::uint8_t>> Flash(const std::string& deviceId,
                                                   std::uint64_t address) const;
    std::vector<std::uint64_t> FlashAddresses(const std::string& deviceId) const;

private:
    struct SavedVariable {
        std::string name;
        std::optional<std::string> value;
    };
    void Save(const std::string& name);

    std::filesystem::path m_state;
    std::vector<SavedVariable> m_saved;
};

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path);

}  // namespace camtest
