// The simulated producer and SDK loaded the way a consumer loads them (from
// the build's bin folder), with the GenTL calls the simulator tests repeat.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "testbed/Cameras.h"
#include "testbed/Files.h"
#include "testbed/Library.h"
#include "zvsim/GenTL.h"
#include "zvsim/ZvIAPI.h"

namespace simtest {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace testbed;
using namespace zvsim::gentl;
using namespace zvsim::sdk;
using Library = testbed::LoadedLibrary;

// A list of names, kept as written: the formatter would indent each continuation deeper.
// clang-format off
#define ZVSIM_PRODUCER_FUNCTIONS(X)                                                                              \
    X(GCGetInfo) X(GCGetLastError) X(GCInitLib) X(GCCloseLib) X(GCReadPort) X(GCWritePort) X(GCGetPortURL)      \
    X(GCGetPortInfo) X(GCGetNumPortURLs) X(GCGetPortURLInfo) X(GCReadPortStacked) X(GCWritePortStacked) X(TLOpen) \
    X(TLClose) X(TLGetInfo) X(TLGetNumInterfaces) X(TLGetInterfaceID) X(TLGetInterfaceInfo) X(TLOpenInterface)    \
    X(TLUpdateInterfaceList) X(IFClose) X(IFGetInfo) X(IFGetNumDevices) X(IFGetDeviceID) X(IFUpdateDeviceList)    \
    X(IFGetDeviceInfo) X(IFOpenDevice) X(IFGetParentTL) X(DevGetPort) X(DevGetNumDataStreams) X(DevGetInfo)       \
    X(DevClose) X(DevGetParentIF) X(DPEnterUpgradeMode) X(DPWriteUpgradeFile) X(DPLeaveUpgradeMode)
// clang-format on

// The producer's entry points; the upgrade extensions are null in the build without them.
struct Producer {
    explicit Producer(const fs::path& file = BinDir() / "ZvU3VTL.cti") : library(file) {
#define ZVSIM_RESOLVE(name) name = library.Get<P##name>(#name);
        ZVSIM_PRODUCER_FUNCTIONS(ZVSIM_RESOLVE)
#undef ZVSIM_RESOLVE
    }

    std::string LastErrorText() const {
        GC_ERROR code = 0;
        size_t size = 0;
        if (GCGetLastError(&code, nullptr, &size) != GC_ERR_SUCCESS) {
            return "<GCGetLastError failed>";
        }
        std::string text(size, '\0');
        if (GCGetLastError(&code, text.data(), &size) != GC_ERR_SUCCESS) {
            return "<GCGetLastError failed>";
        }
        text.resize(size > 0 ? size - 1 : 0);
        return text;
    }

    Library library;
#define ZVSIM_MEMBER(name) P##name name = nullptr;
    ZVSIM_PRODUCER_FUNCTIONS(ZVSIM_MEMBER)
#undef ZVSIM_MEMBER
};

// The SDK's entry points, reached by number as consumers reach them.
struct Sdk {
    explicit Sdk(const fs::path& file = BinDir() / LibraryFileName("ZvIAPI")) : library(file) {
        open = library.GetOrdinal<PZvIAPI_100>(100, "ZvIAPI_100");
        close = library.GetOrdinal<PZvIAPI_101>(101, "ZvIAPI_101");
        count = library.GetOrdinal<PZvIAPI_200>(200, "ZvIAPI_200");
        entries = library.GetOrdinal<PZvIAPI_201>(201, "ZvIAPI_201");
        describe = library.GetOrdinal<PZvIAPI_204>(204, "ZvIAPI_204");
        openCamera = library.GetOrdinal<PZvIAPI_301>(301, "ZvIAPI_301");
        closeCamera = library.GetOrdinal<PZvIAPI_302>(302, "ZvIAPI_302");
        setInteger = library.GetOrdinal<PZvIAPI_412>(412, "ZvIAPI_412");
        execute = library.GetOrdinal<PZvIAPI_421>(421, "ZvIAPI_421");
        save = library.GetOrdinal<PZvIAPI_700>(700, "ZvIAPI_700");
        load = library.GetOrdinal<PZvIAPI_701>(701, "ZvIAPI_701");
    }

    std::string Describe(int32_t status) const {
        uint32_t size = 0;
        describe(&status, nullptr, &size);
        std::string text(size, '\0');
        if (describe(&status, text.data(), &size) != ZV_OK) {
            return "<204 failed>";
        }
        text.resize(size > 0 ? size - 1 : 0);
        return text;
    }

    struct Entry {
        std::string identity;
        int32_t classCode;
        std::string model;
    };
    // Ordinals 200 and 201 as a consumer calls them.
    std::vector<Entry> List() const {
        uint32_t n = 0;
        EXPECT_EQ(count(&n, 1000), ZV_OK);
        // Never a null buffer, even for no camera.
        std::vector<uint8_t> buffer(std::max<size_t>(static_cast<size_t>(n) * kEntrySize, 1));
        uint32_t size = static_cast<uint32_t>(static_cast<size_t>(n) * kEntrySize);
        EXPECT_EQ(entries(buffer.data(), &size), ZV_OK);
        std::vector<Entry> result;
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t* entry = buffer.data() + static_cast<size_t>(i) * kEntrySize;
            Entry e;
            e.identity = reinterpret_cast<const char*>(entry + kEntryIdentityOffset);
            std::memcpy(&e.classCode, entry + kEntryClassCodeOffset, sizeof e.classCode);
            e.model = reinterpret_cast<const char*>(entry + kEntryModelOffset);
            result.push_back(e);
        }
        return result;
    }

