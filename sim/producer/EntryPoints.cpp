// The exported GenTL 1.6 entry points and the three upgrade extensions.
//
// Every entry point runs its body through Run(): nothing leaves it as an
// exception, and the call is recorded once in the event record with its result,
// whether it was carried out or refused (library not initialised, a handle that
// is not open now, a bad argument). The record can so show that an entry point
// was never called. Handles are checked by one helper, Call, in the same words
// for every entry point.

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

#include "Producer.h"
#include "zvsim/Platform.h"
#include "zvsim/CameraModel.h"
#include "zvsim/Clock.h"
#include "zvsim/StateStore.h"

#define ZV_EXPORT extern "C" __attribute__((visibility("default")))

using namespace zvsim;
using namespace zvsim::producer;

namespace {

constexpr const char* kProducerId = "ZvU3VTL";
constexpr const char* kProducerVersion = "1.6.0";
constexpr uint64_t kBootAreaEnd = 0x100000;  // the boot loader's flash is never written

// Nothing may leave an entry point as an exception.
GC_ERROR Guard(const char* call, const std::function<GC_ERROR()>& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return Fail(GC_ERR_OUT_OF_MEMORY, std::string(call) + ": out of memory");
    } catch (const std::exception& error) {
        return Fail(GC_ERR_ERROR, std::string(call) + ": " + error.what());
    } catch (...) {
        return Fail(GC_ERR_ERROR, std::string(call) + ": unexpected failure");
    }
}

// A caller's text argument for the record; a null pointer stays null.
nlohmann::json Text(const char* text) { return text != nullptr ? nlohmann::json(text) : nlohmann::json(); }

enum class Module { None, System, Interface, LocalDevice, RemoteDevice };

struct PortTarget {
    Module module = Module::None;
    std::shared_ptr<Device> remote;
    const InterfaceDescription* interface = nullptr;
    std::shared_ptr<Device> local;
};

PortTarget ResolvePort(Context& context, PORT_HANDLE handle) {
    PortTarget target;
    if ((target.remote = context.FindPort(handle))) {
        target.module = Module::RemoteDevice;
    } else if ((target.local = context.FindDevice(handle))) {
        target.module = Module::LocalDevice;
    } else if (Interface* interface = context.OpenInterface(handle)) {
        target.module = Module::Interface;
        target.interface = interface->description;
    } else if (context.IsOpenTl(handle)) {
        target.module = Module::System;
    }
    return target;
}

// One call of an entry point: its handle checks, what it found, and its entry
// in the event record.
class Call {
public:
    explicit Call(const char* name) : m_name(name) {}

    const std::string& Name() const { return m_name; }

    // Refuses the call; GCGetLastError then gives the text after the entry point's name.
    GC_ERROR Refuse(GC_ERROR code, const std::string& why) const { return Fail(code, m_name + ": " + why); }

    // The checked handles. Each needs the initialised library first
    // (GC_ERR_NOT_INITIALIZED before GCInitLib), then a handle of its kind that
    // is open now (GC_ERR_INVALID_HANDLE otherwise), and keeps what it found.
    GC_ERROR Library() {
        context = CurrentContext();
        return context ? GC_ERR_SUCCESS : Refuse(GC_ERR_NOT_INITIALIZED, "GCInitLib has not been called");
    }
    GC_ERROR System(TL_HANDLE handle) {
        if (GC_ERROR result = Library()) {
            return result;
        }
        return context->IsOpenTl(handle) ? GC_ERR_SUCCESS
                                         : Refuse(GC_ERR_INVALID_HANDLE, "not an open transport-layer handle");
    }
    GC_ERROR OpenInterface(IF_HANDLE handle) {
        if (GC_ERROR result = Library()) {
            return result;
        }
        interface = context->OpenInterface(handle);
        return interface != nullptr ? GC_ERR_SUCCESS : Refuse(GC_ERR_INVALID_HANDLE, "not an open interface handle");
    }
    GC_ERROR OpenDevice(DEV_HANDLE handle) {
        if (GC_ERROR result = Library()) {
            return result;
        }
        device = context->FindDevice(handle);
        if (!device) {
            return Refuse(GC_ERR_INVALID_HANDLE, "not an open device handle");
        }
        deviceId = device->camera->description.deviceId;
        return GC_ERR_SUCCESS;
    }
    // A port of any module: the transport layer, an interface, a device or a remote device.
    GC_ERROR AnyPort(PORT_HANDLE handle) {
        if (GC_ERROR result = Library()) {
            return result;
        }
        port = ResolvePort(*context, handle);
        if (port.module == Module::None) {
            return Refuse(GC_ERR_INVALID_HANDLE, "not a port of this producer");
        }
        if (port.remote) {
            deviceId = port.remote->camera->description.deviceId;
        } else if (port.local) {
            deviceId = port.local->camera->description.deviceId;
        }
        return GC_ERR_SUCCESS;
    }
    // The port of a remote device, the only module with registers and flash.
    GC_ERROR RemotePort(PORT_HANDLE handle) {
        if (GC_ERROR result = Library()) {
            return result;
        }
        device = context->FindPort(handle);
        if (!device) {
            return Refuse(GC_ERR_INVALID_HANDLE, "not a remote-device port of this producer");
        }
        deviceId = device->camera->description.deviceId;
        return GC_ERR_SUCCESS;
    }

    // Appends the call to the event record of the library's state folder; before
    // GCInitLib (or after GCCloseLib) to the one the environment names. A record
    // that cannot be written never changes the call's outcome.
    void Record(GC_ERROR result) const noexcept {
        try {
            const std::shared_ptr<Context> into = context ? context : CurrentContext();
            if (into) {
                into->log.Record(m_name, deviceId, result, extra);
            } else {
                EventLog(ResolveStateFolder(), "producer").Record(m_name, deviceId, result, extra);
            }
        } catch (...) {
        }
    }

    std::shared_ptr<Context> context;
    Interface* interface = nullptr;
    std::shared_ptr<Device> device;
    PortTarget port;

    // What the record says besides the call's name and result.
    std::string deviceId;
    nlohmann::json extra = nlohmann::json::object();

private:
    std::string m_name;
};

// The frame of every entry point: the body gets the call, the call is recorded.
GC_ERROR Run(const char* name, const std::function<GC_ERROR(Call&)>& body) {
    Call call(name);
    const GC_ERROR result = Guard(name, [&] { return body(call); });
    call.Record(result);
    return result;
}

GC_ERROR NotImplemented(const char* name) {
    return Run(name, [](Call& call) { return call.Refuse(GC_ERR_NOT_IMPLEMENTED, "not supported by this producer"); });
}

struct Info {
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    std::vector<uint8_t> bytes;

    static Info String(const std::string& text) {
        Info info{INFO_DATATYPE_STRING, std::vector<uint8_t>(text.begin(), text.end())};
        info.bytes.push_back(0);
        return info;
    }
    template <typename T>
    static Info Value(INFO_DATATYPE type, T value) {
        Info info{type, std::vector<uint8_t>(sizeof(T))};
        std::memcpy(info.bytes.data(), &value, sizeof(T));
        return info;
    }
    static Info Int32(int32_t value) { return Value(INFO_DATATYPE_INT32, value); }
    static Info UInt64(uint64_t value) { return Value(INFO_DATATYPE_UINT64, value); }
    static Info Bool8(bool value) { return Value<uint8_t>(INFO_DATATYPE_BOOL8, value ? 1 : 0); }
};

