#include "zvsim/Description.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

namespace zvsim {

using nlohmann::json;

namespace {

const char* const kDefaultDescription = R"json({
  "interfaces": [
    {
      "id": "ZvU3V-Interface-0",
      "cameras": [
        {
          "device_id": "ZvU3V-ZV21A0001",
          "model": "ORV-2C",
          "serial": "ZV21A0001",
          "guid": "G2C0021A00000001",
          "device_version": "1.1_2.1_2.0",
          "firmware_version": "V01.03.001.002:V01.05",
          "factory_version": "V01.00.000.001",
          "xml_version": [1, 0, 3],
          "after_upgrade": {"firmware_version": "V01.03.002.001:V01.06", "device_version": "1.1_2.1_2.1", "xml_version": [1, 0, 4]}
        },
        {
          "device_id": "ZvU3V-ZV21A0002",
          "model": "ORV-2C-L",
          "serial": "ZV21A0002",
          "guid": "G2CL021A00000002",
          "device_version": "1.1_2.1_2.0",
          "firmware_version": "V01.03.001.002:V01.05",
          "factory_version": "V01.00.000.001",
          "xml_version": [1, 0, 3],
          "after_upgrade": {"firmware_version": "V01.03.002.001:V01.06", "device_version": "1.1_2.1_2.1", "xml_version": [1, 0, 4]}
        },
        {
          "device_id": "ZvU3V-ZV21A0003",
          "model": "ORV-2M",
          "serial": "ZV21A0003",
          "guid": "G2M0021A00000003",
          "device_version": "1.1_2.1_2.0",
          "firmware_version": "V01.03.001.002:V01.05",
          "factory_version": "V01.00.000.001",
          "xml_version": [1, 0, 3],
          "after_upgrade": {"firmware_version": "V01.03.002.001:V01.06", "device_version": "1.1_2.1_2.1", "xml_version": [1, 0, 4]}
        },
        {
          "device_id": "ZvU3V-ZV21A0004",
          "model": "ORV-2M-L",
          "serial": "ZV21A0004",
          "guid": "G2ML021A00000004",
          "device_version": "1.1_2.1_2.0",
          "firmware_version": "V01.03.001.002:V01.05",
          "factory_version": "V01.00.000.001",
          "xml_version": [1, 0, 3],
          "after_upgrade": {"firmware_version": "V01.03.002.001:V01.06", "device_version": "1.1_2.1_2.1", "xml_version": [1, 0, 4]}
        }
      ]
    }
  ]
})json";

constexpr uint32_t kUserSetSelector = 0x30001B58;
constexpr uint32_t kUserSetSave = 0x70001B59;
constexpr uint32_t kUserSetLoad = 0x70001B5A;

// Reads one JSON object and refuses keys nobody asked for, so a misspelt
// fault never silently turns into "no fault".
class ObjectReader {
public:
    ObjectReader(const json& value, std::string path) : m_value(value), m_path(std::move(path)) {
        if (!m_value.is_object()) {
            Fail(m_path, "must be a JSON object");
        }
    }

    const json* Find(const std::string& key) {
        m_known.insert(key);
        auto it = m_value.find(key);
        return it == m_value.end() ? nullptr : &*it;
    }

    const json& Require(const std::string& key) {
        const json* value = Find(key);
        if (value == nullptr) {
            Fail(Path(key), "is missing");
        }
        return *value;
    }

    std::string Path(const std::string& key) const { return m_path.empty() ? key : m_path + "." + key; }

    void CheckNoUnknownKeys() const {
        for (auto it = m_value.begin(); it != m_value.end(); ++it) {
            const std::string& key = it.key();
            if (m_known.count(key) == 0 && key.rfind("_", 0) != 0 && key != "comment") {
                Fail(Path(key), "is not a known key");
            }
        }
    }

    [[noreturn]] static void Fail(const std::string& path, const std::string& message) {
        throw DescriptionError((path.empty() ? std::string("description") : path) + " " + message);
    }

private:
    const json& m_value;
    std::string m_path;
    std::set<std::string> m_known;
};

