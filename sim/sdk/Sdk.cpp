// The simulated camera SDK: the same cameras as the producer, reached by
// their identity string, with user parameters that can be saved to a file
// and loaded back.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>

#include <nlohmann/json.hpp>

#include "zvsim/Clock.h"
#include "zvsim/Description.h"
#include "zvsim/EventLog.h"
#include "zvsim/StateStore.h"
#include "zvsim/ZvIAPI.h"

#define ZV_EXPORT extern "C" __attribute__((visibility("default")))

using namespace zvsim;
using namespace zvsim::sdk;
using nlohmann::json;

namespace {

constexpr const char* kFileFormat = "ZvUserSet";

struct SdkCamera {
    SdkCamera(const std::filesystem::path& root, const CameraDescription& d) : description(d), store(root, d) {}
    const CameraDescription& description;
    const CameraStore store;
    std::mutex mutex;  // serialises this library's commands to the camera
};

struct Handle {
    SdkCamera* camera = nullptr;
    std::unique_ptr<AccessLock> access;  // released with the handle
    bool importing = false;              // ordinal 701 was called on this handle
};

struct SdkContext {
    SdkContext(Description d, std::filesystem::path r)
        : description(std::move(d)), root(std::move(r)), log(root, "sdk") {
        for (const CameraDescription* camera : description.Cameras()) {
            cameras.push_back(std::make_unique<SdkCamera>(root, *camera));
        }
    }
    Description description;
    const std::filesystem::path root;
    const EventLog log;
    std::vector<std::unique_ptr<SdkCamera>> cameras;

    std::mutex mutex;  // guards the two tables below; held only for look-ups
    std::vector<SdkCamera*> listed;
    std::map<uint32_t, std::shared_ptr<Handle>> handles;
    uint32_t nextHandle = 1;

    std::shared_ptr<Handle> Find(uint32_t handle) {
        std::lock_guard lock(mutex);
        auto it = handles.find(handle);
        return it == handles.end() ? nullptr : it->second;
    }
};

std::mutex g_mutex;
std::shared_ptr<SdkContext> g_context;  // guarded by g_mutex
std::string g_configurationError;       // guarded by g_mutex
std::atomic<bool> g_describeWorks{true};

std::shared_ptr<SdkContext> Current() {
    std::lock_guard lock(g_mutex);
    return g_context;
}

int32_t Guard(const std::function<int32_t()>& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ZV_ERR_GENERIC;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "ZvIAPI: %s\n", error.what());
        return ZV_ERR_GENERIC;
    } catch (...) {
        return ZV_ERR_GENERIC;
    }
}

std::string StatusText(int32_t status) {
    switch (status) {
        case ZV_OK: return "Success";
        case ZV_ERR_GENERIC: return "General failure";
        case ZV_ERR_NOT_OPEN: return "The SDK has not been opened";
        case ZV_ERR_INVALID_PARAMETER: return "Invalid parameter";
        case ZV_ERR_INVALID_HANDLE: return "Invalid camera handle";
        case ZV_ERR_NOT_FOUND: return "Camera not found";
        case ZV_ERR_IN_USE: return "The camera is in use by another application";
        case ZV_ERR_BUFFER_TOO_SMALL: return "Buffer too small";
        case ZV_ERR_FEATURE_NOT_AVAILABLE: return "Feature not available";
        case ZV_ERR_OUT_OF_RANGE: return "Value out of range";
        case ZV_ERR_FILE: return "The parameter file cannot be read or written";
        case ZV_ERR_FILE_MISMATCH: return "The parameter file belongs to another camera model";
        case ZV_ERR_NO_RESPONSE: return "The camera did not respond";
        case ZV_ERR_CONFIGURATION: {
            std::lock_guard lock(g_mutex);
            return "The camera configuration cannot be used: " + g_configurationError;
        }
        case ZV_ERR_ACCESS_DENIED: return "Access to the camera was denied";
        default: return "Unknown status " + std::to_string(status);
    }
}

void PutText(uint8_t* entry, uint32_t offset, size_t width, const std::string& text) {
    std::memcpy(entry + offset, text.data(), std::min(width - 1, text.size()));
}

