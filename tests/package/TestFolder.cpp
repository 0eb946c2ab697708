#include "TestFolder.h"

#include "package/PackageConfig.h"

void PackageEnvironment::SetUp() {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    m_hadRuntimeDir = saved != nullptr;
    if (saved != nullptr) m_savedRuntimeDir = saved;
    ::setenv("XDG_RUNTIME_DIR", m_runtime.Path().c_str(), 1);
    package::SetPackageConfigPath(L"");
}

void PackageEnvironment::TearDown() {
    package::SetPackageConfigPath(L"");
    if (m_hadRuntimeDir) ::setenv("XDG_RUNTIME_DIR", m_savedRuntimeDir.c_str(), 1);
    else ::unsetenv("XDG_RUNTIME_DIR");
}