GC_ERROR Deliver(const Info& info, INFO_DATATYPE* type, void* buffer, size_t* size, const Call& call) {
    if (size == nullptr) {
        return call.Refuse(GC_ERR_INVALID_PARAMETER, "the size pointer is null");
    }
    if (type != nullptr) {
        *type = info.type;
    }
    if (buffer == nullptr) {
        *size = info.bytes.size();
        return GC_ERR_SUCCESS;
    }
    if (*size < info.bytes.size()) {
        const size_t given = *size;
        *size = info.bytes.size();
        return call.Refuse(GC_ERR_BUFFER_TOO_SMALL,
                           std::to_string(info.bytes.size()) + " bytes needed, " + std::to_string(given) + " given");
    }
    std::memcpy(buffer, info.bytes.data(), info.bytes.size());
    *size = info.bytes.size();
    return GC_ERR_SUCCESS;
}

// Delivers an info answer, or refuses an unknown command.
GC_ERROR DeliverOrRefuse(const std::optional<Info>& info, int32_t command, INFO_DATATYPE* type, void* buffer,
                         size_t* size, Call& call) {
    call.extra["command"] = command;
    if (!info) {
        return call.Refuse(GC_ERR_INVALID_PARAMETER, "unknown command " + std::to_string(command));
    }
    return Deliver(*info, type, buffer, size, call);
}

GC_ERROR CopyString(const std::string& text, char* buffer, size_t* size, const Call& call) {
    return Deliver(Info::String(text), nullptr, buffer, size, call);
}

std::string ProducerPath() { return platform::ModulePathOf(reinterpret_cast<const void*>(&ResolvePort)); }
std::optional<Info> TransportLayerInfo(TL_INFO_CMD command) {
    switch (command) {
        case TL_INFO_ID: return Info::String(kProducerId);
        case TL_INFO_VENDOR: return Info::String("Zorvan");
        case TL_INFO_MODEL: return Info::String("ZvU3VTL USB3 Vision transport layer");
        case TL_INFO_VERSION: return Info::String(kProducerVersion);
        case TL_INFO_TLTYPE: return Info::String(TLTYPE_U3V);
        case TL_INFO_NAME: return Info::String("ZvU3VTL.cti");
        case TL_INFO_PATHNAME: return Info::String(ProducerPath());
        case TL_INFO_DISPLAYNAME: return Info::String("Zorvan USB3 Vision transport layer");
        case TL_INFO_CHAR_ENCODING: return Info::Int32(0);
        case TL_INFO_GENTL_VER_MAJOR: return Info::Value<uint32_t>(INFO_DATATYPE_UINT32, 1);
        case TL_INFO_GENTL_VER_MINOR: return Info::Value<uint32_t>(INFO_DATATYPE_UINT32, 6);
        default: return std::nullopt;
    }
}

std::optional<Info> InterfaceInfo(const InterfaceDescription& interface, INTERFACE_INFO_CMD command) {
    switch (command) {
        case INTERFACE_INFO_ID: return Info::String(interface.id);
        case INTERFACE_INFO_DISPLAYNAME: return Info::String(interface.displayName);
        case INTERFACE_INFO_TLTYPE: return Info::String(TLTYPE_U3V);
        default: return std::nullopt;
    }
}

int32_t AccessStatus(const Camera& camera) {
    if (camera.openCount > 0) {
        return DEVICE_ACCESS_STATUS_OPEN_READWRITE;
    }
    return AccessLock::CurrentHolder(camera.store.Directory()).empty() ? DEVICE_ACCESS_STATUS_READWRITE
                                                                       : DEVICE_ACCESS_STATUS_BUSY;
}

std::optional<Info> DeviceInfo(const Camera& camera, DEVICE_INFO_CMD command) {
    const CameraDescription& d = camera.description;
    switch (command) {
        case DEVICE_INFO_ID: return Info::String(d.deviceId);
        case DEVICE_INFO_VENDOR: return Info::String(d.vendor);
        case DEVICE_INFO_MODEL: return Info::String(d.model);
        case DEVICE_INFO_TLTYPE: return Info::String(TLTYPE_U3V);
        case DEVICE_INFO_DISPLAYNAME: return Info::String(d.vendor + " " + d.model + " (" + d.serial + ")");
        case DEVICE_INFO_ACCESS_STATUS: return Info::Int32(AccessStatus(camera));
        case DEVICE_INFO_USER_DEFINED_NAME: return Info::String(camera.store.Read().userDefinedName);
        case DEVICE_INFO_SERIAL_NUMBER: return Info::String(d.serial);
        case DEVICE_INFO_VERSION: return Info::String(camera.store.Read().versions.deviceVersion);
        case DEVICE_INFO_TIMESTAMP_FREQUENCY: return Info::UInt64(1000000000ull);
        default: return std::nullopt;
    }
}

// The remote device behind a port handle, checked under the camera's mutex:
// still open, and the camera has not rebooted since it was opened.
GC_ERROR CheckReachable(const Device& device, const CameraState& state, const std::string& call) {
    if (device.closed) {
        return Fail(GC_ERR_INVALID_HANDLE, call + ": the device has been closed");
    }
    if (state.bootCount != device.bootCount || !state.IsPresent(NowMicros())) {
        return Fail(GC_ERR_IO, call + ": the camera " + device.camera->description.deviceId +
                                   " has rebooted or is not reachable; close and reopen it");
    }
    return GC_ERR_SUCCESS;
}

// One register read of a remote device.
GC_ERROR ReadOne(const Call& entry, const Device& device, uint64_t address, void* buffer, size_t size) {
    const std::string& call = entry.Name();
    const CameraDescription& camera = device.camera->description;
    std::lock_guard lock(device.camera->mutex);
    const CameraState state = device.camera->store.Read();
    GC_ERROR result = CheckReachable(device, state, call);
    if (result != GC_ERR_SUCCESS) {
        return result;
    }
    const auto& fails = camera.faults.readFails;
    if (std::find(fails.begin(), fails.end(), address) != fails.end()) {
        return Fail(GC_ERR_IO,
                    call + ": reading " + HexString(address) + " of " + camera.deviceId + " failed (simulated fault)");
    }
    if (address == kFlashVendorRegister && camera.faults.vendorRead && *camera.faults.vendorRead != GC_ERR_SUCCESS) {
        return Fail(*camera.faults.vendorRead,
                    call + ": the flash vendor of " + camera.deviceId + " could not be read (simulated fault)");
    }
    result = ReadRegisters(camera, state, address, buffer, size);
    if (result != GC_ERR_SUCCESS) {
        return Fail(result, call + ": " + camera.deviceId + " has no register for " + std::to_string(size) +
                                " bytes at " + HexString(address) + " (status 0x8003)");
    }
    return GC_ERR_SUCCESS;
}

// One register write of a remote device.
GC_ERROR WriteOne(const Call& entry, const Device& device, uint64_t address, const void* buffer, size_t size) {
    const std::string& call = entry.Name();
    const CameraDescription& camera = device.camera->description;
    std::lock_guard lock(device.camera->mutex);
    CameraState state = device.camera->store.Read();
    GC_ERROR result = CheckReachable(device, state, call);
    if (result != GC_ERR_SUCCESS) {
        return result;
    }
    bool changed = false;
    result = WriteRegisters(camera, state, address, buffer, size, changed);
    if (result != GC_ERR_SUCCESS) {
        return Fail(result, call + ": " + HexString(address) + " of " + camera.deviceId +
                                (result == GENCP_WRITE_PROTECT ? " is read-only" : " does not exist"));
    }
    if (changed) {
        const std::string name = state.userDefinedName;
        device.camera->store.Modify([&](CameraState& s) { s.userDefinedName = name; });
    }
    return GC_ERR_SUCCESS;
}

