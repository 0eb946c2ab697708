// The simulated producer and SDK set up for one test: a camera description, a
// fresh state folder and the producer path variable pointing at the build's
// producer; everything is undone when the object goes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace apptest {

using nlohmann::json;

// A camera that fits the package, writes at bytesPerSecond and reboots quickly.
// Its one user parameter, 0xC0FFEE, is 10 from the factory.
json Camera(const std::string& serial, const std::string& model = "ORV-2C", double bytesPerSecond = 2e6);
json Description(const std::vector<json>& cameras);
std::string DeviceId(const json& camera);

// The build's bin folder: the producer, the SDK and the programs.
std::filesystem::path BinDir();

class SimulatedCameras {
public:
    explicit SimulatedCameras(const json& description);
    ~SimulatedCameras();
    SimulatedCameras(const SimulatedCameras&) = delete;
    SimulatedCameras& operator=(const SimulatedCameras&) = delete;

    const std::filesystem::path& StateFolder() const { return m_state; }
    const std::filesystem::path& DescriptionFile() const { return m_description; }

    std::vector<json> Events() const;
    // The camera's lasting state as the simulator keeps it.
    json CameraState(const std::string& deviceId) const;
    // The camera's live value of a user parameter, or -1 when it has none.
    std::int64_t LiveParameter(const std::string& deviceId, std::uint32_t feature) const;

private:
    std::optional<std::string> m_oldStateHome;
    std::filesystem::path m_state;
    std::filesystem::path m_description;
};

// Sets a user parameter through the SDK, as a person would with the maker's
// tools before an upgrade. False when the SDK or the camera fails.
bool SetLiveParameter(const std::string& identity, std::uint32_t feature, std::int64_t value);

// Sets or unsets an environment variable for the lifetime of the object.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void Set(const std::string& name, const std::string& value);
    void Unset(const std::string& name);

private:
    void Save(const std::string& name);
    struct Saved {
        std::string name;
        bool present;
        std::string value;
    };
    std::vector<Saved> m_saved;
};

}  // namespace apptest
