// The camera description: which interfaces and cameras exist, what they
// report and which faults they show. Read from the JSON file named by
// FLASHWRIGHT_SIM_CONFIG, or the built-in default.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zvsim {

class DescriptionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using XmlVersion = std::array<int32_t, 3>;
using ParameterSet = std::map<uint32_t, int64_t>;

struct Versions {
    std::string firmwareVersion;
    std::string deviceVersion;
    XmlVersion xmlVersion{};
    bool operator==(const Versions&) const = default;
};

struct CameraFaults {
    std::optional<int32_t> open;        // IFOpenDevice result; -10006 still opens
    bool port = false;                  // DevGetPort fails
    std::vector<uint64_t> readFails;    // register reads starting there fail
    std::optional<int32_t> vendorRead;  // result of the flash-vendor read
    bool modelInfo = false;             // IFGetDeviceInfo(MODEL) fails
    bool displayName = false;           // IFGetDeviceInfo(DISPLAYNAME) fails
    bool urlInfo = false;               // GCGetPortURLInfo fails
    bool enter = false;
    std::optional<uint64_t> writeFailsAt;
    bool leave = false;
    bool close = false;
    bool returns = true;  // false: never comes back after an upgrade
    bool sdkOpen = false;
    std::optional<int32_t> sdkExportFails;  // ordinal 412, 421 or 700
    std::optional<int32_t> sdkImportFails;  // ordinal 701, 412 or 421
    int32_t sdkClassCode = 3;
};

struct CameraDescription {
    std::string interfaceId;
    std::string deviceId;
    std::string vendor;
    std::string model;
    std::string serial;
    std::string guid;
    std::string factoryVersion;
    Versions versions;
    std::optional<Versions> afterUpgrade;
    std::optional<uint8_t> flashVendor;  // empty: the register does not exist
    double writeBytesPerSecond = 4000000.0;
    double rebootSeconds = 5.0;
    std::string sdkIdentity;
    ParameterSet factoryParameters;
    CameraFaults faults;
};

struct InterfaceDescription {
    std::string id;
    std::string displayName;
    bool openFails = false;
    std::vector<CameraDescription> cameras;
};

struct ProducerFaults {
    std::optional<int32_t> init;
    std::optional<int32_t> tlOpen;
    std::optional<int32_t> updateInterfaces;
    bool lastError = true;             // false: GCGetLastError fails
    double enumerationSeconds = 0.02;  // time one IFUpdateDeviceList takes
};

struct SdkFaults {
    std::optional<int32_t> init;  // ordinal 100
    std::optional<int32_t> list;  // ordinal 200
    std::optional<int32_t> info;  // ordinal 201
    bool describe = true;         // false: ordinal 204 fails
};

struct Description {
    std::string source;  // file path, or "built-in default"
    ProducerFaults producer;
    SdkFaults sdk;
    std::vector<InterfaceDescription> interfaces;

    // Every camera of every interface, in interface order.
    std::vector<const CameraDescription*> Cameras() const;
    const CameraDescription* FindCamera(const std::string& deviceId) const;
};

// Parses and checks a description; throws DescriptionError naming the key at fault.
Description ParseDescription(const std::string& jsonText, const std::string& source);
Description LoadDescriptionFile(const std::string& path);
Description DefaultDescription();
// The built-in default as JSON text, the same cameras DefaultDescription gives.
std::string DefaultDescriptionJson();

// The parameters a camera leaves the factory with when the description names none.
ParameterSet DefaultFactoryParameters();

std::string HexString(uint64_t value);  // "0x" + lowercase hex, no padding

}  // namespace zvsim
