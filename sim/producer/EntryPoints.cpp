// The exported GenTL 1.6 entry points and the three upgrade extensions.
#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

#include "Producer.h"
#include "zvsim/CameraModel.h"
#include "zvsim/Clock.h"

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

GC_ERROR Deliver(const Info& info, INFO_DATATYPE* type, void* buffer, size_t* size, const char* call) {
    if (size == nullptr) {
        return Fail(GC_ERR_INVALID_PARAMETER, std::string(call) + ": the size pointer is null");
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
        return Fail(GC_ERR_BUFFER_TOO_SMALL, std::string(call) + ": " + std::to_string(info.bytes.size()) +
                                                 " bytes needed, " + std::to_string(given) + " given");
    }
    std::memcpy(buffer, info.bytes.data(), info.bytes.size());
    *size = info.bytes.size();
    return GC_ERR_SUCCESS;
}

GC_ERROR NotImplemented(const char* call) {
    return Fail(GC_ERR_NOT_IMPLEMENTED, std::string(call) + ": not supported by this producer");
}

GC_ERROR Context_(const char* call, std::shared_ptr<Context>& context) {
    context = CurrentContext();
    if (!context) {
        return Fail(GC_ERR_NOT_INITIALIZED, std::string(call) + ": GCInitLib has not been called");
    }
    return GC_ERR_SUCCESS;
}

std::string ProducerPath() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&Deliver), &info) != 0 && info.dli_fname != nullptr) {
        return info.dli_fname;
    }
    return "";
}

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

GC_ERROR CopyString(const std::string& text, char* buffer, size_t* size, const char* call) {
    return Deliver(Info::String(text), nullptr, buffer, size, call);
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

GC_ERROR ReadOne(Context& context, const Device& device, uint64_t address, void* buffer, size_t* size) {
    const std::string call = "GCReadPort";
    const CameraDescription& camera = device.camera->description;
    GC_ERROR result = GC_ERR_SUCCESS;
    {
        std::lock_guard lock(device.camera->mutex);
        const CameraState state = device.camera->store.Read();
        result = CheckReachable(device, state, call);
        if (result == GC_ERR_SUCCESS) {
            const auto& fails = camera.faults.readFails;
            if (std::find(fails.begin(), fails.end(), address) != fails.end()) {
                result = Fail(GC_ERR_IO, call + ": reading " + HexString(address) + " of " + camera.deviceId +
                                             " failed (simulated fault)");
            } else if (address == kFlashVendorRegister && camera.faults.vendorRead &&
                       *camera.faults.vendorRead != GC_ERR_SUCCESS) {
                result = Fail(*camera.faults.vendorRead,
                              call + ": the flash vendor of " + camera.deviceId + " could not be read (simulated fault)");
            } else {
                result = ReadRegisters(camera, state, address, buffer, *size);
                if (result != GC_ERR_SUCCESS) {
                    result = Fail(result, call + ": " + camera.deviceId + " has no register for " +
                                              std::to_string(*size) + " bytes at " + HexString(address) +
                                              " (status 0x8003)");
                }
            }
        }
    }
    context.log.Record(call, camera.deviceId, result, {{"address", HexString(address)}, {"size", *size}});
    return result;
}

GC_ERROR WriteOne(Context& context, const Device& device, uint64_t address, const void* buffer, size_t* size) {
    const std::string call = "GCWritePort";
    const CameraDescription& camera = device.camera->description;
    GC_ERROR result = GC_ERR_SUCCESS;
    {
        std::lock_guard lock(device.camera->mutex);
        CameraState state = device.camera->store.Read();
        result = CheckReachable(device, state, call);
        if (result == GC_ERR_SUCCESS) {
            bool changed = false;
            result = WriteRegisters(camera, state, address, buffer, *size, changed);
            if (result != GC_ERR_SUCCESS) {
                result = Fail(result, call + ": " + HexString(address) + " of " + camera.deviceId +
                                          (result == GENCP_WRITE_PROTECT ? " is read-only" : " does not exist"));
            } else if (changed) {
                const std::string name = state.userDefinedName;
                device.camera->store.Modify([&](CameraState& s) { s.userDefinedName = name; });
            }
        }
    }
    context.log.Record(call, camera.deviceId, result, {{"address", HexString(address)}, {"size", *size}});
    return result;
}

// The remote device of an upgrade call, with the camera's mutex held by the caller.
[[maybe_unused]] GC_ERROR UpgradeTarget(const char* call, PORT_HANDLE port, std::shared_ptr<Context>& context,
                       std::shared_ptr<Device>& device) {
    if (GC_ERROR result = Context_(call, context)) {
        return result;
    }
    device = context->FindPort(port);
    if (!device) {
        return Fail(GC_ERR_INVALID_HANDLE, std::string(call) + ": not a remote-device port of this producer");
    }
    return GC_ERR_SUCCESS;
}

}  // namespace

// ---- Library ---------------------------------------------------------------

ZV_EXPORT GC_ERROR GCGetInfo(TL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    return Guard("GCGetInfo", [&] {
        std::optional<Info> info = TransportLayerInfo(iInfoCmd);
        if (!info) {
            return Fail(GC_ERR_INVALID_PARAMETER, "GCGetInfo: unknown command " + std::to_string(iInfoCmd));
        }
        return Deliver(*info, piType, pBuffer, piSize, "GCGetInfo");
    });
}

ZV_EXPORT GC_ERROR GCGetLastError(GC_ERROR* piErrorCode, char* sErrText, size_t* piSize) {
    if (!LastErrorEnabled()) {
        return GC_ERR_ERROR;  // simulated: the producer cannot say what went wrong
    }
    return ReadLastError(piErrorCode, sErrText, piSize);
}

ZV_EXPORT GC_ERROR GCInitLib() {
    return Guard("GCInitLib", [] { return InitContext(); });
}

ZV_EXPORT GC_ERROR GCCloseLib() {
    return Guard("GCCloseLib", [] { return CloseContext(); });
}

