#include "zvsim/CameraModel.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "zvsim/Clock.h"

namespace zvsim {

namespace {

constexpr int32_t kInvalidAddress = 0x8003;
constexpr int32_t kWriteProtect = 0x8004;

void PutText(std::vector<uint8_t>& bytes, size_t offset, size_t width, const std::string& text) {
    const size_t count = std::min(width, text.size());
    std::memcpy(bytes.data() + offset, text.data(), count);
}

template <typename T>
void PutLittleEndian(std::vector<uint8_t>& bytes, size_t offset, T value) {
    for (size_t i = 0; i < sizeof(T); ++i) {
        bytes[offset + i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
    }
}

std::string XmlEscape(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
            case '&': escaped += "&amp;"; break;
            case '<': escaped += "&lt;"; break;
            case '>': escaped += "&gt;"; break;
            case '"': escaped += "&quot;"; break;
            case '\'': escaped += "&apos;"; break;
            default:
                // XML 1.0 has no way to write the other control characters.
                escaped += (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') ? '?' : c;
                break;
        }
    }
    return escaped;
}

// A name as the GenApi schema wants it in ModelName and VendorName: a letter,
// then letters, digits and underscores. Other bytes become "_" ("ORV-2C" gives
// "ORV_2C"), and a name that would not start with a letter gets the prefix.
std::string XmlName(const std::string& text, const std::string& prefix) {
    std::string name;
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        name += (u < 0x80 && (std::isalnum(u) || c == '_')) ? c : '_';
    }
    const unsigned char first = name.empty() ? 0 : static_cast<unsigned char>(name[0]);
    if (!(first < 0x80 && std::isalpha(first))) {
        name = prefix + name;
    }
    return name;
}

std::string GuidFrom(const std::string& seed) {
    uint64_t a = 0xcbf29ce484222325ull;
    uint64_t b = 0x84222325cbf29ce4ull;
    for (unsigned char c : seed) {
        a = (a ^ c) * 0x100000001b3ull;
        b = (b ^ c) * 0x100000001b3ull + 7;
    }
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%04X-%012llX", static_cast<unsigned>(a >> 32),
                  static_cast<unsigned>((a >> 16) & 0xFFFF), static_cast<unsigned>(a & 0xFFFF),
                  static_cast<unsigned>(b >> 48), static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
    return text;
}

std::string FamilyOf(const std::string& model) {
    const size_t dash = model.find('-');
    return dash == std::string::npos ? model : model.substr(0, dash);
}

uint32_t XmlVersionWord(const XmlVersion& version) {
    return (static_cast<uint32_t>(version[0] & 0xFF) << 24) | (static_cast<uint32_t>(version[1] & 0xFF) << 16) |
           static_cast<uint32_t>(version[2] & 0xFFFF);
}

std::vector<uint8_t> Abrm(const CameraDescription& camera, const CameraState& state) {
    std::vector<uint8_t> bytes(kAbrmSize, 0);
    PutLittleEndian<uint32_t>(bytes, 0x000, 0x00010000);  // GenCP 1.0
    PutText(bytes, 0x004, 64, camera.vendor);
    PutText(bytes, kModelNameRegister, 64, camera.model);
    PutText(bytes, 0x084, 64, FamilyOf(camera.model));
    PutText(bytes, kDeviceVersionRegister, 64, state.versions.deviceVersion);
    PutText(bytes, 0x104, 64, camera.vendor + " USB3 Vision camera");
    PutText(bytes, kSerialNumberRegister, 64, camera.serial);
    PutText(bytes, kUserDefinedNameRegister, 64, state.userDefinedName);
    PutLittleEndian<uint64_t>(bytes, 0x1C4, 0x301);  // user-defined name, family name, SBRM
    PutLittleEndian<uint32_t>(bytes, 0x1CC, 200);
    PutLittleEndian<uint64_t>(bytes, 0x1D0, kManifestAddress);
    PutLittleEndian<uint64_t>(bytes, 0x1D8, kSbrmAddress);
    PutLittleEndian<uint32_t>(bytes, 0x1E8, 3000);
    PutLittleEndian<uint64_t>(bytes, 0x1F0, static_cast<uint64_t>(NowMicros()) * 1000);
    PutLittleEndian<uint64_t>(bytes, 0x1FC, 1);
    PutLittleEndian<uint32_t>(bytes, 0x208, 0xFFFFFFFF);  // little-endian
    PutLittleEndian<uint32_t>(bytes, 0x20C, 0xFFFFFFFF);
    return bytes;
}

std::vector<uint8_t> Sbrm() {
    std::vector<uint8_t> bytes(kSbrmSize, 0);
    PutLittleEndian<uint32_t>(bytes, 0x00, 0x00010000);  // U3V 1.0
    PutLittleEndian<uint32_t>(bytes, 0x14, 1024);
    PutLittleEndian<uint32_t>(bytes, 0x18, 1024);
    PutLittleEndian<uint32_t>(bytes, 0x40, 8);  // SuperSpeed
    return bytes;
}

std::vector<uint8_t> Manifest(const CameraDescription& camera, const CameraState& state) {
    std::vector<uint8_t> bytes(kManifestSize, 0);
    PutLittleEndian<uint64_t>(bytes, 0, 1);
    PutLittleEndian<uint32_t>(bytes, 8 + 0x00, XmlVersionWord(state.versions.xmlVersion));
    PutLittleEndian<uint32_t>(bytes, 8 + 0x04, 0x01010000);  // schema 1.1, plain device description
    PutLittleEndian<uint64_t>(bytes, 8 + 0x08, kXmlAddress);
    PutLittleEndian<uint64_t>(bytes, 8 + 0x10, DeviceXml(camera, state).size());
    return bytes;
}

bool Inside(uint64_t address, size_t size, uint64_t start, uint64_t length) {
    return address >= start && address - start <= length && size <= length - (address - start);
}

int32_t CopyFrom(const std::vector<uint8_t>& bytes, uint64_t offset, void* buffer, size_t size) {
    std::memcpy(buffer, bytes.data() + offset, size);
    return 0;
}

std::vector<uint8_t> TextRegister(const std::string& text, size_t width) {
    std::vector<uint8_t> bytes(width, 0);
    PutText(bytes, 0, width, text);
    return bytes;
}

}  // namespace