// A register access through any port: only a remote device has registers.
GC_ERROR CheckRegisterPort(Call& call, PORT_HANDLE port, const void* buffer, const size_t* size) {
    if (GC_ERROR result = call.Library()) {
        return result;
    }
    if (buffer == nullptr || size == nullptr) {
        return call.Refuse(GC_ERR_INVALID_PARAMETER, "null buffer or size");
    }
    if (GC_ERROR result = call.AnyPort(port)) {
        return result;
    }
    if (call.port.module != Module::RemoteDevice) {
        return call.Refuse(GC_ERR_INVALID_ADDRESS, "this module has no registers");
    }
    return GC_ERR_SUCCESS;
}

// The answer of GCGetPortURLInfo, also given by GCGetPortURL.
GC_ERROR PortUrlInfo(Call& call, PORT_HANDLE hPort, uint32_t index, URL_INFO_CMD command, INFO_DATATYPE* type,
                     void* buffer, size_t* size) {
    call.extra["command"] = command;
    if (GC_ERROR result = call.AnyPort(hPort)) {
        return result;
    }
    if (call.port.module != Module::RemoteDevice || index != 0) {
        return call.Refuse(GC_ERR_INVALID_INDEX, "no URL " + std::to_string(index));
    }
    const Device& device = *call.port.remote;
    const CameraDescription& camera = device.camera->description;
    std::lock_guard lock(device.camera->mutex);
    const CameraState state = device.camera->store.Read();
    if (GC_ERROR result = CheckReachable(device, state, call.Name())) {
        return result;
    }
    if (camera.faults.urlInfo) {
        return call.Refuse(GC_ERR_IO, "the URL of " + camera.deviceId + " cannot be read (simulated fault)");
    }
    std::optional<Info> info;
    switch (command) {
        case URL_INFO_URL: info = Info::String(XmlUrl(camera, state)); break;
        case URL_INFO_SCHEMA_VER_MAJOR: info = Info::Int32(1); break;
        case URL_INFO_SCHEMA_VER_MINOR: info = Info::Int32(1); break;
        case URL_INFO_FILE_VER_MAJOR: info = Info::Int32(state.versions.xmlVersion[0]); break;
        case URL_INFO_FILE_VER_MINOR: info = Info::Int32(state.versions.xmlVersion[1]); break;
        case URL_INFO_FILE_VER_SUBMINOR: info = Info::Int32(state.versions.xmlVersion[2]); break;
        case URL_INFO_FILE_REGISTER_ADDRESS: info = Info::UInt64(kXmlAddress); break;
        case URL_INFO_FILE_SIZE: info = Info::UInt64(DeviceXml(camera, state).size()); break;
        case URL_INFO_SCHEME: info = Info::Int32(URL_SCHEME_LOCAL); break;
        case URL_INFO_FILENAME: info = Info::String(XmlFileName(camera)); break;
        default: break;
    }
    if (!info) {
        return call.Refuse(GC_ERR_NOT_AVAILABLE, "command " + std::to_string(command) + " is not available");
    }
    return Deliver(*info, type, buffer, size, call);
}

// The camera of the interface's last device list with this id, or null.
Camera* ListedCamera(Context& context, const Interface& interface, const char* deviceId) {
    if (deviceId == nullptr) {
        return nullptr;
    }
    std::lock_guard lock(context.mutex);
    for (Camera* camera : interface.devices) {
        if (camera->description.deviceId == deviceId) {
            return camera;
        }
    }
    return nullptr;
}

}  // namespace

// ---- Library ---------------------------------------------------------------

ZV_EXPORT GC_ERROR GCGetInfo(TL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    return Run("GCGetInfo", [&](Call& call) {
        return DeliverOrRefuse(TransportLayerInfo(iInfoCmd), iInfoCmd, piType, pBuffer, piSize, call);
    });
}

ZV_EXPORT GC_ERROR GCGetLastError(GC_ERROR* piErrorCode, char* sErrText, size_t* piSize) {
    // Reads the calling thread's last failure and never replaces it.
    return Run("GCGetLastError", [&](Call&) {
        if (!LastErrorEnabled()) {
            return GC_ERR_ERROR;  // simulated: the producer cannot say what went wrong
        }
        return ReadLastError(piErrorCode, sErrText, piSize);
    });
}

ZV_EXPORT GC_ERROR GCInitLib() {
    return Run("GCInitLib", [](Call& call) {
        const GC_ERROR result = InitContext();
        if (result == GC_ERR_SUCCESS) {
            call.context = CurrentContext();
            call.extra["description"] = call.context->description.source;
        }
        return result;
    });
}

ZV_EXPORT GC_ERROR GCCloseLib() {
    return Run("GCCloseLib", [](Call& call) {
        call.context = CurrentContext();  // recorded in the state folder of the library it closes
        return CloseContext();
    });
}

// ---- Ports -----------------------------------------------------------------

ZV_EXPORT GC_ERROR GCReadPort(PORT_HANDLE hPort, uint64_t iAddress, void* pBuffer, size_t* piSize) {
    return Run("GCReadPort", [&](Call& call) {
        call.extra = {{"address", HexString(iAddress)},
                      {"size", piSize != nullptr ? nlohmann::json(*piSize) : nullptr}};
        if (GC_ERROR result = CheckRegisterPort(call, hPort, pBuffer, piSize)) {
            return result;
        }
        return ReadOne(call, *call.port.remote, iAddress, pBuffer, *piSize);
    });
}

ZV_EXPORT GC_ERROR GCWritePort(PORT_HANDLE hPort, uint64_t iAddress, const void* pBuffer, size_t* piSize) {
    return Run("GCWritePort", [&](Call& call) {
        call.extra = {{"address", HexString(iAddress)},
                      {"size", piSize != nullptr ? nlohmann::json(*piSize) : nullptr}};
        if (GC_ERROR result = CheckRegisterPort(call, hPort, pBuffer, piSize)) {
            return result;
        }
        return WriteOne(call, *call.port.remote, iAddress, pBuffer, *piSize);
    });
}

// The stacked forms do one access after the other and stop at the first
// failure; *piNumEntries then counts the accesses done. One record for all.
ZV_EXPORT GC_ERROR GCReadPortStacked(PORT_HANDLE hPort, PORT_REGISTER_STACK_ENTRY* pEntries, size_t* piNumEntries) {
    return Run("GCReadPortStacked", [&](Call& call) {
        if (pEntries == nullptr || piNumEntries == nullptr) {
            return call.Refuse(GC_ERR_INVALID_PARAMETER, "null entries or count");
        }
        const size_t count = *piNumEntries;
        call.extra["entries"] = count;
        for (size_t i = 0; i < count; ++i) {
            PORT_REGISTER_STACK_ENTRY entry;
            std::memcpy(&entry, &pEntries[i], sizeof entry);
            GC_ERROR result = CheckRegisterPort(call, hPort, entry.pBuffer, &entry.Size);
            if (result == GC_ERR_SUCCESS) {
                result = ReadOne(call, *call.port.remote, entry.Address, entry.pBuffer, entry.Size);
            }
            if (result != GC_ERR_SUCCESS) {
                call.extra["address"] = HexString(entry.Address);
                *piNumEntries = i;
                return result;
            }
        }
        return GC_ERR_SUCCESS;
    });
}

