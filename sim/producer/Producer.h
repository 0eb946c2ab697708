// Internals of the simulated producer: the process-wide context created by
// GCInitLib, its transport layer, interfaces, devices and ports.
//
// Locking: a camera's mutex is taken before the context's mutex, never after
// it, and the context's mutex is held only for short table look-ups, so a
// camera that is being written (which sleeps under its own mutex) never holds
// up another camera.
#pragma once

#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "zvsim/Description.h"
#include "zvsim/EventLog.h"
#include "zvsim/GenTL.h"
#include "zvsim/StateStore.h"

namespace zvsim::producer {

using namespace zvsim::gentl;

// Records the failure for GCGetLastError on the calling thread and returns code.
GC_ERROR Fail(GC_ERROR code, const std::string& message);
void SetLastErrorEnabled(bool enabled);
bool LastErrorEnabled();
GC_ERROR ReadLastError(GC_ERROR* code, char* text, size_t* size);

class Camera {
public:
    Camera(const std::filesystem::path& stateRoot, const CameraDescription& description)
        : description(description), store(stateRoot, description) {}

    const CameraDescription& description;
    const CameraStore store;
    std::mutex mutex;
    // Guarded by mutex: handles of this library open on the camera and the
    // lock that keeps everybody else out while there are any.
    int openHandles = 0;
    std::unique_ptr<AccessLock> access;
    std::atomic<int> openCount{0};  // mirror of openHandles for the access-status query
};

struct Interface {
    const InterfaceDescription* description = nullptr;
    bool open = false;             // guarded by the context's mutex
    std::vector<Camera*> devices;  // guarded by the context's mutex; the last device list
};

struct Device;

struct Port {
    Device* device;
};

struct Device {
    Interface* parent = nullptr;
    Camera* camera = nullptr;
    uint64_t bootCount = 0;  // the camera's boot when it was opened
    bool closed = false;     // guarded by the camera's mutex
    Port port{this};
};

class Context {
public:
    Context(Description description, std::filesystem::path stateRoot);

    Description description;
    const std::filesystem::path stateRoot;
    const EventLog log;
    std::vector<std::unique_ptr<Camera>> cameras;
    std::vector<std::unique_ptr<Interface>> interfaces;

    std::mutex mutex;
    bool tlOpen = false;
    bool interfacesReported = false;
    std::map<const void*, std::shared_ptr<Device>> devices;  // by device handle
    std::map<const void*, std::shared_ptr<Device>> ports;    // by remote-device port handle
    int tlTag = 0;                                           // its address is the transport-layer handle

    Camera* FindCamera(const std::string& deviceId) const;
    TL_HANDLE TlHandle() { return &tlTag; }

    // Look-ups under the context's mutex; null when the handle is not valid now.
    bool IsOpenTl(TL_HANDLE handle);
    Interface* OpenInterface(IF_HANDLE handle);
    std::shared_ptr<Device> FindDevice(DEV_HANDLE handle);
    std::shared_ptr<Device> FindPort(PORT_HANDLE handle);

    // Closes devices (all, or those of one interface) and gives their cameras back.
    void CloseDevices(const Interface* only);
    void ReleaseDevice(const std::shared_ptr<Device>& device);
};

// The context of the initialised library, or null.
std::shared_ptr<Context> CurrentContext();
// The entry points GCInitLib and GCCloseLib record these calls themselves.
GC_ERROR InitContext();
GC_ERROR CloseContext();

}  // namespace zvsim::producer