std::string XmlFileName(const CameraDescription& camera) {
    std::string name = camera.vendor + "_" + camera.model;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') {
            c = '_';
        }
    }
    return name + ".xml";
}

std::string DeviceXml(const CameraDescription& camera, const CameraState& state) {
    const XmlVersion& v = state.versions.xmlVersion;
    const std::string versionText = std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]);
    std::string xml;
    xml += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
    // The raw model and vendor, which may hold any character, are in the ToolTip.
    xml += "<RegisterDescription ModelName=\"" + XmlName(camera.model, "Model_") + "\" VendorName=\"" +
           XmlName(camera.vendor, "Vendor_") + "\" ToolTip=\"" + XmlEscape(camera.vendor + " " + camera.model) +
           "\" StandardNameSpace=\"None\" SchemaMajorVersion=\"1\" SchemaMinorVersion=\"1\" "
           "SchemaSubMinorVersion=\"0\" MajorVersion=\"" +
           std::to_string(v[0]) + "\" MinorVersion=\"" + std::to_string(v[1]) + "\" SubMinorVersion=\"" +
           std::to_string(v[2]) + "\" ProductGuid=\"" + GuidFrom(camera.vendor + camera.model) + "\" VersionGuid=\"" +
           GuidFrom(camera.model + versionText) +
           "\" xmlns=\"http://www.genicam.org/GenApi/Version_1_1\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
           "xsi:schemaLocation=\"http://www.genicam.org/GenApi/Version_1_1 "
           "http://www.genicam.org/GenApi/GenApiSchema_Version_1_1.xsd\">\n";
    xml +=
        "  <Category Name=\"Root\" NameSpace=\"Standard\">\n    <pFeature>DeviceControl</pFeature>\n"
        "  </Category>\n";
    struct Text {
        const char* name;
        uint64_t address;
        int length;
        const char* access;
    };
    const Text texts[] = {
        {"DeviceVendorName", 0x004, 64, "RO"},
        {"DeviceModelName", kModelNameRegister, 64, "RO"},
        {"DeviceFamilyName", 0x084, 64, "RO"},
        {"DeviceVersion", kDeviceVersionRegister, 64, "RO"},
        {"DeviceManufacturerInfo", 0x104, 64, "RO"},
        {"DeviceSerialNumber", kSerialNumberRegister, 64, "RO"},
        {"DeviceUserID", kUserDefinedNameRegister, 64, "RW"},
        {"DeviceFirmwareVersion", kFirmwareVersionRegister, 32, "RO"},
        {"DeviceFactoryVersion", kFactoryVersionRegister, 32, "RO"},
    };
    xml += "  <Category Name=\"DeviceControl\" NameSpace=\"Standard\">\n";
    for (const Text& text : texts) {
        xml += std::string("    <pFeature>") + text.name + "</pFeature>\n";
    }
    xml += "  </Category>\n";
    for (const Text& text : texts) {
        char address[24];
        std::snprintf(address, sizeof address, "0x%llx", static_cast<unsigned long long>(text.address));
        xml += std::string("  <StringReg Name=\"") + text.name + "\" NameSpace=\"" +
               (std::strcmp(text.name, "DeviceFactoryVersion") == 0 ? "Custom" : "Standard") + "\">\n" +
               "    <Address>" + address + "</Address>\n    <Length>" + std::to_string(text.length) +
               "</Length>\n    <AccessMode>" + text.access + "</AccessMode>\n    <pPort>Device</pPort>\n" +
               "  </StringReg>\n";
    }
    xml += "  <Port Name=\"Device\" NameSpace=\"Standard\"/>\n</RegisterDescription>\n";
    return xml;
}