ZV_EXPORT GC_ERROR GCWritePortStacked(PORT_HANDLE hPort, PORT_REGISTER_STACK_ENTRY* pEntries, size_t* piNumEntries) {
    return Run("GCWritePortStacked", [&](Call& call) {
        if (pEntries == nullptr || piNumEntries == nullptr) {
            return call.Refuse(GC_ERR_INVALID_PARAMETER, "null entries or count");
        }
        const size_t count = *piNumEntries;
        call.extra["entries"] = count;
        for (size_t i = 0; i < count; ++i) {
            PORT_REGISTER_STACK_ENTRY entry;
            std::memcpy(&entry, &pEntries[i], sizeof entry);
            GC_ERROR result = CheckRegisterPort(call, hPort, entry.pBuffer, &entry.Size);
            if (result == GC_ERR_SUCCESS) {
                result = WriteOne(call, *call.port.remote, entry.Address, entry.pBuffer, entry.Size);
            }
            if (result != GC_ERR_SUCCESS) {
                call.extra["address"] = HexString(entry.Address);
                *piNumEntries = i;
                return result;
            }
        }
        return GC_ERR_SUCCESS;
    });
}

ZV_EXPORT GC_ERROR GCGetNumPortURLs(PORT_HANDLE hPort, uint32_t* piNumURLs) {
    return Run("GCGetNumPortURLs", [&](Call& call) {
        if (GC_ERROR result = call.Library()) {
            return result;
        }
        if (piNumURLs == nullptr) {
            return call.Refuse(GC_ERR_INVALID_PARAMETER, "null count");
        }
        if (GC_ERROR result = call.AnyPort(hPort)) {
            return result;
        }
        *piNumURLs = call.port.module == Module::RemoteDevice ? 1 : 0;
        return GC_ERR_SUCCESS;
    });
}

ZV_EXPORT GC_ERROR GCGetPortURLInfo(PORT_HANDLE hPort, uint32_t iURLIndex, URL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                                    void* pBuffer, size_t* piSize) {
    return Run("GCGetPortURLInfo", [&](Call& call) {
        call.extra["index"] = iURLIndex;
        return PortUrlInfo(call, hPort, iURLIndex, iInfoCmd, piType, pBuffer, piSize);
    });
}

ZV_EXPORT GC_ERROR GCGetPortURL(PORT_HANDLE hPort, char* sURL, size_t* piSize) {
    return Run("GCGetPortURL", [&](Call& call) {
        INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
        return PortUrlInfo(call, hPort, 0, URL_INFO_URL, &type, sURL, piSize);
    });
}

ZV_EXPORT GC_ERROR GCGetPortInfo(PORT_HANDLE hPort, PORT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                                 size_t* piSize) {
    return Run("GCGetPortInfo", [&](Call& call) {
        call.extra["command"] = iInfoCmd;
        if (GC_ERROR result = call.AnyPort(hPort)) {
            return result;
        }
        const PortTarget& target = call.port;
        std::string id;
        std::string module;
        std::string model = "ZvU3VTL";
        switch (target.module) {
            case Module::None: break;  // refused by AnyPort
            case Module::System:
                id = kProducerId;
                module = "TLSystem";
                break;
            case Module::Interface:
                id = target.interface->id;
                module = "TLInterface";
                break;
            case Module::LocalDevice:
                id = target.local->camera->description.deviceId;
                module = "TLDevice";
                break;
            case Module::RemoteDevice:
                id = target.remote->camera->description.deviceId + "::Device";
                module = "Device";
                model = target.remote->camera->description.model;
                break;
        }
        std::optional<Info> info;
        switch (iInfoCmd) {
            case PORT_INFO_ID: info = Info::String(id); break;
            case PORT_INFO_VENDOR: info = Info::String("Zorvan"); break;
            case PORT_INFO_MODEL: info = Info::String(model); break;
            case PORT_INFO_TLTYPE: info = Info::String(TLTYPE_U3V); break;
            case PORT_INFO_MODULE: info = Info::String(module); break;
            case PORT_INFO_LITTLE_ENDIAN: info = Info::Bool8(true); break;
            case PORT_INFO_BIG_ENDIAN: info = Info::Bool8(false); break;
            case PORT_INFO_ACCESS_READ: info = Info::Bool8(target.module == Module::RemoteDevice); break;
            case PORT_INFO_ACCESS_WRITE: info = Info::Bool8(target.module == Module::RemoteDevice); break;
            case PORT_INFO_ACCESS_NA: info = Info::Bool8(target.module != Module::RemoteDevice); break;
            case PORT_INFO_ACCESS_NI: info = Info::Bool8(false); break;
            case PORT_INFO_VERSION: info = Info::String("1.0"); break;
            case PORT_INFO_PORTNAME:
                info = Info::String(target.module == Module::RemoteDevice ? "Device" : module);
                break;
            default: break;
        }
        return DeliverOrRefuse(info, iInfoCmd, piType, pBuffer, piSize, call);
    });
}

// ---- Events: this producer delivers none ----------------------------------

ZV_EXPORT GC_ERROR GCRegisterEvent(EVENTSRC_HANDLE, EVENT_TYPE, EVENT_HANDLE*) {
    return NotImplemented("GCRegisterEvent");
}
ZV_EXPORT GC_ERROR GCUnregisterEvent(EVENTSRC_HANDLE, EVENT_TYPE) { return NotImplemented("GCUnregisterEvent"); }
ZV_EXPORT GC_ERROR EventGetData(EVENT_HANDLE, void*, size_t*, uint64_t) { return NotImplemented("EventGetData"); }
ZV_EXPORT GC_ERROR EventGetDataInfo(EVENT_HANDLE, const void*, size_t, EVENT_DATA_INFO_CMD, INFO_DATATYPE*, void*,
                                    size_t*) {
    return NotImplemented("EventGetDataInfo");
}
ZV_EXPORT GC_ERROR EventGetInfo(EVENT_HANDLE, EVENT_INFO_CMD, INFO_DATATYPE*, void*, size_t*) {
    return NotImplemented("EventGetInfo");
}
ZV_EXPORT GC_ERROR EventFlush(EVENT_HANDLE) { return NotImplemented("EventFlush"); }
ZV_EXPORT GC_ERROR EventKill(EVENT_HANDLE) { return NotImplemented("EventKill"); }

// ---- Transport layer -------------------------------------------------------

ZV_EXPORT GC_ERROR TLOpen(TL_HANDLE* phSystem) {
    return Run("TLOpen", [&](Call& call) {
        if (GC_ERROR result = call.Library()) {
            return result;
        }
        Context& context = *call.context;
        if (phSystem == nullptr) {
            return call.Refuse(GC_ERR_INVALID_PARAMETER, "null handle pointer");
        }
        const std::optional<int32_t> fault = context.description.producer.tlOpen;
        if (fault && *fault != GC_ERR_SUCCESS) {
            return call.Refuse(*fault, "the transport layer could not be opened (simulated fault)");
        }
        std::lock_guard lock(context.mutex);
        if (context.tlOpen) {
            return call.Refuse(GC_ERR_RESOURCE_IN_USE, "the transport layer is already open");
        }
        context.tlOpen = true;
        context.interfacesReported = false;
        *phSystem = context.TlHandle();
        return GC_ERR_SUCCESS;
    });
}

