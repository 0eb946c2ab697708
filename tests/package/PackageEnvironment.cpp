#include "PackageEnvironment.h"

#include "package/PackageConfig.h"
#include "package/TempFiles.h"
#include "support/Platform.h"

std::filesystem::path PackageEnvironment::TempDir() const {
    return platform::FileSystemPath(package::GetTempDirectoryPath());
}

void PackageEnvironment::SetUp() {
    m_environment.Set("XDG_RUNTIME_DIR", m_runtime.Path().string());
    package::SetPackageConfigPath(L"");
    // Where the folder's place is fixed (Windows), an earlier test's folder goes first.
    package::RemoveTempDirectory();
}

void PackageEnvironment::TearDown() {
    package::SetPackageConfigPath(L"");
    package::RemoveTempDirectory();
}