uint64_t ParseUnsigned(const json& value, const std::string& path, uint64_t maximum) {
    uint64_t result = 0;
    if (value.is_number_unsigned()) {
        result = value.get<uint64_t>();
    } else if (value.is_number_integer()) {
        ObjectReader::Fail(path, "must not be negative");
    } else if (value.is_string()) {
        std::string text = value.get<std::string>();
        if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
            text = text.substr(2);
        }
        if (text.empty() || text.size() > 16 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            ObjectReader::Fail(path, "must be a hexadecimal number such as \"0x300004\"");
        }
        result = std::stoull(text, nullptr, 16);
    } else {
        ObjectReader::Fail(path, "must be a number or a hexadecimal string");
    }
    if (result > maximum) {
        ObjectReader::Fail(path, "is out of range");
    }
    return result;
}

// A result code: a signed 32-bit integer, or a hexadecimal string ("0x8003")
// whose 32 bits are taken as they are.
int32_t ParseCode(const json& value, const std::string& path) {
    if (value.is_number_integer() && !value.is_number_unsigned()) {
        const int64_t code = value.get<int64_t>();
        if (code < std::numeric_limits<int32_t>::min()) {
            ObjectReader::Fail(path, "is out of range");
        }
        return static_cast<int32_t>(code);
    }
    if (value.is_string()) {
        const std::string text = value.get<std::string>();
        if (!text.empty() && (text[0] == '-' || std::isdigit(static_cast<unsigned char>(text[0]))) &&
            text.find_first_not_of("-0123456789") == std::string::npos && text.rfind("0", 0) != 0) {
            try {
                const long long code = std::stoll(text);
                if (code >= std::numeric_limits<int32_t>::min() && code <= std::numeric_limits<uint32_t>::max()) {
                    return static_cast<int32_t>(static_cast<uint32_t>(code));
                }
            } catch (const std::exception&) {
            }
            ObjectReader::Fail(path, "is out of range");
        }
    }
    return static_cast<int32_t>(static_cast<uint32_t>(ParseUnsigned(value, path, 0xFFFFFFFFull)));
}

bool ParseBool(const json& value, const std::string& path) {
    if (!value.is_boolean()) {
        ObjectReader::Fail(path, "must be true or false");
    }
    return value.get<bool>();
}

double ParseSeconds(const json& value, const std::string& path, bool allowZero) {
    if (!value.is_number()) {
        ObjectReader::Fail(path, "must be a number");
    }
    const double number = value.get<double>();
    if (!std::isfinite(number) || number < 0.0 || (!allowZero && number == 0.0) || number > 1.0e9) {
        ObjectReader::Fail(path, allowZero ? "must be a number from 0 on" : "must be a number above 0");
    }
    return number;
}

std::string ParseText(const json& value, const std::string& path, size_t maximum, bool allowEmpty = true) {
    if (!value.is_string()) {
        ObjectReader::Fail(path, "must be a string");
    }
    std::string text = value.get<std::string>();
    if (text.size() > maximum) {
        ObjectReader::Fail(path, "is longer than " + std::to_string(maximum) + " bytes");
    }
    if (!allowEmpty && text.empty()) {
        ObjectReader::Fail(path, "must not be empty");
    }
    if (text.find('\0') != std::string::npos) {
        ObjectReader::Fail(path, "must not contain a NUL character");
    }
    return text;
}

XmlVersion ParseXmlVersion(const json& value, const std::string& path) {
    if (!value.is_array() || value.size() != 3) {
        ObjectReader::Fail(path, "must be [major, minor, subminor]");
    }
    XmlVersion version{};
    for (size_t i = 0; i < 3; ++i) {
        if (!value[i].is_number_integer() || value[i].get<int64_t>() < std::numeric_limits<int32_t>::min() ||
            value[i].get<int64_t>() > std::numeric_limits<int32_t>::max()) {
            ObjectReader::Fail(path, "must hold three 32-bit integers");
        }
        version[i] = value[i].get<int32_t>();
    }
    return version;
}