    uint32_t OpenCamera(const std::string& identity, int32_t* status = nullptr) const {
        ZvOpenRequest request{identity.c_str(), 0, kAccessExclusive};
        uint32_t handle = 0;
        const int32_t result = openCamera(&request, &handle);
        if (status != nullptr) {
            *status = result;
        }
        return result == ZV_OK ? handle : 0;
    }

    Library library;
    PZvIAPI_100 open;
    PZvIAPI_101 close;
    PZvIAPI_200 count;
    PZvIAPI_201 entries;
    PZvIAPI_204 describe;
    PZvIAPI_301 openCamera;
    PZvIAPI_302 closeCamera;
    PZvIAPI_412 setInteger;
    PZvIAPI_421 execute;
    PZvIAPI_700 save;
    PZvIAPI_701 load;
};

inline std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = 0x9E3779B9u * (seed + 1u);
    for (uint8_t& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    return bytes;
}

// A GenTL session with the transport layer and the first interface open.
class Session {
public:
    explicit Session(const Producer& producer) : p(producer) {
        EXPECT_EQ(p.GCInitLib(), GC_ERR_SUCCESS) << p.LastErrorText();
        EXPECT_EQ(p.TLOpen(&tl), GC_ERR_SUCCESS) << p.LastErrorText();
        bool8_t changed = 0;
        EXPECT_EQ(p.TLUpdateInterfaceList(tl, &changed, 1000), GC_ERR_SUCCESS);
        size_t size = 0;
        EXPECT_EQ(p.TLGetInterfaceID(tl, 0, nullptr, &size), GC_ERR_SUCCESS);
        std::string id(size, '\0');
        EXPECT_EQ(p.TLGetInterfaceID(tl, 0, id.data(), &size), GC_ERR_SUCCESS);
        EXPECT_EQ(p.TLOpenInterface(tl, id.c_str(), &iface), GC_ERR_SUCCESS) << p.LastErrorText();
    }
    ~Session() {
        p.TLClose(tl);
        p.GCCloseLib();
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    std::vector<std::string> DeviceIds() const {
        bool8_t changed = 0;
        EXPECT_EQ(p.IFUpdateDeviceList(iface, &changed, 1000), GC_ERR_SUCCESS);
        uint32_t n = 0;
        EXPECT_EQ(p.IFGetNumDevices(iface, &n), GC_ERR_SUCCESS);
        std::vector<std::string> ids;
        for (uint32_t i = 0; i < n; ++i) {
            char buffer[256] = {};
            size_t size = sizeof buffer;
            EXPECT_EQ(p.IFGetDeviceID(iface, i, buffer, &size), GC_ERR_SUCCESS);
            ids.emplace_back(buffer);
        }
        return ids;
    }

    struct Opened {
        DEV_HANDLE device = nullptr;
        PORT_HANDLE port = nullptr;
    };
    Opened Open(const std::string& deviceId) const {
        Opened opened;
        const GC_ERROR result = p.IFOpenDevice(iface, deviceId.c_str(), DEVICE_ACCESS_EXCLUSIVE, &opened.device);
        EXPECT_TRUE(result == GC_ERR_SUCCESS || result == ZV_ERR_ALREADY_OPEN) << result << " " << p.LastErrorText();
        EXPECT_EQ(p.DevGetPort(opened.device, &opened.port), GC_ERR_SUCCESS) << p.LastErrorText();
        return opened;
    }

    std::string ReadText(PORT_HANDLE port, uint64_t address, size_t width) const {
        std::vector<char> buffer(width + 1, '\0');
        size_t size = width;
        const GC_ERROR result = p.GCReadPort(port, address, buffer.data(), &size);
        EXPECT_EQ(result, GC_ERR_SUCCESS) << p.LastErrorText();
        return std::string(buffer.data());
    }

    int32_t UrlInt(PORT_HANDLE port, URL_INFO_CMD command) const {
        int32_t value = -1;
        INFO_DATATYPE type = INFO_DATATYPE_INT32;
        size_t size = sizeof value;
        EXPECT_EQ(p.GCGetPortURLInfo(port, 0, command, &type, &value, &size), GC_ERR_SUCCESS) << p.LastErrorText();
        return value;
    }

    // Polls the device list until the camera is listed again or the time is up.
    bool WaitUntilListed(const std::string& deviceId, double seconds) const {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < end) {
            for (const std::string& id : DeviceIds()) {
                if (id == deviceId) {
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    const Producer& p;
    TL_HANDLE tl = nullptr;
    IF_HANDLE iface = nullptr;
};

}  // namespace simtest