// ---- Ports -----------------------------------------------------------------

ZV_EXPORT GC_ERROR GCReadPort(PORT_HANDLE hPort, uint64_t iAddress, void* pBuffer, size_t* piSize) {
    return Guard("GCReadPort", [&] {
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_("GCReadPort", context)) {
            return result;
        }
        if (pBuffer == nullptr || piSize == nullptr) {
            return Fail(GC_ERR_INVALID_PARAMETER, "GCReadPort: null buffer or size");
        }
        const PortTarget target = ResolvePort(*context, hPort);
        if (target.module == Module::None) {
            return Fail(GC_ERR_INVALID_HANDLE, "GCReadPort: not a port of this producer");
        }
        if (target.module != Module::RemoteDevice) {
            return Fail(GC_ERR_INVALID_ADDRESS, "GCReadPort: this module has no registers");
        }
        return ReadOne(*context, *target.remote, iAddress, pBuffer, piSize);
    });
}

ZV_EXPORT GC_ERROR GCWritePort(PORT_HANDLE hPort, uint64_t iAddress, const void* pBuffer, size_t* piSize) {
    return Guard("GCWritePort", [&] {
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_("GCWritePort", context)) {
            return result;
        }
        if (pBuffer == nullptr || piSize == nullptr) {
            return Fail(GC_ERR_INVALID_PARAMETER, "GCWritePort: null buffer or size");
        }
        const PortTarget target = ResolvePort(*context, hPort);
        if (target.module == Module::None) {
            return Fail(GC_ERR_INVALID_HANDLE, "GCWritePort: not a port of this producer");
        }
        if (target.module != Module::RemoteDevice) {
            return Fail(GC_ERR_INVALID_ADDRESS, "GCWritePort: this module has no registers");
        }
        return WriteOne(*context, *target.remote, iAddress, pBuffer, piSize);
    });
}

ZV_EXPORT GC_ERROR GCReadPortStacked(PORT_HANDLE hPort, PORT_REGISTER_STACK_ENTRY* pEntries, size_t* piNumEntries) {
    return Guard("GCReadPortStacked", [&] {
        if (pEntries == nullptr || piNumEntries == nullptr) {
            return Fail(GC_ERR_INVALID_PARAMETER, "GCReadPortStacked: null entries or count");
        }
        const size_t count = *piNumEntries;
        for (size_t i = 0; i < count; ++i) {
            PORT_REGISTER_STACK_ENTRY entry;
            std::memcpy(&entry, &pEntries[i], sizeof entry);
            size_t size = entry.Size;
            if (GC_ERROR result = GCReadPort(hPort, entry.Address, entry.pBuffer, &size)) {
                *piNumEntries = i;
                return result;
            }
        }
        return GC_ERR_SUCCESS;
    });
}

ZV_EXPORT GC_ERROR GCWritePortStacked(PORT_HANDLE hPort, PORT_REGISTER_STACK_ENTRY* pEntries, size_t* piNumEntries) {
    return Guard("GCWritePortStacked", [&] {
        if (pEntries == nullptr || piNumEntries == nullptr) {
            return Fail(GC_ERR_INVALID_PARAMETER, "GCWritePortStacked: null entries or count");
        }
        const size_t count = *piNumEntries;
        for (size_t i = 0; i < count; ++i) {
            PORT_REGISTER_STACK_ENTRY entry;
            std::memcpy(&entry, &pEntries[i], sizeof entry);
            size_t size = entry.Size;
            if (GC_ERROR result = GCWritePort(hPort, entry.Address, entry.pBuffer, &size)) {
                *piNumEntries = i;
                return result;
            }
        }
        return GC_ERR_SUCCESS;
    });
}

ZV_EXPORT GC_ERROR GCGetNumPortURLs(PORT_HANDLE hPort, uint32_t* piNumURLs) {
    return Guard("GCGetNumPortURLs", [&] {
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_("GCGetNumPortURLs", context)) {
            return result;
        }
        if (piNumURLs == nullptr) {
            return Fail(GC_ERR_INVALID_PARAMETER, "GCGetNumPortURLs: null count");
        }
        const PortTarget target = ResolvePort(*context, hPort);
        if (target.module == Module::None) {
            return Fail(GC_ERR_INVALID_HANDLE, "GCGetNumPortURLs: not a port of this producer");
        }
        *piNumURLs = target.module == Module::RemoteDevice ? 1 : 0;
        return GC_ERR_SUCCESS;
    });
}

ZV_EXPORT GC_ERROR GCGetPortURLInfo(PORT_HANDLE hPort, uint32_t iURLIndex, URL_INFO_CMD iInfoCmd,
                                    INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    return Guard("GCGetPortURLInfo", [&] {
        const std::string call = "GCGetPortURLInfo";
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_(call.c_str(), context)) {
            return result;
        }
        const PortTarget target = ResolvePort(*context, hPort);
        if (target.module == Module::None) {
            return Fail(GC_ERR_INVALID_HANDLE, call + ": not a port of this producer");
        }
        if (target.module != Module::RemoteDevice || iURLIndex != 0) {
            return Fail(GC_ERR_INVALID_INDEX, call + ": no URL " + std::to_string(iURLIndex));
        }
        const Device& device = *target.remote;
        const CameraDescription& camera = device.camera->description;
        GC_ERROR result = GC_ERR_SUCCESS;
        {
            std::lock_guard lock(device.camera->mutex);
            const CameraState state = device.camera->store.Read();
            result = CheckReachable(device, state, call);
            if (result == GC_ERR_SUCCESS && camera.faults.urlInfo) {
                result = Fail(GC_ERR_IO, call + ": the URL of " + camera.deviceId + " cannot be read (simulated fault)");
            }
            if (result == GC_ERR_SUCCESS) {
                std::optional<Info> info;
                switch (iInfoCmd) {
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
                result = info ? Deliver(*info, piType, pBuffer, piSize, call.c_str())
                              : Fail(GC_ERR_NOT_AVAILABLE, call + ": command " + std::to_string(iInfoCmd) +
                                                               " is not available");
            }
        }
        context->log.Record(call, camera.deviceId, result, {{"command", iInfoCmd}});
        return result;
    });
}