// What the camera answers to a command of the given phase, when the
// description makes that command fail.
bool FaultHits(const Handle& handle, int32_t ordinal) {
    const CameraFaults& faults = handle.camera->description.faults;
    const std::optional<int32_t>& fault = handle.importing ? faults.sdkImportFails : faults.sdkExportFails;
    return fault && *fault == ordinal;
}

// Runs a command on an open handle under the camera's mutex and records it.
int32_t OnCamera(const char* call, uint32_t handleId, json extra,
                 const std::function<int32_t(SdkContext&, Handle&)>& command) {
    std::shared_ptr<SdkContext> context = Current();
    if (!context) {
        return ZV_ERR_NOT_OPEN;
    }
    std::shared_ptr<Handle> handle = context->Find(handleId);
    if (!handle) {
        context->log.Record(call, "", ZV_ERR_INVALID_HANDLE, extra);
        return ZV_ERR_INVALID_HANDLE;
    }
    int32_t status;
    {
        std::lock_guard lock(handle->camera->mutex);
        status = handle->access ? command(*context, *handle) : ZV_ERR_INVALID_HANDLE;
    }
    context->log.Record(call, handle->camera->description.deviceId, status, extra);
    return status;
}

}  // namespace

ZV_EXPORT int32_t ZvIAPI_100() {
    return Guard([] {
        std::lock_guard lock(g_mutex);
        if (g_context) {
            return static_cast<int32_t>(ZV_OK);
        }
        Description description;
        std::filesystem::path root;
        try {
            const char* path = std::getenv("FLASHWRIGHT_SIM_CONFIG");
            description = (path != nullptr && *path != '\0') ? LoadDescriptionFile(path) : DefaultDescription();
            g_describeWorks = description.sdk.describe;
            root = ResolveStateFolder();
        } catch (const std::exception& error) {
            g_configurationError = error.what();
            return static_cast<int32_t>(ZV_ERR_CONFIGURATION);
        }
        auto context = std::make_shared<SdkContext>(std::move(description), std::move(root));
        const std::optional<int32_t> fault = context->description.sdk.init;
        if (fault && *fault != ZV_OK) {
            context->log.Record("ZvIAPI_100", "", *fault);
            return *fault;
        }
        context->log.Record("ZvIAPI_100", "", ZV_OK, {{"description", context->description.source}});
        g_context = std::move(context);
        return static_cast<int32_t>(ZV_OK);
    });
}

ZV_EXPORT int32_t ZvIAPI_101() {
    return Guard([] {
        std::shared_ptr<SdkContext> context;
        {
            std::lock_guard lock(g_mutex);
            context = std::move(g_context);
            g_context.reset();
        }
        if (!context) {
            return static_cast<int32_t>(ZV_ERR_NOT_OPEN);
        }
        std::map<uint32_t, std::shared_ptr<Handle>> handles;
        {
            std::lock_guard lock(context->mutex);
            handles.swap(context->handles);
        }
        for (auto& [id, handle] : handles) {
            std::lock_guard lock(handle->camera->mutex);
            handle->access.reset();
        }
        context->log.Record("ZvIAPI_101", "", ZV_OK);
        return static_cast<int32_t>(ZV_OK);
    });
}

ZV_EXPORT int32_t ZvIAPI_200(uint32_t* count, uint32_t timeoutMs) {
    return Guard([&] {
        std::shared_ptr<SdkContext> context = Current();
        if (!context) {
            return static_cast<int32_t>(ZV_ERR_NOT_OPEN);
        }
        int32_t status = ZV_OK;
        std::vector<SdkCamera*> present;
        const std::optional<int32_t> fault = context->description.sdk.list;
        if (count == nullptr) {
            status = ZV_ERR_INVALID_PARAMETER;
        } else if (fault && *fault != ZV_OK) {
            status = *fault;
        } else {
            const int64_t now = NowMicros();
            for (const auto& camera : context->cameras) {
                if (camera->store.Read().IsPresent(now)) {
                    present.push_back(camera.get());
                }
            }
            std::lock_guard lock(context->mutex);
            context->listed = present;
            *count = static_cast<uint32_t>(present.size());
        }
        context->log.Record("ZvIAPI_200", "", status, {{"count", present.size()}, {"timeout_ms", timeoutMs}});
        return status;
    });
}

