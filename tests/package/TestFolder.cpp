#include "TestFolder.h"

#include "package/PackageConfig.h"
#include "package/TempFiles.h"
#include "support/Platform.h"

std::filesystem::path PackageEnvironment::TempDir() const {
    return platform::FileSystemPath(package::GetTempDirectoryPath());
}

void PackageEnvironment::SetUp() {
    const auto saved = platform::GetEnvironmentVariable(L"XDG_RUNTIME_DIR");
    m_hadRuntimeDir = saved.has_value();
    if (saved) m_savedRuntimeDir = *saved;
    platform::SetEnvironmentVariable(L"XDG_RUNTIME_DIR", m_runtime.Path().wstring());
    package::SetPackageConfigPath(L"");
    // Where the folder's place is fixed (Windows), an earlier test's folder goes first.
    package::RemoveTempDirectory();
}

void PackageEnvironment::TearDown() {
    package::SetPackageConfigPath(L"");
    package::RemoveTempDirectory();
    if (m_hadRuntimeDir)
        platform::SetEnvironmentVariable(L"XDG_RUNTIME_DIR", m_savedRuntimeDir);
    else
        platform::UnsetEnvironmentVariable(L"XDG_RUNTIME_DIR");
}