ZV_EXPORT GC_ERROR TLClose(TL_HANDLE hSystem) {
    return Run("TLClose", [&](Call& call) {
        if (GC_ERROR result = call.System(hSystem)) {
            return result;
        }
        Context& context = *call.context;
        context.CloseDevices(nullptr);
        std::lock_guard lock(context.mutex);
        for (const auto& interface : context.interfaces) {
            interface->open = false;
            interface->devices.clear();
        }
        context.tlOpen = false;
        return GC_ERR_SUCCESS;
    });
}

ZV_EXPORT GC_ERROR TLGetInfo(TL_HANDLE hSystem, TL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                             size_t* piSize) {
    return Run("TLGetInfo", [&](Call& call) {
        call.extra["command"] = iInfoCmd;
        if (GC_ERROR result = call.System(hSystem)) {
            return result;
        }
        return DeliverOrRefuse(TransportLayerInfo(iInfoCmd), iInfoCmd, piType, pBuffer, piSize, call);
    });
}

ZV_EXPORT GC_ERROR TLGetNumInterfaces(TL_HANDLE hSystem, uint32_t* piNumIfaces) {
    return Run("TLGetNumInterfaces", [&](Call& call) {
        if (GC_ERROR result = call.System(hSystem)) {
            return result;
        }
        if (piNumIfaces == nullptr) {
            return call.Refuse(GC_ERR_INVALID_PARAMETER, "null count");
        }
        *piNumIfaces = static_cast<uint32_t>(call.context->interfaces.size());
        call.extra["interfaces"] = *piNumIfaces;
        return GC_ERR_SUCCESS;
    });
}

ZV_EXPORT GC_ERROR TLGetInterfaceID(TL_HANDLE hSystem, uint32_t iIndex, char* sIfaceID, size_t* piSize) {
    return Run("TLGetInterfaceID", [&](Call& call) {
        call.extra["index"] = iIndex;
        if (GC_ERROR result = call.System(hSystem)) {
            return result;
        }
        const auto& interfaces = call.context->interfaces;
        if (iIndex >= interfaces.size()) {
            return call.Refuse(GC_ERR_INVALID_INDEX, "no interface " + std::to_string(iIndex));
        }
        call.extra["interface"] = interfaces[iIndex]->description->id;
        return CopyString(interfaces[iIndex]->description->id, sIfaceID, piSize, call);
    });
}

ZV_EXPORT GC_ERROR TLGetInterfaceInfo(TL_HANDLE hSystem, const char* sIfaceID, INTERFACE_INFO_CMD iInfoCmd,
                                      INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    return Run("TLGetInterfaceInfo", [&](Call& call) {
        call.extra = {{"interface", Text(sIfaceID)}, {"command", iInfoCmd}};
        if (GC_ERROR result = call.System(hSystem)) {
            return result;
        }
        for (const auto& interface : call.context->interfaces) {
            if (sIfaceID != nullptr && interface->description->id == sIfaceID) {
                return DeliverOrRefuse(InterfaceInfo(*interface->description, iInfoCmd), iInfoCmd, piType, pBuffer,
                                       piSize, call);
            }
        }
        return call.Refuse(GC_ERR_INVALID_ID, "no such interface");
    });
}

ZV_EXPORT GC_ERROR TLOpenInterface(TL_HANDLE hSystem, const char* sIfaceID, IF_HANDLE* phIface) {
    return Run("TLOpenInterface", [&](Call& call) {
        call.extra["interface"] = Text(sIfaceID);
        if (GC_ERROR result = call.System(hSystem)) {
            return result;
        }
        if (sIfaceID == nullptr || phIface == nullptr) {
            return call.Refuse(GC_ERR_INVALID_PARAMETER, "null id or handle pointer");
        }
        Context& context = *call.context;
        Interface* found = nullptr;
        for (const auto& interface : context.interfaces) {
            if (interface->description->id == sIfaceID) {
                found = interface.get();
            }
        }
        if (found == nullptr) {
            return call.Refuse(GC_ERR_INVALID_ID, std::string("no interface \"") + sIfaceID + "\"");
        }
        if (found->description->openFails) {
            return call.Refuse(GC_ERR_IO, found->description->id + " cannot be opened (simulated fault)");
        }
        // An interface comes up with the devices that are there now.
        std::vector<Camera*> present;
        const int64_t now = NowMicros();
        for (const auto& camera : context.cameras) {
            if (camera->description.interfaceId == found->description->id && camera->store.Read().IsPresent(now)) {
                present.push_back(camera.get());
            }
        }
        std::lock_guard lock(context.mutex);
        if (found->open) {
            return call.Refuse(GC_ERR_RESOURCE_IN_USE, found->description->id + " is already open");
        }
        found->open = true;
        found->devices = present;
        *phIface = found;
        return GC_ERR_SUCCESS;
    });
}

ZV_EXPORT GC_ERROR TLUpdateInterfaceList(TL_HANDLE hSystem, bool8_t* pbChanged, uint64_t iTimeout) {
    return Run("TLUpdateInterfaceList", [&](Call& call) {
        call.extra["timeout_ms"] = iTimeout;
        if (GC_ERROR result = call.System(hSystem)) {
            return result;
        }
        Context& context = *call.context;
        const std::optional<int32_t> fault = context.description.producer.updateInterfaces;
        if (fault && *fault != GC_ERR_SUCCESS) {
            return call.Refuse(*fault, "the interface list could not be updated (simulated fault)");
        }
        std::lock_guard lock(context.mutex);
        if (pbChanged != nullptr) {
            *pbChanged = context.interfacesReported ? 0 : 1;
        }
        context.interfacesReported = true;
        return GC_ERR_SUCCESS;
    });
}

// ---- Interfaces ------------------------------------------------------------

ZV_EXPORT GC_ERROR IFClose(IF_HANDLE hIface) {
    return Run("IFClose", [&](Call& call) {
        if (GC_ERROR result = call.OpenInterface(hIface)) {
            return result;
        }
        call.extra["interface"] = call.interface->description->id;
        call.context->CloseDevices(call.interface);
        std::lock_guard lock(call.context->mutex);
        call.interface->open = false;
        call.interface->devices.clear();
        return GC_ERR_SUCCESS;
    });
}

ZV_EXPORT GC_ERROR IFGetInfo(IF_HANDLE hIface, INTERFACE_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                             size_t* piSize) {
    return Run("IFGetInfo", [&](Call& call) {
        call.extra["command"] = iInfoCmd;
        if (GC_ERROR result = call.OpenInterface(hIface)) {
            return result;
        }
        call.extra["interface"] = call.interface->description->id;
        return DeliverOrRefuse(InterfaceInfo(*call.interface->description, iInfoCmd), iInfoCmd, piType, pBuffer, piSize,
                               call);
    });
}

ZV_EXPORT GC_ERROR IFUpdateDeviceList(IF_HANDLE hIface, bool8_t* pbChanged, uint64_t iTimeout) {
    return Run("IFUpdateDeviceList", [&](Call& call) {
        call.extra["timeout_ms"] = iTimeout;
        if (GC_ERROR result = call.OpenInterface(hIface)) {
            return result;
        }
        Context& context = *call.context;
        Interface& interface = *call.interface;
        call.extra["interface"] = interface.description->id;
        // Asking the bus takes a moment, as on a real one; no lock is held meanwhile.
        SleepSeconds(context.description.producer.enumerationSeconds);
        std::vector<Camera*> present;
        const int64_t now = NowMicros();
        for (const auto& camera : context.cameras) {
            if (camera->description.interfaceId == interface.description->id && camera->store.Read().IsPresent(now)) {
                present.push_back(camera.get());
            }
        }
        {
            std::lock_guard lock(context.mutex);
            if (pbChanged != nullptr) {
                *pbChanged = present != interface.devices ? 1 : 0;
            }
            interface.devices = present;
        }
        call.extra["devices"] = present.size();
        return GC_ERR_SUCCESS;
    });
}