ParameterSet ParseParameters(const json& value, const std::string& path) {
    if (!value.is_object()) {
        ObjectReader::Fail(path, "must be an object of feature id to integer value");
    }
    ParameterSet parameters;
    for (auto it = value.begin(); it != value.end(); ++it) {
        const std::string keyPath = path + "." + it.key();
        const uint32_t feature = static_cast<uint32_t>(ParseUnsigned(json(it.key()), keyPath, 0xFFFFFFFFull));
        if (feature == kUserSetSelector || feature == kUserSetSave || feature == kUserSetLoad) {
            ObjectReader::Fail(keyPath, "is a user-set feature, not a parameter");
        }
        if (!it.value().is_number_integer()) {
            ObjectReader::Fail(keyPath, "must be an integer");
        }
        parameters[feature] = it.value().get<int64_t>();
    }
    return parameters;
}

void ParseFaults(ObjectReader& faults, CameraFaults& out) {
    if (const json* v = faults.Find("open")) out.open = ParseCode(*v, faults.Path("open"));
    if (const json* v = faults.Find("port")) out.port = ParseBool(*v, faults.Path("port"));
    if (const json* v = faults.Find("read_fails")) {
        if (!v->is_array()) {
            ObjectReader::Fail(faults.Path("read_fails"), "must be an array of register addresses");
        }
        for (size_t i = 0; i < v->size(); ++i) {
            out.readFails.push_back(
                ParseUnsigned((*v)[i], faults.Path("read_fails") + "[" + std::to_string(i) + "]", ~0ull));
        }
    }
    if (const json* v = faults.Find("vendor_read")) out.vendorRead = ParseCode(*v, faults.Path("vendor_read"));
    if (const json* v = faults.Find("model_info")) out.modelInfo = ParseBool(*v, faults.Path("model_info"));
    if (const json* v = faults.Find("display_name")) out.displayName = ParseBool(*v, faults.Path("display_name"));
    if (const json* v = faults.Find("url_info")) out.urlInfo = ParseBool(*v, faults.Path("url_info"));
    if (const json* v = faults.Find("enter")) out.enter = ParseBool(*v, faults.Path("enter"));
    if (const json* v = faults.Find("write_fails_at"))
        out.writeFailsAt = ParseUnsigned(*v, faults.Path("write_fails_at"), ~0ull);
    if (const json* v = faults.Find("leave")) out.leave = ParseBool(*v, faults.Path("leave"));
    if (const json* v = faults.Find("close")) out.close = ParseBool(*v, faults.Path("close"));
    if (const json* v = faults.Find("returns")) out.returns = ParseBool(*v, faults.Path("returns"));
    if (const json* v = faults.Find("sdk_open")) out.sdkOpen = ParseBool(*v, faults.Path("sdk_open"));
    if (const json* v = faults.Find("sdk_export_fails")) {
        out.sdkExportFails = ParseCode(*v, faults.Path("sdk_export_fails"));
        if (*out.sdkExportFails != 412 && *out.sdkExportFails != 421 && *out.sdkExportFails != 700) {
            ObjectReader::Fail(faults.Path("sdk_export_fails"), "must be 412, 421 or 700");
        }
    }
    if (const json* v = faults.Find("sdk_import_fails")) {
        out.sdkImportFails = ParseCode(*v, faults.Path("sdk_import_fails"));
        if (*out.sdkImportFails != 701 && *out.sdkImportFails != 412 && *out.sdkImportFails != 421) {
            ObjectReader::Fail(faults.Path("sdk_import_fails"), "must be 701, 412 or 421");
        }
    }
    if (const json* v = faults.Find("sdk_class_code")) out.sdkClassCode = ParseCode(*v, faults.Path("sdk_class_code"));
    faults.CheckNoUnknownKeys();
}

Versions ParseAfterUpgrade(ObjectReader& after, const Versions& before) {
    Versions versions = before;
    if (const json* v = after.Find("firmware_version"))
        versions.firmwareVersion = ParseText(*v, after.Path("firmware_version"), 32);
    if (const json* v = after.Find("device_version"))
        versions.deviceVersion = ParseText(*v, after.Path("device_version"), 64);
    if (const json* v = after.Find("xml_version")) versions.xmlVersion = ParseXmlVersion(*v, after.Path("xml_version"));
    after.CheckNoUnknownKeys();
    return versions;
}

