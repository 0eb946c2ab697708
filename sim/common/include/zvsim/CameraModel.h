// The remote device as a register map: the bootstrap registers, the vendor
// registers the upgrade tool reads, the manifest and the device XML file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "zvsim/Description.h"
#include "zvsim/StateStore.h"

namespace zvsim {

constexpr uint64_t kAbrmSize = 0x210;
constexpr uint64_t kModelNameRegister = 0x44;
constexpr uint64_t kDeviceVersionRegister = 0xC4;
constexpr uint64_t kSerialNumberRegister = 0x144;
constexpr uint64_t kUserDefinedNameRegister = 0x184;
constexpr uint64_t kSbrmAddress = 0x1000;
constexpr uint64_t kSbrmSize = 0x44;
constexpr uint64_t kManifestAddress = 0x2000;
constexpr uint64_t kManifestSize = 8 + 64;
constexpr uint64_t kXmlAddress = 0x10000;
constexpr uint64_t kFirmwareVersionRegister = 0x300000;  // 32 bytes of text
constexpr uint64_t kFlashVendorRegister = 0x300004;      // 32-bit, low byte the vendor
constexpr uint64_t kFactoryVersionRegister = 0x80007C;   // 32 bytes of text
constexpr uint64_t kCameraInfoRegister = 0xC00000;       // 304 bytes
constexpr size_t kCameraInfoSize = 304;
constexpr size_t kCameraInfoGuidOffset = 260;
constexpr uint64_t kFlashSize = 0x2000000;  // 32 MiB of flash

std::string DeviceXml(const CameraDescription& camera, const CameraState& state);
std::string XmlFileName(const CameraDescription& camera);
std::string XmlUrl(const CameraDescription& camera, const CameraState& state);
std::vector<uint8_t> CameraInfoBlock(const CameraDescription& camera, const CameraState& state);

// Reads size bytes at address into buffer. Returns 0, or the GenCP status
// 0x8003 when the range does not lie inside one register. Faults are the
// caller's business.
int32_t ReadRegisters(const CameraDescription& camera, const CameraState& state, uint64_t address, void* buffer,
                      size_t size);

// Writes the few writable registers (the user-defined name, the timestamp
// latch); changes the state where the write lands in it. Returns 0, 0x8003 or
// the GenCP write-protect status 0x8004.
int32_t WriteRegisters(const CameraDescription& camera, CameraState& state, uint64_t address, const void* buffer,
                       size_t size, bool& stateChanged);

}  // namespace zvsim