ZV_EXPORT int32_t ZvIAPI_201(void* entries, uint32_t* size) {
    return Guard([&] {
        std::shared_ptr<SdkContext> context = Current();
        if (!context) {
            return static_cast<int32_t>(ZV_ERR_NOT_OPEN);
        }
        std::vector<SdkCamera*> listed;
        {
            std::lock_guard lock(context->mutex);
            listed = context->listed;
        }
        const uint64_t needed = static_cast<uint64_t>(listed.size()) * kEntrySize;
        int32_t status = ZV_OK;
        const std::optional<int32_t> fault = context->description.sdk.info;
        if (size == nullptr) {
            status = ZV_ERR_INVALID_PARAMETER;
        } else if (entries == nullptr) {
            // The maker's SDK writes through the buffer unchecked: a null one is a fault of the caller.
            status = ZV_ERR_INVALID_PARAMETER;
            context->log.Record("violation", "", status, {{"detail", "ordinal 201 was handed a null buffer"}});
        } else if (fault && *fault != ZV_OK) {
            status = *fault;
        } else if (*size < needed) {
            *size = static_cast<uint32_t>(needed);
            status = ZV_ERR_BUFFER_TOO_SMALL;
        } else {
            auto* bytes = static_cast<uint8_t*>(entries);
            for (size_t i = 0; i < listed.size(); ++i) {
                const CameraDescription& d = listed[i]->description;
                const CameraState state = listed[i]->store.Read();
                uint8_t* entry = bytes + i * kEntrySize;
                std::memset(entry, 0, kEntrySize);
                PutText(entry, kEntryModelOffset, 64, d.model);
                PutText(entry, kEntryIdentityOffset, 256, d.sdkIdentity);
                PutText(entry, kEntrySerialOffset, 48, d.serial);
                std::memcpy(entry + kEntryClassCodeOffset, &d.faults.sdkClassCode, sizeof(int32_t));
                PutText(entry, kEntryVendorOffset, 64, d.vendor);
                PutText(entry, kEntryDeviceVersionOffset, 64, state.versions.deviceVersion);
                PutText(entry, kEntryFirmwareVersionOffset, 32, state.versions.firmwareVersion);
                std::memcpy(entry + kEntryGuidOffset, d.guid.data(), std::min<size_t>(16, d.guid.size()));
                PutText(entry, kEntryDeviceIdOffset, kEntrySize - kEntryDeviceIdOffset, d.deviceId);
            }
            *size = static_cast<uint32_t>(needed);
        }
        context->log.Record("ZvIAPI_201", "", status, {{"count", listed.size()}});
        return status;
    });
}

ZV_EXPORT int32_t ZvIAPI_204(int32_t* status, char* text, uint32_t* size) {
    return Guard([&] {
        if (status == nullptr || size == nullptr) {
            return static_cast<int32_t>(ZV_ERR_INVALID_PARAMETER);
        }
        const std::string description = StatusText(*status);
        const uint32_t needed = static_cast<uint32_t>(description.size() + 1);
        if (text == nullptr) {
            *size = needed;
            return static_cast<int32_t>(ZV_OK);
        }
        if (!g_describeWorks) {
            return static_cast<int32_t>(ZV_ERR_GENERIC);  // simulated: no description available
        }
        if (*size < needed) {
            *size = needed;
            return static_cast<int32_t>(ZV_ERR_BUFFER_TOO_SMALL);
        }
        std::memcpy(text, description.c_str(), needed);
        *size = needed;
        return static_cast<int32_t>(ZV_OK);
    });
}

