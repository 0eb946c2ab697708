#include "sdk/ZvIAPILibrary.h"

#include <string>

namespace zviapi {

template <typename Fn>
Fn CZvIAPILibrary::Resolve(int ordinal) const {
    const std::string name = "ZvIAPI_" + std::to_string(ordinal);
    return reinterpret_cast<Fn>(m_library.Ordinal(static_cast<unsigned int>(ordinal), name.c_str()));
}

bool CZvIAPILibrary::Load() {
    if (IsLoaded()) return true;
    const std::wstring fileName = LibraryFileName();
    const std::wstring besideProgram = m_folder + platform::PathSeparator() + fileName;
    std::wstring error;
    if (platform::IsRegularFile(besideProgram)) {
        if (!m_library.Load(besideProgram)) error = platform::AnsiToWide(m_library.LoadError());
    }
    if (!m_library.IsLoaded() && !m_library.Load(fileName)) {
        if (!error.empty()) error += L"; ";
        error += platform::AnsiToWide(m_library.LoadError());
        m_loadError = error;
        return false;
    }
    m_loadError.clear();
    m_openSdk = Resolve<OpenSdkFn>(100);
    m_closeSdk = Resolve<CloseSdkFn>(101);
    m_getDeviceCount = Resolve<GetDeviceCountFn>(200);
    m_getDeviceInfo = Resolve<GetDeviceInfoFn>(201);
    m_getErrorDescription = Resolve<GetErrorDescriptionFn>(204);
    m_openDevice = Resolve<OpenDeviceFn>(301);
    m_closeDevice = Resolve<CloseDeviceFn>(302);
    m_setInteger = Resolve<SetIntegerFn>(412);
    m_executeCommand = Resolve<ExecuteCommandFn>(421);
    m_saveUserParams = Resolve<SaveUserParamsFn>(700);
    m_loadUserParams = Resolve<LoadUserParamsFn>(701);
    return true;
}

void CZvIAPILibrary::Unload() { *this = CZvIAPILibrary(m_folder); }

std::int32_t CZvIAPILibrary::OpenSdk() const { return m_openSdk ? m_openSdk() : kMissingEntryPoint; }
std::int32_t CZvIAPILibrary::CloseSdk() const { return m_closeSdk ? m_closeSdk() : kMissingEntryPoint; }

std::int32_t CZvIAPILibrary::GetDeviceCount(std::uint32_t* count, std::uint32_t timeoutMs) const {
    return m_getDeviceCount ? m_getDeviceCount(count, timeoutMs) : kMissingEntryPoint;
}
std::int32_t CZvIAPILibrary::GetDeviceInfo(void* entries, std::uint32_t* size) const {
    return m_getDeviceInfo ? m_getDeviceInfo(entries, size) : kMissingEntryPoint;
}
std::int32_t CZvIAPILibrary::GetErrorDescription(std::int32_t* status, char* text, std::uint32_t* size) const {
    return m_getErrorDescription ? m_getErrorDescription(status, text, size) : kMissingEntryPoint;
}
std::int32_t CZvIAPILibrary::OpenDevice(const OpenRequest* request, std::uint32_t* handle) const {
    return m_openDevice ? m_openDevice(request, handle) : kMissingEntryPoint;
}
std::int32_t CZvIAPILibrary::CloseDevice(std::uint32_t handle) const {
    return m_closeDevice ? m_closeDevice(handle) : kMissingEntryPoint;
}
std::int32_t CZvIAPILibrary::SetInteger(std::uint32_t handle, std::uint32_t feature, std::int64_t value) const {
    return m_setInteger ? m_setInteger(handle, feature, value) : kMissingEntryPoint;
}
std::int32_t CZvIAPILibrary::ExecuteCommand(std::uint32_t handle, std::uint32_t feature) const {
    return m_executeCommand ? m_executeCommand(handle, feature) : kMissingEntryPoint;
}
std::int32_t CZvIAPILibrary::SaveUserParams(std::uint32_t handle, const char* path) const {
    return m_saveUserParams ? m_saveUserParams(handle, path) : kMissingEntryPoint;
}
std::int32_t CZvIAPILibrary::LoadUserParams(std::uint32_t handle, const char* path, std::uint32_t flag) const {
    return m_loadUserParams ? m_loadUserParams(handle, path, flag) : kMissingEntryPoint;
}

}  // namespace zviapi