std::string XmlUrl(const CameraDescription& camera, const CameraState& state) {
    char tail[48];
    std::snprintf(tail, sizeof tail, ";%llx;%llx", static_cast<unsigned long long>(kXmlAddress),
                  static_cast<unsigned long long>(DeviceXml(camera, state).size()));
    return "Local:" + XmlFileName(camera) + tail;
}

std::vector<uint8_t> CameraInfoBlock(const CameraDescription& camera, const CameraState& state) {
    std::vector<uint8_t> block(kCameraInfoSize, 0);
    PutText(block, 0, 64, camera.model);
    PutText(block, 64, 64, camera.serial);
    PutText(block, 128, 64, state.versions.deviceVersion);
    PutText(block, 192, 32, state.versions.firmwareVersion);
    PutText(block, 224, 32, camera.factoryVersion);
    PutLittleEndian<uint32_t>(block, 256, camera.flashVendor ? *camera.flashVendor : 0xFFFFFFFFu);
    PutText(block, kCameraInfoGuidOffset, 16, camera.guid);
    PutLittleEndian<uint32_t>(block, 276, XmlVersionWord(state.versions.xmlVersion));
    return block;
}

int32_t ReadRegisters(const CameraDescription& camera, const CameraState& state, uint64_t address, void* buffer,
                      size_t size) {
    // The vendor registers are read whole or in part from their first byte.
    if (address == kFlashVendorRegister) {
        if (!camera.flashVendor || size > 4) {
            return kInvalidAddress;
        }
        std::vector<uint8_t> bytes(4, 0);
        PutLittleEndian<uint32_t>(bytes, 0, *camera.flashVendor);
        return CopyFrom(bytes, 0, buffer, size);
    }
    if (address == kFirmwareVersionRegister) {
        return size > 32 ? kInvalidAddress
                         : CopyFrom(TextRegister(state.versions.firmwareVersion, 32), 0, buffer, size);
    }
    if (address == kFactoryVersionRegister) {
        return size > 32 ? kInvalidAddress : CopyFrom(TextRegister(camera.factoryVersion, 32), 0, buffer, size);
    }
    if (address == kCameraInfoRegister) {
        return size > kCameraInfoSize ? kInvalidAddress : CopyFrom(CameraInfoBlock(camera, state), 0, buffer, size);
    }
    if (Inside(address, size, 0, kAbrmSize)) {
        return CopyFrom(Abrm(camera, state), address, buffer, size);
    }
    if (Inside(address, size, kSbrmAddress, kSbrmSize)) {
        return CopyFrom(Sbrm(), address - kSbrmAddress, buffer, size);
    }
    if (Inside(address, size, kManifestAddress, kManifestSize)) {
        return CopyFrom(Manifest(camera, state), address - kManifestAddress, buffer, size);
    }
    const std::string xml = DeviceXml(camera, state);
    if (Inside(address, size, kXmlAddress, xml.size())) {
        std::memcpy(buffer, xml.data() + (address - kXmlAddress), size);
        return 0;
    }
    return kInvalidAddress;
}

int32_t WriteRegisters(const CameraDescription& camera, CameraState& state, uint64_t address, const void* buffer,
                       size_t size, bool& stateChanged) {
    stateChanged = false;
    if (Inside(address, size, kUserDefinedNameRegister, 64)) {
        std::vector<uint8_t> name = TextRegister(state.userDefinedName, 64);
        std::memcpy(name.data() + (address - kUserDefinedNameRegister), buffer, size);
        state.userDefinedName.assign(reinterpret_cast<const char*>(name.data()),
                                     strnlen(reinterpret_cast<const char*>(name.data()), name.size()));
        stateChanged = true;
        return 0;
    }
    if (address == 0x1F8 && size == 4) {
        return 0;  // timestamp latch: the timestamp register is always current
    }
    std::vector<uint8_t> scratch(size);
    if (size == 0 || ReadRegisters(camera, state, address, scratch.data(), size) == 0) {
        return kWriteProtect;
    }
    return kInvalidAddress;
}

}  // namespace zvsim