ZV_EXPORT int32_t ZvIAPI_301(const ZvOpenRequest* request, uint32_t* handle) {
    return Guard([&] {
        std::shared_ptr<SdkContext> context = Current();
        if (!context) {
            return static_cast<int32_t>(ZV_ERR_NOT_OPEN);
        }
        if (request == nullptr || handle == nullptr || request->identity == nullptr) {
            context->log.Record("ZvIAPI_301", "", ZV_ERR_INVALID_PARAMETER);
            return static_cast<int32_t>(ZV_ERR_INVALID_PARAMETER);
        }
        const std::string identity(request->identity, strnlen(request->identity, 256));
        json extra{{"identity", identity}, {"reserved", request->reserved}, {"access_mode", request->accessMode}};
        SdkCamera* camera = nullptr;
        for (const auto& candidate : context->cameras) {
            if (candidate->description.sdkIdentity == identity) {
                camera = candidate.get();
            }
        }
        int32_t status = ZV_OK;
        if (request->reserved != 0 || request->accessMode != kAccessExclusive) {
            status = ZV_ERR_INVALID_PARAMETER;
        } else if (camera == nullptr || !camera->store.Read().IsPresent(NowMicros())) {
            status = ZV_ERR_NOT_FOUND;
        } else if (camera->description.faults.sdkOpen) {
            status = ZV_ERR_ACCESS_DENIED;
        } else {
            std::lock_guard lock(camera->mutex);
            std::string holder;
            std::unique_ptr<AccessLock> access = AccessLock::TryAcquire(camera->store.Directory(), "sdk", holder);
            if (!access) {
                status = ZV_ERR_IN_USE;
                if (holder.rfind("producer", 0) == 0) {
                    context->log.Record(
                        "violation", camera->description.deviceId, status,
                        {{"detail", "the SDK opened a camera that the producer holds (" + holder + ")"}});
                }
            } else {
                auto opened = std::make_shared<Handle>();
                opened->camera = camera;
                opened->access = std::move(access);
                std::lock_guard tableLock(context->mutex);
                const uint32_t id = context->nextHandle++;
                context->handles[id] = opened;
                *handle = id;
                extra["handle"] = id;
            }
        }
        context->log.Record("ZvIAPI_301", camera != nullptr ? camera->description.deviceId : "", status, extra);
        return status;
    });
}

ZV_EXPORT int32_t ZvIAPI_302(uint32_t handle) {
    return Guard([&] {
        std::shared_ptr<SdkContext> context = Current();
        if (!context) {
            return static_cast<int32_t>(ZV_ERR_NOT_OPEN);
        }
        std::shared_ptr<Handle> closing;
        {
            std::lock_guard lock(context->mutex);
            auto it = context->handles.find(handle);
            if (it != context->handles.end()) {
                closing = it->second;
                context->handles.erase(it);
            }
        }
        if (!closing) {
            context->log.Record("ZvIAPI_302", "", ZV_ERR_INVALID_HANDLE, {{"handle", handle}});
            return static_cast<int32_t>(ZV_ERR_INVALID_HANDLE);
        }
        {
            std::lock_guard lock(closing->camera->mutex);
            closing->access.reset();
        }
        context->log.Record("ZvIAPI_302", closing->camera->description.deviceId, ZV_OK, {{"handle", handle}});
        return static_cast<int32_t>(ZV_OK);
    });
}

ZV_EXPORT int32_t ZvIAPI_412(uint32_t handle, uint32_t featureId, int64_t value) {
    return Guard([&] {
        return OnCamera(
            "ZvIAPI_412", handle, {{"feature", HexString(featureId)}, {"value", value}},
            [&](SdkContext&, Handle& h) -> int32_t {
                if (FaultHits(h, 412)) {
                    return ZV_ERR_NO_RESPONSE;
                }
                if (featureId == kFeatureUserSetSelector) {
                    if (value < 0 || value >= kUserSetCount) {
                        return ZV_ERR_OUT_OF_RANGE;
                    }
                    h.camera->store.Modify([&](CameraState& s) { s.selector = static_cast<int32_t>(value); });
                    return ZV_OK;
                }
                if (h.camera->store.Read().live.count(featureId) == 0) {
                    return ZV_ERR_FEATURE_NOT_AVAILABLE;
                }
                h.camera->store.Modify([&](CameraState& s) { s.live[featureId] = value; });
                return ZV_OK;
            });
    });
}