ZV_EXPORT GC_ERROR GCGetPortURL(PORT_HANDLE hPort, char* sURL, size_t* piSize) {
    return Guard("GCGetPortURL", [&] {
        INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
        return GCGetPortURLInfo(hPort, 0, URL_INFO_URL, &type, sURL, piSize);
    });
}

ZV_EXPORT GC_ERROR GCGetPortInfo(PORT_HANDLE hPort, PORT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                                 size_t* piSize) {
    return Guard("GCGetPortInfo", [&] {
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_("GCGetPortInfo", context)) {
            return result;
        }
        const PortTarget target = ResolvePort(*context, hPort);
        std::string id;
        std::string module;
        std::string model = "ZvU3VTL";
        switch (target.module) {
        case Module::None: return Fail(GC_ERR_INVALID_HANDLE, "GCGetPortInfo: not a port of this producer");
        case Module::System: id = kProducerId; module = "TLSystem"; break;
        case Module::Interface: id = target.interface->id; module = "TLInterface"; break;
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
        case PORT_INFO_PORTNAME: info = Info::String(target.module == Module::RemoteDevice ? "Device" : module); break;
        default: return Fail(GC_ERR_INVALID_PARAMETER, "GCGetPortInfo: unknown command " + std::to_string(iInfoCmd));
        }
        return Deliver(*info, piType, pBuffer, piSize, "GCGetPortInfo");
    });
}

// ---- Events: this producer delivers none ----------------------------------

ZV_EXPORT GC_ERROR GCRegisterEvent(EVENTSRC_HANDLE, EVENT_TYPE, EVENT_HANDLE*) { return NotImplemented("GCRegisterEvent"); }
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
    return Guard("TLOpen", [&] {
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_("TLOpen", context)) {
            return result;
        }
        if (phSystem == nullptr) {
            return Fail(GC_ERR_INVALID_PARAMETER, "TLOpen: null handle pointer");
        }
        GC_ERROR result = GC_ERR_SUCCESS;
        const std::optional<int32_t> fault = context->description.producer.tlOpen;
        if (fault && *fault != GC_ERR_SUCCESS) {
            result = Fail(*fault, "TLOpen: the transport layer could not be opened (simulated fault)");
        } else {
            std::lock_guard lock(context->mutex);
            if (context->tlOpen) {
                result = Fail(GC_ERR_RESOURCE_IN_USE, "TLOpen: the transport layer is already open");
            } else {
                context->tlOpen = true;
                context->interfacesReported = false;
                *phSystem = context->TlHandle();
            }
        }
        context->log.Record("TLOpen", "", result);
        return result;
    });
}

ZV_EXPORT GC_ERROR TLClose(TL_HANDLE hSystem) {
    return Guard("TLClose", [&] {
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_("TLClose", context)) {
            return result;
        }
        if (!context->IsOpenTl(hSystem)) {
            return Fail(GC_ERR_INVALID_HANDLE, "TLClose: not an open transport-layer handle");
        }
        context->CloseDevices(nullptr);
        {
            std::lock_guard lock(context->mutex);
            for (const auto& interface : context->interfaces) {
                interface->open = false;
                interface->devices.clear();
            }
            context->tlOpen = false;
        }
        context->log.Record("TLClose", "", GC_ERR_SUCCESS);
        return GC_ERR_SUCCESS;
    });
}

ZV_EXPORT GC_ERROR TLGetInfo(TL_HANDLE hSystem, TL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                             size_t* piSize) {
    return Guard("TLGetInfo", [&] {
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_("TLGetInfo", context)) {
            return result;
        }
        if (!context->IsOpenTl(hSystem)) {
            return Fail(GC_ERR_INVALID_HANDLE, "TLGetInfo: not an open transport-layer handle");
        }
        std::optional<Info> info = TransportLayerInfo(iInfoCmd);
        if (!info) {
            return Fail(GC_ERR_INVALID_PARAMETER, "TLGetInfo: unknown command " + std::to_string(iInfoCmd));
        }
        return Deliver(*info, piType, pBuffer, piSize, "TLGetInfo");
    });
}

ZV_EXPORT GC_ERROR TLGetNumInterfaces(TL_HANDLE hSystem, uint32_t* piNumIfaces) {
    return Guard("TLGetNumInterfaces", [&] {
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_("TLGetNumInterfaces", context)) {
            return result;
        }
        if (!context->IsOpenTl(hSystem)) {
            return Fail(GC_ERR_INVALID_HANDLE, "TLGetNumInterfaces: not an open transport-layer handle");
        }
        if (piNumIfaces == nullptr) {
            return Fail(GC_ERR_INVALID_PARAMETER, "TLGetNumInterfaces: null count");
        }
        *piNumIfaces = static_cast<uint32_t>(context->interfaces.size());
        return GC_ERR_SUCCESS;
    });
}

ZV_EXPORT GC_ERROR TLGetInterfaceID(TL_HANDLE hSystem, uint32_t iIndex, char* sIfaceID, size_t* piSize) {
    return Guard("TLGetInterfaceID", [&] {
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_("TLGetInterfaceID", context)) {
            return result;
        }
        if (!context->IsOpenTl(hSystem)) {
            return Fail(GC_ERR_INVALID_HANDLE, "TLGetInterfaceID: not an open transport-layer handle");
        }
        if (iIndex >= context->interfaces.size()) {
            return Fail(GC_ERR_INVALID_INDEX, "TLGetInterfaceID: no interface " + std::to_string(iIndex));
        }
        return CopyString(context->interfaces[iIndex]->description->id, sIfaceID, piSize, "TLGetInterfaceID");
    });
}

