#include "Producer.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace zvsim::producer {

namespace {

// Trivially destructible on purpose: a thread_local with a destructor would
// pin the library in memory after dlclose.
struct LastError {
    GC_ERROR code;
    char text[1024];
};
thread_local LastError t_lastError = {GC_ERR_SUCCESS, "No error"};

std::atomic<bool> g_lastErrorEnabled{true};

std::mutex g_contextMutex;
std::shared_ptr<Context> g_context;  // guarded by g_contextMutex

}  // namespace

GC_ERROR Fail(GC_ERROR code, const std::string& message) {
    t_lastError.code = code;
    const size_t count = std::min(message.size(), sizeof t_lastError.text - 1);
    std::memcpy(t_lastError.text, message.data(), count);
    t_lastError.text[count] = '\0';
    return code;
}

void SetLastErrorEnabled(bool enabled) { g_lastErrorEnabled = enabled; }
bool LastErrorEnabled() { return g_lastErrorEnabled; }

GC_ERROR ReadLastError(GC_ERROR* code, char* text, size_t* size) {
    if (code == nullptr || size == nullptr) {
        return GC_ERR_INVALID_PARAMETER;
    }
    const size_t needed = std::strlen(t_lastError.text) + 1;
    if (text == nullptr) {
        *code = t_lastError.code;
        *size = needed;
        return GC_ERR_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return GC_ERR_BUFFER_TOO_SMALL;
    }
    *code = t_lastError.code;
    std::memcpy(text, t_lastError.text, needed);
    *size = needed;
    return GC_ERR_SUCCESS;
}

Context::Context(Description desc, std::filesystem::path root)
    : description(std::move(desc)), stateRoot(std::move(root)), log(stateRoot, "producer") {
    for (const InterfaceDescription& interfaceDescription : description.interfaces) {
        auto interface = std::make_unique<Interface>();
        interface->description = &interfaceDescription;
        for (const CameraDescription& camera : interfaceDescription.cameras) {
            cameras.push_back(std::make_unique<Camera>(stateRoot, camera));
        }
        interfaces.push_back(std::move(interface));
    }
}

Camera* Context::FindCamera(const std::string& deviceId) const {
    for (const auto& camera : cameras) {
        if (camera->description.deviceId == deviceId) {
            return camera.get();
        }
    }
    return nullptr;
}

bool Context::IsOpenTl(TL_HANDLE handle) {
    std::lock_guard lock(mutex);
    return handle == &tlTag && tlOpen;
}

Interface* Context::OpenInterface(IF_HANDLE handle) {
    std::lock_guard lock(mutex);
    if (!tlOpen) {
        return nullptr;
    }
    for (const auto& interface : interfaces) {
        if (interface.get() == handle && interface->open) {
            return interface.get();
        }
    }
    return nullptr;
}

std::shared_ptr<Device> Context::FindDevice(DEV_HANDLE handle) {
    std::lock_guard lock(mutex);
    auto it = devices.find(handle);
    return it == devices.end() ? nullptr : it->second;
}

std::shared_ptr<Device> Context::FindPort(PORT_HANDLE handle) {
    std::lock_guard lock(mutex);
    auto it = ports.find(handle);
    return it == ports.end() ? nullptr : it->second;
}

void Context::ReleaseDevice(const std::shared_ptr<Device>& device) {
    {
        std::lock_guard cameraLock(device->camera->mutex);
        if (!device->closed) {
            device->closed = true;
            Camera& camera = *device->camera;
            if (--camera.openHandles == 0) {
                camera.access.reset();
            }
            camera.openCount = camera.openHandles;
        }
    }
    std::lock_guard lock(mutex);
    devices.erase(device.get());
    ports.erase(&device->port);
}

void Context::CloseDevices(const Interface* only) {
    std::vector<std::shared_ptr<Device>> closing;
    {
        std::lock_guard lock(mutex);
        for (const auto& [handle, device] : devices) {
            if (only == nullptr || device->parent == only) {
                closing.push_back(device);
            }
        }
    }
    for (const auto& device : closing) {
        ReleaseDevice(device);
    }
}

std::shared_ptr<Context> CurrentContext() {
    std::lock_guard lock(g_contextMutex);
    return g_context;
}

GC_ERROR InitContext() {
    std::lock_guard lock(g_contextMutex);
    if (g_context) {
        return Fail(GC_ERR_RESOURCE_IN_USE, "GCInitLib: the library is already initialised");
    }
    Description description;
    try {
        const char* path = std::getenv("FLASHWRIGHT_SIM_CONFIG");
        description = (path != nullptr && *path != '\0') ? LoadDescriptionFile(path) : DefaultDescription();
    } catch (const DescriptionError& error) {
        return Fail(GC_ERR_INVALID_PARAMETER, std::string("GCInitLib: camera description: ") + error.what());
    }
    SetLastErrorEnabled(description.producer.lastError);
    std::filesystem::path stateRoot;
    try {
        stateRoot = ResolveStateFolder();
    } catch (const StateError& error) {
        return Fail(GC_ERR_IO, std::string("GCInitLib: ") + error.what());
    }
    auto context = std::make_shared<Context>(std::move(description), std::move(stateRoot));
    const std::optional<int32_t> fault = context->description.producer.init;
    if (fault && *fault != GC_ERR_SUCCESS) {
        return Fail(*fault, "GCInitLib: the transport layer could not be initialised (simulated fault)");
    }
    g_context = std::move(context);
    return GC_ERR_SUCCESS;
}

GC_ERROR CloseContext() {
    std::shared_ptr<Context> context;
    {
        std::lock_guard lock(g_contextMutex);
        context = std::move(g_context);
        g_context.reset();
    }
    if (!context) {
        return Fail(GC_ERR_NOT_INITIALIZED, "GCCloseLib: the library is not initialised");
    }
    context->CloseDevices(nullptr);
    {
        std::lock_guard lock(context->mutex);
        for (const auto& interface : context->interfaces) {
            interface->open = false;
        }
        context->tlOpen = false;
    }
    return GC_ERR_SUCCESS;
}

}  // namespace zvsim::producer