ZV_EXPORT GC_ERROR IFGetNumDevices(IF_HANDLE hIface, uint32_t* piNumDevices) {
    return Run("IFGetNumDevices", [&](Call& call) {
        if (GC_ERROR result = call.Library()) {
            return result;
        }
        if (piNumDevices == nullptr) {
            return call.Refuse(GC_ERR_INVALID_PARAMETER, "null count");
        }
        if (GC_ERROR result = call.OpenInterface(hIface)) {
            return result;
        }
        call.extra["interface"] = call.interface->description->id;
        std::lock_guard lock(call.context->mutex);
        *piNumDevices = static_cast<uint32_t>(call.interface->devices.size());
        call.extra["devices"] = *piNumDevices;
        return GC_ERR_SUCCESS;
    });
}

ZV_EXPORT GC_ERROR IFGetDeviceID(IF_HANDLE hIface, uint32_t iIndex, char* sIDeviceID, size_t* piSize) {
    return Run("IFGetDeviceID", [&](Call& call) {
        call.extra["index"] = iIndex;
        if (GC_ERROR result = call.OpenInterface(hIface)) {
            return result;
        }
        call.extra["interface"] = call.interface->description->id;
        {
            std::lock_guard lock(call.context->mutex);
            if (iIndex >= call.interface->devices.size()) {
                return call.Refuse(GC_ERR_INVALID_INDEX, "no device " + std::to_string(iIndex));
            }
            call.deviceId = call.interface->devices[iIndex]->description.deviceId;
        }
        return CopyString(call.deviceId, sIDeviceID, piSize, call);
    });
}

ZV_EXPORT GC_ERROR IFGetDeviceInfo(IF_HANDLE hIface, const char* sDeviceID, DEVICE_INFO_CMD iInfoCmd,
                                   INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    return Run("IFGetDeviceInfo", [&](Call& call) {
        call.deviceId = sDeviceID != nullptr ? sDeviceID : "";
        call.extra["command"] = iInfoCmd;
        if (GC_ERROR result = call.OpenInterface(hIface)) {
            return result;
        }
        Camera* camera = ListedCamera(*call.context, *call.interface, sDeviceID);
        if (camera == nullptr) {
            return call.Refuse(GC_ERR_INVALID_ID, "the interface lists no such device");
        }
        const CameraFaults& faults = camera->description.faults;
        if (iInfoCmd == DEVICE_INFO_MODEL && faults.modelInfo) {
            return call.Refuse(GC_ERR_IO,
                               "the model of " + camera->description.deviceId + " cannot be read (simulated fault)");
        }
        if (iInfoCmd == DEVICE_INFO_DISPLAYNAME && faults.displayName) {
            return call.Refuse(
                GC_ERR_IO, "the display name of " + camera->description.deviceId + " cannot be read (simulated fault)");
        }
        return DeliverOrRefuse(DeviceInfo(*camera, iInfoCmd), iInfoCmd, piType, pBuffer, piSize, call);
    });
}

ZV_EXPORT GC_ERROR IFOpenDevice(IF_HANDLE hIface, const char* sDeviceID, DEVICE_ACCESS_FLAGS iOpenFlags,
                                DEV_HANDLE* phDevice) {
    return Run("IFOpenDevice", [&](Call& call) {
        call.deviceId = sDeviceID != nullptr ? sDeviceID : "";
        call.extra["access"] = iOpenFlags;
        if (GC_ERROR result = call.OpenInterface(hIface)) {
            return result;
        }
        Context& context = *call.context;
        Camera* camera = ListedCamera(context, *call.interface, sDeviceID);
        if (camera == nullptr) {
            return call.Refuse(GC_ERR_INVALID_ID, "the interface lists no such device");
        }
        const CameraDescription& description = camera->description;
        const std::optional<int32_t> fault = description.faults.open;
        if (phDevice == nullptr) {
            return call.Refuse(GC_ERR_INVALID_PARAMETER, "null handle pointer");
        }
        if (iOpenFlags != DEVICE_ACCESS_READONLY && iOpenFlags != DEVICE_ACCESS_CONTROL &&
            iOpenFlags != DEVICE_ACCESS_EXCLUSIVE) {
            return call.Refuse(GC_ERR_INVALID_PARAMETER,
                               "access flags " + std::to_string(iOpenFlags) + " not supported");
        }
        if (fault && *fault != GC_ERR_SUCCESS && *fault != ZV_ERR_ALREADY_OPEN) {
            return call.Refuse(*fault, description.deviceId + " cannot be opened (simulated fault)");
        }
        std::lock_guard cameraLock(camera->mutex);
        const CameraState state = camera->store.Read();
        if (!state.IsPresent(NowMicros())) {
            return call.Refuse(GC_ERR_IO, description.deviceId + " is not reachable");
        }
        std::string holder;
        if (camera->openHandles == 0) {
            camera->access = AccessLock::TryAcquire(camera->store.Directory(), "producer", holder);
        }
        if (camera->openHandles == 0 && !camera->access) {
            const GC_ERROR result = call.Refuse(GC_ERR_RESOURCE_IN_USE, description.deviceId + " is held by " + holder);
            if (holder.rfind("sdk", 0) == 0) {
                context.log.Record("violation", description.deviceId, result,
                                   {{"detail", "the producer opened a camera that the SDK holds (" + holder + ")"}});
            }
            return result;
        }
        auto device = std::make_shared<Device>();
        device->parent = call.interface;
        device->camera = camera;
        device->bootCount = state.bootCount;
        const GC_ERROR result =
            camera->openHandles > 0 || (fault && *fault == ZV_ERR_ALREADY_OPEN) ? ZV_ERR_ALREADY_OPEN : GC_ERR_SUCCESS;
        if (result != GC_ERR_SUCCESS) {
            call.Refuse(result, description.deviceId + " is already open; the new handle works too");
        }
        ++camera->openHandles;
        camera->openCount = camera->openHandles;
        {
            std::lock_guard lock(context.mutex);
            context.devices[device.get()] = device;
        }
        *phDevice = device.get();
        return result;
    });
}

ZV_EXPORT GC_ERROR IFGetParentTL(IF_HANDLE hIface, TL_HANDLE* phSystem) {
    return Run("IFGetParentTL", [&](Call& call) {
        if (GC_ERROR result = call.OpenInterface(hIface)) {
            return result;
        }
        if (phSystem == nullptr) {
            return call.Refuse(GC_ERR_INVALID_PARAMETER, "null handle pointer");
        }
        *phSystem = call.context->TlHandle();
        return GC_ERR_SUCCESS;
    });
}

// ---- Devices ---------------------------------------------------------------