ZV_EXPORT GC_ERROR TLGetInterfaceInfo(TL_HANDLE hSystem, const char* sIfaceID, INTERFACE_INFO_CMD iInfoCmd,
                                      INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    return Guard("TLGetInterfaceInfo", [&] {
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_("TLGetInterfaceInfo", context)) {
            return result;
        }
        if (!context->IsOpenTl(hSystem)) {
            return Fail(GC_ERR_INVALID_HANDLE, "TLGetInterfaceInfo: not an open transport-layer handle");
        }
        for (const auto& interface : context->interfaces) {
            if (sIfaceID != nullptr && interface->description->id == sIfaceID) {
                std::optional<Info> info = InterfaceInfo(*interface->description, iInfoCmd);
                if (!info) {
                    return Fail(GC_ERR_INVALID_PARAMETER, "TLGetInterfaceInfo: unknown command " + std::to_string(iInfoCmd));
                }
                return Deliver(*info, piType, pBuffer, piSize, "TLGetInterfaceInfo");
            }
        }
        return Fail(GC_ERR_INVALID_ID, "TLGetInterfaceInfo: no such interface");
    });
}

ZV_EXPORT GC_ERROR TLOpenInterface(TL_HANDLE hSystem, const char* sIfaceID, IF_HANDLE* phIface) {
    return Guard("TLOpenInterface", [&] {
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_("TLOpenInterface", context)) {
            return result;
        }
        if (!context->IsOpenTl(hSystem)) {
            return Fail(GC_ERR_INVALID_HANDLE, "TLOpenInterface: not an open transport-layer handle");
        }
        if (sIfaceID == nullptr || phIface == nullptr) {
            return Fail(GC_ERR_INVALID_PARAMETER, "TLOpenInterface: null id or handle pointer");
        }
        Interface* found = nullptr;
        for (const auto& interface : context->interfaces) {
            if (interface->description->id == sIfaceID) {
                found = interface.get();
            }
        }
        // An interface comes up with the devices that are there now.
        std::vector<Camera*> present;
        const int64_t now = NowMicros();
        for (const auto& camera : context->cameras) {
            if (found != nullptr && camera->description.interfaceId == found->description->id &&
                camera->store.Read().IsPresent(now)) {
                present.push_back(camera.get());
            }
        }
        GC_ERROR result = GC_ERR_SUCCESS;
        if (found == nullptr) {
            result = Fail(GC_ERR_INVALID_ID, std::string("TLOpenInterface: no interface \"") + sIfaceID + "\"");
        } else if (found->description->openFails) {
            result = Fail(GC_ERR_IO, "TLOpenInterface: " + found->description->id + " cannot be opened (simulated fault)");
        } else {
            std::lock_guard lock(context->mutex);
            if (found->open) {
                result = Fail(GC_ERR_RESOURCE_IN_USE, "TLOpenInterface: " + found->description->id + " is already open");
            } else {
                found->open = true;
                found->devices = present;
                *phIface = found;
            }
        }
        context->log.Record("TLOpenInterface", "", result, {{"interface", sIfaceID}});
        return result;
    });
}

ZV_EXPORT GC_ERROR TLUpdateInterfaceList(TL_HANDLE hSystem, bool8_t* pbChanged, uint64_t iTimeout) {
    return Guard("TLUpdateInterfaceList", [&] {
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_("TLUpdateInterfaceList", context)) {
            return result;
        }
        if (!context->IsOpenTl(hSystem)) {
            return Fail(GC_ERR_INVALID_HANDLE, "TLUpdateInterfaceList: not an open transport-layer handle");
        }
        GC_ERROR result = GC_ERR_SUCCESS;
        const std::optional<int32_t> fault = context->description.producer.updateInterfaces;
        if (fault && *fault != GC_ERR_SUCCESS) {
            result = Fail(*fault, "TLUpdateInterfaceList: the interface list could not be updated (simulated fault)");
        } else {
            std::lock_guard lock(context->mutex);
            if (pbChanged != nullptr) {
                *pbChanged = context->interfacesReported ? 0 : 1;
            }
            context->interfacesReported = true;
        }
        context->log.Record("TLUpdateInterfaceList", "", result, {{"timeout_ms", iTimeout}});
        return result;
    });
}

// ---- Interfaces ------------------------------------------------------------

ZV_EXPORT GC_ERROR IFClose(IF_HANDLE hIface) {
    return Guard("IFClose", [&] {
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_("IFClose", context)) {
            return result;
        }
        Interface* interface = context->OpenInterface(hIface);
        if (interface == nullptr) {
            return Fail(GC_ERR_INVALID_HANDLE, "IFClose: not an open interface handle");
        }
        context->CloseDevices(interface);
        {
            std::lock_guard lock(context->mutex);
            interface->open = false;
            interface->devices.clear();
        }
        context->log.Record("IFClose", "", GC_ERR_SUCCESS, {{"interface", interface->description->id}});
        return GC_ERR_SUCCESS;
    });
}

ZV_EXPORT GC_ERROR IFGetInfo(IF_HANDLE hIface, INTERFACE_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                             size_t* piSize) {
    return Guard("IFGetInfo", [&] {
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_("IFGetInfo", context)) {
            return result;
        }
        Interface* interface = context->OpenInterface(hIface);
        if (interface == nullptr) {
            return Fail(GC_ERR_INVALID_HANDLE, "IFGetInfo: not an open interface handle");
        }
        std::optional<Info> info = InterfaceInfo(*interface->description, iInfoCmd);
        if (!info) {
            return Fail(GC_ERR_INVALID_PARAMETER, "IFGetInfo: unknown command " + std::to_string(iInfoCmd));
        }
        return Deliver(*info, piType, pBuffer, piSize, "IFGetInfo");
    });
}