CameraDescription ParseCamera(const json& value, const std::string& path, const std::string& interfaceId) {
    ObjectReader camera(value, path);
    CameraDescription out;
    out.interfaceId = interfaceId;
    out.deviceId = ParseText(camera.Require("device_id"), camera.Path("device_id"), 1024, false);
    for (unsigned char c : out.deviceId) {
        if (c < 0x20 || c == 0x7F) {
            ObjectReader::Fail(camera.Path("device_id"), "must not contain control characters");
        }
    }
    out.model = ParseText(camera.Require("model"), camera.Path("model"), 64);
    out.serial = ParseText(camera.Require("serial"), camera.Path("serial"), 64);
    out.guid = ParseText(camera.Require("guid"), camera.Path("guid"), 16);
    out.versions.deviceVersion = ParseText(camera.Require("device_version"), camera.Path("device_version"), 64);
    out.versions.firmwareVersion = ParseText(camera.Require("firmware_version"), camera.Path("firmware_version"), 32);
    out.factoryVersion = ParseText(camera.Require("factory_version"), camera.Path("factory_version"), 32);
    out.versions.xmlVersion = ParseXmlVersion(camera.Require("xml_version"), camera.Path("xml_version"));
    out.vendor = "Zorvan";
    if (const json* v = camera.Find("vendor")) out.vendor = ParseText(*v, camera.Path("vendor"), 64);
    out.flashVendor = 0xEF;
    if (const json* v = camera.Find("flash_vendor")) {
        if (v->is_string() && v->get<std::string>() == "none") {
            out.flashVendor.reset();
        } else {
            out.flashVendor = static_cast<uint8_t>(ParseUnsigned(*v, camera.Path("flash_vendor"), 0xFF));
        }
    }
    if (const json* v = camera.Find("write_bytes_per_second")) {
        out.writeBytesPerSecond = ParseSeconds(*v, camera.Path("write_bytes_per_second"), false);
    }
    if (const json* v = camera.Find("reboot_seconds"))
        out.rebootSeconds = ParseSeconds(*v, camera.Path("reboot_seconds"), true);
    out.sdkIdentity = out.serial;
    if (const json* v = camera.Find("sdk_identity")) out.sdkIdentity = ParseText(*v, camera.Path("sdk_identity"), 255);
    if (out.sdkIdentity.empty()) {
        ObjectReader::Fail(camera.Path("sdk_identity"), "must not be empty (it defaults to the serial)");
    }
    if (const json* v = camera.Find("after_upgrade")) {
        ObjectReader after(*v, camera.Path("after_upgrade"));
        out.afterUpgrade = ParseAfterUpgrade(after, out.versions);
    }
    out.factoryParameters = DefaultFactoryParameters();
    if (const json* v = camera.Find("user_params"))
        out.factoryParameters = ParseParameters(*v, camera.Path("user_params"));
    if (const json* v = camera.Find("faults")) {
        ObjectReader faults(*v, camera.Path("faults"));
        ParseFaults(faults, out.faults);
    }
    camera.CheckNoUnknownKeys();
    return out;
}

}  // namespace

std::string HexString(uint64_t value) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(value));
    return buffer;
}

ParameterSet DefaultFactoryParameters() {
    // Exposure time in microseconds, gain in 0.01 dB, black level, frame-rate limit in mHz.
    return {{0x30001770, 10000}, {0x300017D4, 0}, {0x30001838, 64}, {0x3000189C, 30000}};
}

std::vector<const CameraDescription*> Description::Cameras() const {
    std::vector<const CameraDescription*> cameras;
    for (const InterfaceDescription& interface : interfaces) {
        for (const CameraDescription& camera : interface.cameras) {
            cameras.push_back(&camera);
        }
    }
    return cameras;
}

const CameraDescription* Description::FindCamera(const std::string& deviceId) const {
    for (const CameraDescription* camera : Cameras()) {
        if (camera->deviceId == deviceId) {
            return camera;
        }
    }
    return nullptr;
}