ZV_EXPORT GC_ERROR DevGetPort(DEV_HANDLE hDevice, PORT_HANDLE* phRemoteDevice) {
    return Run("DevGetPort", [&](Call& call) {
        if (GC_ERROR result = call.OpenDevice(hDevice)) {
            return result;
        }
        const std::shared_ptr<Device>& device = call.device;
        const CameraDescription& description = device->camera->description;
        if (phRemoteDevice == nullptr) {
            return call.Refuse(GC_ERR_INVALID_PARAMETER, "null handle pointer");
        }
        if (description.faults.port) {
            return call.Refuse(GC_ERR_IO,
                               "the port of " + description.deviceId + " cannot be opened (simulated fault)");
        }
        Context& context = *call.context;
        std::lock_guard lock(context.mutex);
        if (context.devices.count(device.get()) == 0) {
            return call.Refuse(GC_ERR_INVALID_HANDLE, "the device has been closed");
        }
        context.ports[&device->port] = device;
        *phRemoteDevice = &device->port;
        return GC_ERR_SUCCESS;
    });
}

ZV_EXPORT GC_ERROR DevGetNumDataStreams(DEV_HANDLE hDevice, uint32_t* piNumDataStreams) {
    return Run("DevGetNumDataStreams", [&](Call& call) {
        if (GC_ERROR result = call.OpenDevice(hDevice)) {
            return result;
        }
        if (piNumDataStreams == nullptr) {
            return call.Refuse(GC_ERR_INVALID_PARAMETER, "null count");
        }
        *piNumDataStreams = 0;  // the upgrade path needs no image stream
        return GC_ERR_SUCCESS;
    });
}

ZV_EXPORT GC_ERROR DevGetDataStreamID(DEV_HANDLE, uint32_t iIndex, char*, size_t*) {
    return Run("DevGetDataStreamID", [&](Call& call) {
        call.extra["index"] = iIndex;
        return call.Refuse(GC_ERR_INVALID_INDEX, "no data stream " + std::to_string(iIndex));
    });
}

ZV_EXPORT GC_ERROR DevOpenDataStream(DEV_HANDLE, const char* sDataStreamID, DS_HANDLE*) {
    return Run("DevOpenDataStream", [&](Call& call) {
        call.extra["stream"] = Text(sDataStreamID);
        return call.Refuse(GC_ERR_INVALID_ID, "this producer has no data streams");
    });
}

ZV_EXPORT GC_ERROR DevGetInfo(DEV_HANDLE hDevice, DEVICE_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                              size_t* piSize) {
    return Run("DevGetInfo", [&](Call& call) {
        call.extra["command"] = iInfoCmd;
        if (GC_ERROR result = call.OpenDevice(hDevice)) {
            return result;
        }
        return DeliverOrRefuse(DeviceInfo(*call.device->camera, iInfoCmd), iInfoCmd, piType, pBuffer, piSize, call);
    });
}

ZV_EXPORT GC_ERROR DevClose(DEV_HANDLE hDevice) {
    return Run("DevClose", [&](Call& call) {
        if (GC_ERROR result = call.OpenDevice(hDevice)) {
            return result;
        }
        const CameraDescription& description = call.device->camera->description;
        if (description.faults.close) {
            // The camera stays open; closing the transport layer still releases it.
            return call.Refuse(GC_ERR_IO, description.deviceId + " did not close (simulated fault)");
        }
        call.context->ReleaseDevice(call.device);
        return GC_ERR_SUCCESS;
    });
}

ZV_EXPORT GC_ERROR DevGetParentIF(DEV_HANDLE hDevice, IF_HANDLE* phIface) {
    return Run("DevGetParentIF", [&](Call& call) {
        if (GC_ERROR result = call.OpenDevice(hDevice)) {
            return result;
        }
        if (phIface == nullptr) {
            return call.Refuse(GC_ERR_INVALID_PARAMETER, "null handle pointer");
        }
        *phIface = call.device->parent;
        return GC_ERR_SUCCESS;
    });
}

// ---- Data streams: none ----------------------------------------------------

ZV_EXPORT GC_ERROR DSAnnounceBuffer(DS_HANDLE, void*, size_t, void*, BUFFER_HANDLE*) {
    return NotImplemented("DSAnnounceBuffer");
}
ZV_EXPORT GC_ERROR DSAllocAndAnnounceBuffer(DS_HANDLE, size_t, void*, BUFFER_HANDLE*) {
    return NotImplemented("DSAllocAndAnnounceBuffer");
}
ZV_EXPORT GC_ERROR DSFlushQueue(DS_HANDLE, ACQ_QUEUE_TYPE) { return NotImplemented("DSFlushQueue"); }
ZV_EXPORT GC_ERROR DSStartAcquisition(DS_HANDLE, ACQ_START_FLAGS, uint64_t) {
    return NotImplemented("DSStartAcquisition");
}
ZV_EXPORT GC_ERROR DSStopAcquisition(DS_HANDLE, ACQ_STOP_FLAGS) { return NotImplemented("DSStopAcquisition"); }
ZV_EXPORT GC_ERROR DSGetInfo(DS_HANDLE, STREAM_INFO_CMD, INFO_DATATYPE*, void*, size_t*) {
    return NotImplemented("DSGetInfo");
}
ZV_EXPORT GC_ERROR DSGetBufferID(DS_HANDLE, uint32_t, BUFFER_HANDLE*) { return NotImplemented("DSGetBufferID"); }
ZV_EXPORT GC_ERROR DSClose(DS_HANDLE) { return NotImplemented("DSClose"); }
ZV_EXPORT GC_ERROR DSRevokeBuffer(DS_HANDLE, BUFFER_HANDLE, void**, void**) { return NotImplemented("DSRevokeBuffer"); }
ZV_EXPORT GC_ERROR DSQueueBuffer(DS_HANDLE, BUFFER_HANDLE) { return NotImplemented("DSQueueBuffer"); }
ZV_EXPORT GC_ERROR DSGetBufferInfo(DS_HANDLE, BUFFER_HANDLE, BUFFER_INFO_CMD, INFO_DATATYPE*, void*, size_t*) {
    return NotImplemented("DSGetBufferInfo");
}
ZV_EXPORT GC_ERROR DSGetBufferChunkData(DS_HANDLE, BUFFER_HANDLE, SINGLE_CHUNK_DATA*, size_t*) {
    return NotImplemented("DSGetBufferChunkData");
}
ZV_EXPORT GC_ERROR DSGetParentDev(DS_HANDLE, DEV_HANDLE*) { return NotImplemented("DSGetParentDev"); }
ZV_EXPORT GC_ERROR DSGetNumBufferParts(DS_HANDLE, BUFFER_HANDLE, uint32_t*) {
    return NotImplemented("DSGetNumBufferParts");
}
ZV_EXPORT GC_ERROR DSGetBufferPartInfo(DS_HANDLE, BUFFER_HANDLE, uint32_t, BUFFER_PART_INFO_CMD, INFO_DATATYPE*, void*,
                                       size_t*) {
    return NotImplemented("DSGetBufferPartInfo");
}
ZV_EXPORT GC_ERROR DSAnnounceCompositeBuffer(DS_HANDLE, size_t, void**, size_t*, void*, BUFFER_HANDLE*) {
    return NotImplemented("DSAnnounceCompositeBuffer");
}
ZV_EXPORT GC_ERROR DSGetBufferInfoStacked(DS_HANDLE, BUFFER_HANDLE, DS_BUFFER_INFO_STACKED*, size_t) {
    return NotImplemented("DSGetBufferInfoStacked");
}
ZV_EXPORT GC_ERROR DSGetBufferPartInfoStacked(DS_HANDLE, BUFFER_HANDLE, DS_BUFFER_PART_INFO_STACKED*, size_t) {
    return NotImplemented("DSGetBufferPartInfoStacked");
}
ZV_EXPORT GC_ERROR DSGetNumFlows(DS_HANDLE, uint32_t*) { return NotImplemented("DSGetNumFlows"); }
ZV_EXPORT GC_ERROR DSGetFlowInfo(DS_HANDLE, uint32_t, FLOW_INFO_CMD, INFO_DATATYPE*, void*, size_t*) {
    return NotImplemented("DSGetFlowInfo");
}
ZV_EXPORT GC_ERROR DSGetNumBufferSegments(DS_HANDLE, BUFFER_HANDLE, uint32_t*) {
    return NotImplemented("DSGetNumBufferSegments");
}
ZV_EXPORT GC_ERROR DSGetBufferSegmentInfo(DS_HANDLE, BUFFER_HANDLE, uint32_t, SEGMENT_INFO_CMD, INFO_DATATYPE*, void*,
                                          size_t*) {
    return NotImplemented("DSGetBufferSegmentInfo");
}