ZV_EXPORT GC_ERROR IFUpdateDeviceList(IF_HANDLE hIface, bool8_t* pbChanged, uint64_t iTimeout) {
    return Guard("IFUpdateDeviceList", [&] {
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_("IFUpdateDeviceList", context)) {
            return result;
        }
        Interface* interface = context->OpenInterface(hIface);
        if (interface == nullptr) {
            return Fail(GC_ERR_INVALID_HANDLE, "IFUpdateDeviceList: not an open interface handle");
        }
        // Asking the bus takes a moment, as on a real one; no lock is held meanwhile.
        SleepSeconds(context->description.producer.enumerationSeconds);
        std::vector<Camera*> present;
        const int64_t now = NowMicros();
        for (const auto& camera : context->cameras) {
            if (camera->description.interfaceId == interface->description->id && camera->store.Read().IsPresent(now)) {
                present.push_back(camera.get());
            }
        }
        {
            std::lock_guard lock(context->mutex);
            if (pbChanged != nullptr) {
                *pbChanged = present != interface->devices ? 1 : 0;
            }
            interface->devices = present;
        }
        context->log.Record("IFUpdateDeviceList", "", GC_ERR_SUCCESS,
                            {{"interface", interface->description->id}, {"devices", present.size()}, {"timeout_ms", iTimeout}});
        return GC_ERR_SUCCESS;
    });
}

ZV_EXPORT GC_ERROR IFGetNumDevices(IF_HANDLE hIface, uint32_t* piNumDevices) {
    return Guard("IFGetNumDevices", [&] {
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_("IFGetNumDevices", context)) {
            return result;
        }
        if (piNumDevices == nullptr) {
            return Fail(GC_ERR_INVALID_PARAMETER, "IFGetNumDevices: null count");
        }
        std::lock_guard lock(context->mutex);
        for (const auto& interface : context->interfaces) {
            if (interface.get() == hIface && interface->open && context->tlOpen) {
                *piNumDevices = static_cast<uint32_t>(interface->devices.size());
                return GC_ERR_SUCCESS;
            }
        }
        return Fail(GC_ERR_INVALID_HANDLE, "IFGetNumDevices: not an open interface handle");
    });
}

namespace {

// The camera of the interface's last device list with this id, or null.
Camera* ListedCamera(Context& context, IF_HANDLE handle, const char* deviceId, Interface** interfaceOut) {
    std::lock_guard lock(context.mutex);
    for (const auto& interface : context.interfaces) {
        if (interface.get() == handle && interface->open && context.tlOpen) {
            *interfaceOut = interface.get();
            for (Camera* camera : interface->devices) {
                if (deviceId != nullptr && camera->description.deviceId == deviceId) {
                    return camera;
                }
            }
            return nullptr;
        }
    }
    *interfaceOut = nullptr;
    return nullptr;
}

}  // namespace

ZV_EXPORT GC_ERROR IFGetDeviceID(IF_HANDLE hIface, uint32_t iIndex, char* sIDeviceID, size_t* piSize) {
    return Guard("IFGetDeviceID", [&] {
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_("IFGetDeviceID", context)) {
            return result;
        }
        std::string id;
        {
            std::lock_guard lock(context->mutex);
            Interface* found = nullptr;
            for (const auto& interface : context->interfaces) {
                if (interface.get() == hIface && interface->open && context->tlOpen) {
                    found = interface.get();
                }
            }
            if (found == nullptr) {
                return Fail(GC_ERR_INVALID_HANDLE, "IFGetDeviceID: not an open interface handle");
            }
            if (iIndex >= found->devices.size()) {
                return Fail(GC_ERR_INVALID_INDEX, "IFGetDeviceID: no device " + std::to_string(iIndex));
            }
            id = found->devices[iIndex]->description.deviceId;
        }
        return CopyString(id, sIDeviceID, piSize, "IFGetDeviceID");
    });
}

ZV_EXPORT GC_ERROR IFGetDeviceInfo(IF_HANDLE hIface, const char* sDeviceID, DEVICE_INFO_CMD iInfoCmd,
                                   INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    return Guard("IFGetDeviceInfo", [&] {
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_("IFGetDeviceInfo", context)) {
            return result;
        }
        Interface* interface = nullptr;
        Camera* camera = ListedCamera(*context, hIface, sDeviceID, &interface);
        if (interface == nullptr) {
            return Fail(GC_ERR_INVALID_HANDLE, "IFGetDeviceInfo: not an open interface handle");
        }
        if (camera == nullptr) {
            return Fail(GC_ERR_INVALID_ID, "IFGetDeviceInfo: the interface lists no such device");
        }
        const CameraFaults& faults = camera->description.faults;
        GC_ERROR result = GC_ERR_SUCCESS;
        if (iInfoCmd == DEVICE_INFO_MODEL && faults.modelInfo) {
            result = Fail(GC_ERR_IO, "IFGetDeviceInfo: the model of " + camera->description.deviceId +
                                         " cannot be read (simulated fault)");
        } else if (iInfoCmd == DEVICE_INFO_DISPLAYNAME && faults.displayName) {
            result = Fail(GC_ERR_IO, "IFGetDeviceInfo: the display name of " + camera->description.deviceId +
                                         " cannot be read (simulated fault)");
        } else {
            std::optional<Info> info = DeviceInfo(*camera, iInfoCmd);
            result = info ? Deliver(*info, piType, pBuffer, piSize, "IFGetDeviceInfo")
                          : Fail(GC_ERR_INVALID_PARAMETER, "IFGetDeviceInfo: unknown command " + std::to_string(iInfoCmd));
        }
        context->log.Record("IFGetDeviceInfo", camera->description.deviceId, result, {{"command", iInfoCmd}});
        return result;
    });
}