Description ParseDescription(const std::string& jsonText, const std::string& source) {
    json document;
    try {
        document = json::parse(jsonText);
    } catch (const json::parse_error& error) {
        throw DescriptionError(std::string("not valid JSON: ") + error.what());
    }
    Description description;
    description.source = source;
    ObjectReader top(document, "");
    if (const json* producer = top.Find("producer")) {
        ObjectReader faults(*producer, "producer");
        if (const json* v = faults.Find("init")) description.producer.init = ParseCode(*v, "producer.init");
        if (const json* v = faults.Find("tl_open")) description.producer.tlOpen = ParseCode(*v, "producer.tl_open");
        if (const json* v = faults.Find("update_interfaces")) {
            description.producer.updateInterfaces = ParseCode(*v, "producer.update_interfaces");
        }
        if (const json* v = faults.Find("last_error"))
            description.producer.lastError = ParseBool(*v, "producer.last_error");
        if (const json* v = faults.Find("enumeration_seconds")) {
            description.producer.enumerationSeconds = ParseSeconds(*v, "producer.enumeration_seconds", true);
        }
        faults.CheckNoUnknownKeys();
    }
    if (const json* sdk = top.Find("sdk")) {
        ObjectReader faults(*sdk, "sdk");
        if (const json* v = faults.Find("init")) description.sdk.init = ParseCode(*v, "sdk.init");
        if (const json* v = faults.Find("list")) description.sdk.list = ParseCode(*v, "sdk.list");
        if (const json* v = faults.Find("info")) description.sdk.info = ParseCode(*v, "sdk.info");
        if (const json* v = faults.Find("describe")) description.sdk.describe = ParseBool(*v, "sdk.describe");
        faults.CheckNoUnknownKeys();
    }
    const json& interfaces = top.Require("interfaces");
    if (!interfaces.is_array()) {
        ObjectReader::Fail("interfaces", "must be an array");
    }
    std::set<std::string> interfaceIds;
    std::set<std::string> deviceIds;
    std::set<std::string> identities;
    for (size_t i = 0; i < interfaces.size(); ++i) {
        const std::string path = "interfaces[" + std::to_string(i) + "]";
        ObjectReader reader(interfaces[i], path);
        InterfaceDescription interface;
        interface.id = ParseText(reader.Require("id"), reader.Path("id"), 255, false);
        if (!interfaceIds.insert(interface.id).second) {
            ObjectReader::Fail(reader.Path("id"), "repeats the interface id \"" + interface.id + "\"");
        }
        interface.displayName = interface.id;
        if (const json* v = reader.Find("display_name"))
            interface.displayName = ParseText(*v, reader.Path("display_name"), 255);
        if (const json* v = reader.Find("open_fails")) interface.openFails = ParseBool(*v, reader.Path("open_fails"));
        if (const json* cameras = reader.Find("cameras")) {
            if (!cameras->is_array()) {
                ObjectReader::Fail(reader.Path("cameras"), "must be an array");
            }
            for (size_t c = 0; c < cameras->size(); ++c) {
                const std::string cameraPath = reader.Path("cameras") + "[" + std::to_string(c) + "]";
                CameraDescription camera = ParseCamera((*cameras)[c], cameraPath, interface.id);
                if (!deviceIds.insert(camera.deviceId).second) {
                    ObjectReader::Fail(cameraPath + ".device_id", "repeats the device id \"" + camera.deviceId + "\"");
                }
                if (!identities.insert(camera.sdkIdentity).second) {
                    ObjectReader::Fail(cameraPath + ".sdk_identity",
                                       "repeats the SDK identity \"" + camera.sdkIdentity + "\"");
                }
                interface.cameras.push_back(std::move(camera));
            }
        }
        reader.CheckNoUnknownKeys();
        description.interfaces.push_back(std::move(interface));
    }
    top.CheckNoUnknownKeys();
    return description;
}

Description LoadDescriptionFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw DescriptionError("cannot read the camera description \"" + path + "\"");
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        throw DescriptionError("cannot read the camera description \"" + path + "\"");
    }
    try {
        return ParseDescription(text.str(), path);
    } catch (const DescriptionError& error) {
        throw DescriptionError(path + ": " + error.what());
    }
}

std::string DefaultDescriptionJson() { return kDefaultDescription; }

Description DefaultDescription() { return ParseDescription(kDefaultDescription, "built-in default"); }

}  // namespace zvsim