ZV_EXPORT int32_t ZvIAPI_421(uint32_t handle, uint32_t featureId) {
    return Guard([&] {
        return OnCamera("ZvIAPI_421", handle, {{"feature", HexString(featureId)}},
                        [&](SdkContext&, Handle& h) -> int32_t {
                            if (FaultHits(h, 421)) {
                                return ZV_ERR_NO_RESPONSE;
                            }
                            if (featureId != kFeatureUserSetSave && featureId != kFeatureUserSetLoad) {
                                return ZV_ERR_FEATURE_NOT_AVAILABLE;
                            }
                            h.camera->store.Modify([&](CameraState& s) {
                                ParameterSet& set = s.sets[static_cast<size_t>(s.selector)];
                                if (featureId == kFeatureUserSetSave) {
                                    set = s.live;
                                } else {
                                    s.live = set;
                                }
                            });
                            return ZV_OK;
                        });
    });
}

ZV_EXPORT int32_t ZvIAPI_700(uint32_t handle, const char* path) {
    return Guard([&] {
        const std::string file = path != nullptr ? path : "";
        return OnCamera("ZvIAPI_700", handle, {{"path", file}}, [&](SdkContext&, Handle& h) -> int32_t {
            if (FaultHits(h, 700)) {
                return ZV_ERR_NO_RESPONSE;
            }
            if (file.empty()) {
                return ZV_ERR_INVALID_PARAMETER;
            }
            const CameraDescription& d = h.camera->description;
            const CameraState state = h.camera->store.Read();
            json features = json::object();
            for (const auto& [feature, value] : state.sets[static_cast<size_t>(state.selector)]) {
                features[HexString(feature)] = value;
            }
            const json document{{"format", kFileFormat}, {"version", 1},       {"vendor", d.vendor},
                                {"model", d.model},      {"serial", d.serial}, {"user_set", state.selector},
                                {"features", features}};
            const std::string text = document.dump(2) + "\n";
            try {
                WriteFileAtomically(file, text.data(), text.size());
            } catch (const StateError&) {
                return ZV_ERR_FILE;
            }
            return ZV_OK;
        });
    });
}

ZV_EXPORT int32_t ZvIAPI_701(uint32_t handle, const char* path, uint32_t one) {
    return Guard([&] {
        const std::string file = path != nullptr ? path : "";
        return OnCamera("ZvIAPI_701", handle, {{"path", file}, {"one", one}}, [&](SdkContext&, Handle& h) -> int32_t {
            h.importing = true;
            if (FaultHits(h, 701)) {
                return ZV_ERR_NO_RESPONSE;
            }
            if (file.empty() || one != 1) {
                return ZV_ERR_INVALID_PARAMETER;
            }
            std::optional<std::vector<uint8_t>> bytes;
            try {
                bytes = ReadWholeFile(file);
            } catch (const StateError&) {
                return ZV_ERR_FILE;
            }
            if (!bytes) {
                return ZV_ERR_FILE;
            }
            json document;
            try {
                document = json::parse(bytes->begin(), bytes->end());
                if (document.at("format").get<std::string>() != kFileFormat) {
                    return ZV_ERR_FILE;
                }
            } catch (const std::exception&) {
                return ZV_ERR_FILE;
            }
            const CameraDescription& d = h.camera->description;
            int64_t set = 0;
            ParameterSet features;
            try {
                if (document.at("model").get<std::string>() != d.model) {
                    return ZV_ERR_FILE_MISMATCH;
                }
                set = document.at("user_set").get<int64_t>();
                const json& values = document.at("features");
                for (auto it = values.begin(); it != values.end(); ++it) {
                    features[static_cast<uint32_t>(std::stoul(it.key(), nullptr, 16))] = it.value().get<int64_t>();
                }
            } catch (const std::exception&) {
                return ZV_ERR_FILE;
            }
            if (set < 0 || set >= kUserSetCount) {
                return ZV_ERR_FILE;
            }
            h.camera->store.Modify([&](CameraState& s) {
                ParameterSet& target = s.sets[static_cast<size_t>(set)];
                for (const auto& [feature, value] : features) {
                    if (target.count(feature) != 0) {  // features this firmware no longer has are dropped
                        target[feature] = value;
                    }
                }
            });
            return ZV_OK;
        });
    });
}