ZV_EXPORT GC_ERROR IFOpenDevice(IF_HANDLE hIface, const char* sDeviceID, DEVICE_ACCESS_FLAGS iOpenFlags,
                                DEV_HANDLE* phDevice) {
    return Guard("IFOpenDevice", [&] {
        const std::string call = "IFOpenDevice";
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_(call.c_str(), context)) {
            return result;
        }
        Interface* interface = nullptr;
        Camera* camera = ListedCamera(*context, hIface, sDeviceID, &interface);
        if (interface == nullptr) {
            return Fail(GC_ERR_INVALID_HANDLE, call + ": not an open interface handle");
        }
        if (camera == nullptr) {
            return Fail(GC_ERR_INVALID_ID, call + ": the interface lists no such device");
        }
        const CameraDescription& description = camera->description;
        GC_ERROR result = GC_ERR_SUCCESS;
        const std::optional<int32_t> fault = description.faults.open;
        if (phDevice == nullptr) {
            result = Fail(GC_ERR_INVALID_PARAMETER, call + ": null handle pointer");
        } else if (iOpenFlags != DEVICE_ACCESS_READONLY && iOpenFlags != DEVICE_ACCESS_CONTROL &&
                   iOpenFlags != DEVICE_ACCESS_EXCLUSIVE) {
            result = Fail(GC_ERR_INVALID_PARAMETER, call + ": access flags " + std::to_string(iOpenFlags) + " not supported");
        } else if (fault && *fault != GC_ERR_SUCCESS && *fault != ZV_ERR_ALREADY_OPEN) {
            result = Fail(*fault, call + ": " + description.deviceId + " cannot be opened (simulated fault)");
        } else {
            std::lock_guard cameraLock(camera->mutex);
            const CameraState state = camera->store.Read();
            if (!state.IsPresent(NowMicros())) {
                result = Fail(GC_ERR_IO, call + ": " + description.deviceId + " is not reachable");
            } else {
                std::string holder;
                if (camera->openHandles == 0) {
                    camera->access = AccessLock::TryAcquire(camera->store.Directory(), "producer", holder);
                }
                if (camera->openHandles == 0 && !camera->access) {
                    result = Fail(GC_ERR_RESOURCE_IN_USE, call + ": " + description.deviceId + " is held by " + holder);
                    if (holder.rfind("sdk", 0) == 0) {
                        context->log.Record("violation", description.deviceId, result,
                                            {{"detail", "the producer opened a camera that the SDK holds (" + holder + ")"}});
                    }
                } else {
                    auto device = std::make_shared<Device>();
                    device->parent = interface;
                    device->camera = camera;
                    device->bootCount = state.bootCount;
                    result = camera->openHandles > 0 || (fault && *fault == ZV_ERR_ALREADY_OPEN) ? ZV_ERR_ALREADY_OPEN
                                                                                                : GC_ERR_SUCCESS;
                    if (result != GC_ERR_SUCCESS) {
                        Fail(result, call + ": " + description.deviceId + " is already open; the new handle works too");
                    }
                    ++camera->openHandles;
                    camera->openCount = camera->openHandles;
                    {
                        std::lock_guard lock(context->mutex);
                        context->devices[device.get()] = device;
                    }
                    *phDevice = device.get();
                }
            }
        }
        context->log.Record(call, description.deviceId, result, {{"access", iOpenFlags}});
        return result;
    });
}

ZV_EXPORT GC_ERROR IFGetParentTL(IF_HANDLE hIface, TL_HANDLE* phSystem) {
    return Guard("IFGetParentTL", [&] {
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_("IFGetParentTL", context)) {
            return result;
        }
        if (context->OpenInterface(hIface) == nullptr) {
            return Fail(GC_ERR_INVALID_HANDLE, "IFGetParentTL: not an open interface handle");
        }
        if (phSystem == nullptr) {
            return Fail(GC_ERR_INVALID_PARAMETER, "IFGetParentTL: null handle pointer");
        }
        *phSystem = context->TlHandle();
        return GC_ERR_SUCCESS;
    });
}

// ---- Devices ---------------------------------------------------------------

ZV_EXPORT GC_ERROR DevGetPort(DEV_HANDLE hDevice, PORT_HANDLE* phRemoteDevice) {
    return Guard("DevGetPort", [&] {
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_("DevGetPort", context)) {
            return result;
        }
        std::shared_ptr<Device> device = context->FindDevice(hDevice);
        if (!device) {
            return Fail(GC_ERR_INVALID_HANDLE, "DevGetPort: not an open device handle");
        }
        const CameraDescription& description = device->camera->description;
        GC_ERROR result = GC_ERR_SUCCESS;
        if (phRemoteDevice == nullptr) {
            result = Fail(GC_ERR_INVALID_PARAMETER, "DevGetPort: null handle pointer");
        } else if (description.faults.port) {
            result = Fail(GC_ERR_IO, "DevGetPort: the port of " + description.deviceId + " cannot be opened (simulated fault)");
        } else {
            std::lock_guard lock(context->mutex);
            if (context->devices.count(device.get()) == 0) {
                result = Fail(GC_ERR_INVALID_HANDLE, "DevGetPort: the device has been closed");
            } else {
                context->ports[&device->port] = device;
                *phRemoteDevice = &device->port;
            }
        }
        context->log.Record("DevGetPort", description.deviceId, result);
        return result;
    });
}

ZV_EXPORT GC_ERROR DevGetNumDataStreams(DEV_HANDLE hDevice, uint32_t* piNumDataStreams) {
    return Guard("DevGetNumDataStreams", [&] {
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_("DevGetNumDataStreams", context)) {
            return result;
        }
        if (!context->FindDevice(hDevice)) {
            return Fail(GC_ERR_INVALID_HANDLE, "DevGetNumDataStreams: not an open device handle");
        }
        if (piNumDataStreams == nullptr) {
            return Fail(GC_ERR_INVALID_PARAMETER, "DevGetNumDataStreams: null count");
        }
        *piNumDataStreams = 0;  // the upgrade path needs no image stream
        return GC_ERR_SUCCESS;
    });
}