// ---- Upgrade extensions ----------------------------------------------------

#ifndef ZVSIM_WITHOUT_UPGRADE_EXTENSIONS

ZV_EXPORT GC_ERROR DPEnterUpgradeMode(PORT_HANDLE hPort, uint32_t timeoutMs, uint32_t mode, uint32_t retries) {
    return Run("DPEnterUpgradeMode", [&](Call& call) {
        call.extra = {{"timeout_ms", timeoutMs}, {"mode", mode}, {"retries", retries}};
        if (GC_ERROR result = call.RemotePort(hPort)) {
            return result;
        }
        Camera& camera = *call.device->camera;
        std::lock_guard lock(camera.mutex);
        if (GC_ERROR result = CheckReachable(*call.device, camera.store.Read(), call.Name())) {
            return result;
        }
        if (mode != 0) {
            return call.Refuse(GC_ERR_INVALID_PARAMETER, "unknown mode " + std::to_string(mode));
        }
        if (camera.description.faults.enter) {
            return call.Refuse(GC_ERR_IO, camera.description.deviceId + " did not acknowledge after " +
                                              std::to_string(retries) + " tries (simulated fault)");
        }
        camera.store.Modify([](CameraState& state) {
            if (!state.upgradeMode) {
                state.upgradeMode = true;
                state.sessionWrites = 0;
                state.sessionFailed = false;
            }
        });
        return GC_ERR_SUCCESS;
    });
}

ZV_EXPORT GC_ERROR DPWriteUpgradeFile(PORT_HANDLE hPort, uint64_t flashAddress, const void* pBuffer, size_t* piSize,
                                      uint32_t blockSize, uint32_t packetCount, uint32_t reserved, uint32_t verify) {
    return Run("DPWriteUpgradeFile", [&](Call& call) {
        const size_t size = piSize != nullptr ? *piSize : 0;
        call.extra = {{"address", HexString(flashAddress)},
                      {"size", size},
                      {"start_us", NowMicros()},
                      {"block_size", blockSize},
                      {"packet_count", packetCount},
                      {"reserved", reserved},
                      {"verify", verify}};
        if (GC_ERROR result = call.RemotePort(hPort)) {
            return result;
        }
        Camera& camera = *call.device->camera;
        const CameraDescription& description = camera.description;
        // Only this camera waits while its flash is written.
        std::lock_guard lock(camera.mutex);
        const CameraState state = camera.store.Read();
        if (GC_ERROR result = CheckReachable(*call.device, state, call.Name())) {
            return result;
        }
        if (piSize == nullptr || (pBuffer == nullptr && size > 0)) {
            return call.Refuse(GC_ERR_INVALID_PARAMETER, "null buffer or size");
        }
        if (blockSize == 0 || packetCount == 0) {
            return call.Refuse(GC_ERR_INVALID_PARAMETER, "block size and packet count must not be 0");
        }
        if (!state.upgradeMode) {
            return call.Refuse(GC_ERR_ACCESS_DENIED, description.deviceId + " is not in upgrade mode");
        }
        if (flashAddress < kBootAreaEnd) {
            return call.Refuse(GC_ERR_ACCESS_DENIED, HexString(flashAddress) + " lies in the boot area");
        }
        if (flashAddress > kFlashSize || size > kFlashSize - flashAddress) {
            return call.Refuse(GC_ERR_INVALID_ADDRESS,
                               std::to_string(size) + " bytes at " + HexString(flashAddress) + " do not fit the flash");
        }
        if (description.faults.writeFailsAt && *description.faults.writeFailsAt == flashAddress) {
            camera.store.Modify([](CameraState& s) { s.sessionFailed = true; });
            *piSize = 0;
            return call.Refuse(GC_ERR_IO, "writing " + HexString(flashAddress) + " of " + description.deviceId +
                                              " failed (simulated fault)");
        }
        SleepSeconds(static_cast<double>(size) / description.writeBytesPerSecond);
        camera.store.WriteFlash(flashAddress, pBuffer, size);
        GC_ERROR result = GC_ERR_SUCCESS;
        if (verify != 0) {
            const std::optional<std::vector<uint8_t>> written = camera.store.ReadFlash(flashAddress);
            if (!written || written->size() != size || (size > 0 && std::memcmp(written->data(), pBuffer, size) != 0)) {
                result = call.Refuse(GC_ERR_IO, "verifying " + HexString(flashAddress) + " failed");
            }
        }
        camera.store.Modify([&](CameraState& s) {
            if (result == GC_ERR_SUCCESS) {
                ++s.sessionWrites;
            } else {
                s.sessionFailed = true;
            }
        });
        return result;
    });
}

ZV_EXPORT GC_ERROR DPLeaveUpgradeMode(PORT_HANDLE hPort) {
    return Run("DPLeaveUpgradeMode", [&](Call& call) {
        call.extra["reboot"] = false;
        if (GC_ERROR result = call.RemotePort(hPort)) {
            return result;
        }
        Camera& camera = *call.device->camera;
        const CameraDescription& description = camera.description;
        std::lock_guard lock(camera.mutex);
        const CameraState state = camera.store.Read();
        if (GC_ERROR result = CheckReachable(*call.device, state, call.Name())) {
            return result;
        }
        if (!state.upgradeMode) {
            return call.Refuse(GC_ERR_ACCESS_DENIED, description.deviceId + " is not in upgrade mode");
        }
        if (description.faults.leave) {
            return call.Refuse(GC_ERR_IO, description.deviceId + " did not leave upgrade mode (simulated fault)");
        }
        camera.store.Modify([&](CameraState& s) {
            s.upgradeMode = false;
            if (s.sessionWrites > 0) {
                // New flash contents take effect at the reboot; a camera whose
                // write failed boots its old firmware again.
                const int64_t deadline = NowMicros() + static_cast<int64_t>(description.rebootSeconds * 1e6);
                call.extra["reboot"] = true;
                call.extra["reboot_until_us"] = deadline;
                s.rebootUntilUs = deadline;
                ++s.bootCount;
                if (!s.sessionFailed) {
                    ++s.upgrades;
                    if (description.afterUpgrade) {
                        s.versions = *description.afterUpgrade;
                    }
                }
                camera.store.ResetParametersToFactory(s);
                s.gone = !description.faults.returns;
            }
            s.sessionWrites = 0;
            s.sessionFailed = false;
        });
        return GC_ERR_SUCCESS;
    });
}

#endif