ZV_EXPORT GC_ERROR DevGetDataStreamID(DEV_HANDLE, uint32_t iIndex, char*, size_t*) {
    return Fail(GC_ERR_INVALID_INDEX, "DevGetDataStreamID: no data stream " + std::to_string(iIndex));
}

ZV_EXPORT GC_ERROR DevOpenDataStream(DEV_HANDLE, const char*, DS_HANDLE*) {
    return Fail(GC_ERR_INVALID_ID, "DevOpenDataStream: this producer has no data streams");
}

ZV_EXPORT GC_ERROR DevGetInfo(DEV_HANDLE hDevice, DEVICE_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                              size_t* piSize) {
    return Guard("DevGetInfo", [&] {
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_("DevGetInfo", context)) {
            return result;
        }
        std::shared_ptr<Device> device = context->FindDevice(hDevice);
        if (!device) {
            return Fail(GC_ERR_INVALID_HANDLE, "DevGetInfo: not an open device handle");
        }
        std::optional<Info> info = DeviceInfo(*device->camera, iInfoCmd);
        if (!info) {
            return Fail(GC_ERR_INVALID_PARAMETER, "DevGetInfo: unknown command " + std::to_string(iInfoCmd));
        }
        return Deliver(*info, piType, pBuffer, piSize, "DevGetInfo");
    });
}

ZV_EXPORT GC_ERROR DevClose(DEV_HANDLE hDevice) {
    return Guard("DevClose", [&] {
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_("DevClose", context)) {
            return result;
        }
        std::shared_ptr<Device> device = context->FindDevice(hDevice);
        if (!device) {
            return Fail(GC_ERR_INVALID_HANDLE, "DevClose: not an open device handle");
        }
        const CameraDescription& description = device->camera->description;
        GC_ERROR result = GC_ERR_SUCCESS;
        if (description.faults.close) {
            // The camera stays open; closing the transport layer still releases it.
            result = Fail(GC_ERR_IO, "DevClose: " + description.deviceId + " did not close (simulated fault)");
        } else {
            context->ReleaseDevice(device);
        }
        context->log.Record("DevClose", description.deviceId, result);
        return result;
    });
}

ZV_EXPORT GC_ERROR DevGetParentIF(DEV_HANDLE hDevice, IF_HANDLE* phIface) {
    return Guard("DevGetParentIF", [&] {
        std::shared_ptr<Context> context;
        if (GC_ERROR result = Context_("DevGetParentIF", context)) {
            return result;
        }
        std::shared_ptr<Device> device = context->FindDevice(hDevice);
        if (!device) {
            return Fail(GC_ERR_INVALID_HANDLE, "DevGetParentIF: not an open device handle");
        }
        if (phIface == nullptr) {
            return Fail(GC_ERR_INVALID_PARAMETER, "DevGetParentIF: null handle pointer");
        }
        *phIface = device->parent;
        return GC_ERR_SUCCESS;
    });
}

// ---- Data streams: none ----------------------------------------------------

ZV_EXPORT GC_ERROR DSAnnounceBuffer(DS_HANDLE, void*, size_t, void*, BUFFER_HANDLE*) { return NotImplemented("DSAnnounceBuffer"); }
ZV_EXPORT GC_ERROR DSAllocAndAnnounceBuffer(DS_HANDLE, size_t, void*, BUFFER_HANDLE*) {
    return NotImplemented("DSAllocAndAnnounceBuffer");
}
ZV_EXPORT GC_ERROR DSFlushQueue(DS_HANDLE, ACQ_QUEUE_TYPE) { return NotImplemented("DSFlushQueue"); }
ZV_EXPORT GC_ERROR DSStartAcquisition(DS_HANDLE, ACQ_START_FLAGS, uint64_t) { return NotImplemented("DSStartAcquisition"); }
ZV_EXPORT GC_ERROR DSStopAcquisition(DS_HANDLE, ACQ_STOP_FLAGS) { return NotImplemented("DSStopAcquisition"); }
ZV_EXPORT GC_ERROR DSGetInfo(DS_HANDLE, STREAM_INFO_CMD, INFO_DATATYPE*, void*, size_t*) { return NotImplemented("DSGetInfo"); }
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
ZV_EXPORT GC_ERROR DSGetNumBufferParts(DS_HANDLE, BUFFER_HANDLE, uint32_t*) { return NotImplemented("DSGetNumBufferParts"); }
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
ZV_EXPORT GC_ERROR DSGetNumBufferSegments(DS_HANDLE, BUFFER_HANDLE, uint32_t*) { return NotImplemented("DSGetNumBufferSegments"); }
ZV_EXPORT GC_ERROR DSGetBufferSegmentInfo(DS_HANDLE, BUFFER_HANDLE, uint32_t, SEGMENT_INFO_CMD, INFO_DATATYPE*, void*,
                                          size_t*) {
    return NotImplemented("DSGetBufferSegmentInfo");
}

// ---- Upgrade extensions ----------------------------------------------------

#ifndef ZVSIM_WITHOUT_UPGRADE_EXTENSIONS

ZV_EXPORT GC_ERROR DPEnterUpgradeMode(PORT_HANDLE hPort, uint32_t timeoutMs, uint32_t mode, uint32_t retries) {
    return Guard("DPEnterUpgradeMode", [&] {
        const std::string call = "DPEnterUpgradeMode";
        std::shared_ptr<Context> context;
        std::shared_ptr<Device> device;
        if (GC_ERROR result = UpgradeTarget(call.c_str(), hPort, context, device)) {
            return result;
        }
        Camera& camera = *device->camera;
        GC_ERROR result = GC_ERR_SUCCESS;
        {
            std::lock_guard lock(camera.mutex);
            result = CheckReachable(*device, camera.store.Read(), call);
            if (result != GC_ERR_SUCCESS) {
            } else if (mode != 0) {
                result = Fail(GC_ERR_INVALID_PARAMETER, call + ": unknown mode " + std::to_string(mode));
            } else if (camera.description.faults.enter) {
                result = Fail(GC_ERR_IO, call + ": " + camera.description.deviceId + " did not acknowledge after " +
                                             std::to_string(retries) + " tries (simulated fault)");
            } else {
                camera.store.Modify([](CameraState& state) {
                    if (!state.upgradeMode) {
                        state.upgradeMode = true;
                        state.sessionWrites = 0;
                        state.sessionFailed = false;
                    }
                });
            }
        }
        context->log.Record(call, camera.description.deviceId, result,
                            {{"timeout_ms", timeoutMs}, {"mode", mode}, {"retries", retries}});
        return result;
    });
}

ZV_EXPORT GC_ERROR DPWriteUpgradeFile(PORT_HANDLE hPort, uint64_t flashAddress, const void* pBuffer, size_t* piSize,
                                      uint32_t blockSize, uint32_t packetCount, uint32_t reserved, uint32_t verify) {
    return Guard("DPWriteUpgradeFile", [&] {
        const std::string call = "DPWriteUpgradeFile";
        std::shared_ptr<Context> context;
        std::shared_ptr<Device> device;
        if (GC_ERROR result = UpgradeTarget(call.c_str(), hPort, context, device)) {
            return result;
        }
        Camera& camera = *device->camera;
        const CameraDescription& description = camera.description;
        const int64_t start = NowMicros();
        const size_t size = piSize != nullptr ? *piSize : 0;
        GC_ERROR result = GC_ERR_SUCCESS;
        {
            // Only this camera waits while its flash is written.
            std::lock_guard lock(camera.mutex);
            const CameraState state = camera.store.Read();
            result = CheckReachable(*device, state, call);
            if (result != GC_ERR_SUCCESS) {
            } else if (piSize == nullptr || (pBuffer == nullptr && size > 0)) {
                result = Fail(GC_ERR_INVALID_PARAMETER, call + ": null buffer or size");
            } else if (blockSize == 0 || packetCount == 0) {
                result = Fail(GC_ERR_INVALID_PARAMETER, call + ": block size and packet count must not be 0");
            } else if (!state.upgradeMode) {
                result = Fail(GC_ERR_ACCESS_DENIED, call + ": " + description.deviceId + " is not in upgrade mode");
            } else if (flashAddress < kBootAreaEnd) {
                result = Fail(GC_ERR_ACCESS_DENIED, call + ": " + HexString(flashAddress) + " lies in the boot area");
            } else if (flashAddress > kFlashSize || size > kFlashSize - flashAddress) {
                result = Fail(GC_ERR_INVALID_ADDRESS, call + ": " + std::to_string(size) + " bytes at " +
                                                          HexString(flashAddress) + " do not fit the flash");
            } else if (description.faults.writeFailsAt && *description.faults.writeFailsAt == flashAddress) {
                camera.store.Modify([](CameraState& s) { s.sessionFailed = true; });
                *piSize = 0;
                result = Fail(GC_ERR_IO, call + ": writing " + HexString(flashAddress) + " of " + description.deviceId +
                                             " failed (simulated fault)");
            } else {
                SleepSeconds(static_cast<double>(size) / description.writeBytesPerSecond);
                camera.store.WriteFlash(flashAddress, pBuffer, size);
                if (verify != 0) {
                    const std::optional<std::vector<uint8_t>> written = camera.store.ReadFlash(flashAddress);
                    if (!written || written->size() != size ||
                        (size > 0 && std::memcmp(written->data(), pBuffer, size) != 0)) {
                        result = Fail(GC_ERR_IO, call + ": verifying " + HexString(flashAddress) + " failed");
                    }
                }
                camera.store.Modify([&](CameraState& s) {
                    if (result == GC_ERR_SUCCESS) {
                        ++s.sessionWrites;
                    } else {
                        s.sessionFailed = true;
                    }
                });
            }
        }
        context->log.Record(call, description.deviceId, result,
                            {{"address", HexString(flashAddress)},
                             {"size", size},
                             {"start_us", start},
                             {"block_size", blockSize},
                             {"packet_count", packetCount},
                             {"reserved", reserved},
                             {"verify", verify}});
        return result;
    });
}

ZV_EXPORT GC_ERROR DPLeaveUpgradeMode(PORT_HANDLE hPort) {
    return Guard("DPLeaveUpgradeMode", [&] {
        const std::string call = "DPLeaveUpgradeMode";
        std::shared_ptr<Context> context;
        std::shared_ptr<Device> device;
        if (GC_ERROR result = UpgradeTarget(call.c_str(), hPort, context, device)) {
            return result;
        }
        Camera& camera = *device->camera;
        const CameraDescription& description = camera.description;
        GC_ERROR result = GC_ERR_SUCCESS;
        bool reboots = false;
        int64_t deadline = 0;
        {
            std::lock_guard lock(camera.mutex);
            const CameraState state = camera.store.Read();
            result = CheckReachable(*device, state, call);
            if (result != GC_ERR_SUCCESS) {
            } else if (!state.upgradeMode) {
                result = Fail(GC_ERR_ACCESS_DENIED, call + ": " + description.deviceId + " is not in upgrade mode");
            } else if (description.faults.leave) {
                result = Fail(GC_ERR_IO, call + ": " + description.deviceId + " did not leave upgrade mode (simulated fault)");
            } else {
                camera.store.Modify([&](CameraState& s) {
                    s.upgradeMode = false;
                    if (s.sessionWrites > 0) {
                        // New flash contents take effect at the reboot; a camera whose
                        // write failed boots its old firmware again.
                        reboots = true;
                        deadline = NowMicros() + static_cast<int64_t>(description.rebootSeconds * 1e6);
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
            }
        }
        nlohmann::json extra{{"reboot", reboots}};
        if (reboots) {
            extra["reboot_until_us"] = deadline;
        }
        context->log.Record(call, description.deviceId, result, extra);
        return result;
    });
}

#endif
