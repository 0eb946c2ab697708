#include "testbed/Folders.h"

#include <fstream>
#include <random>
#include <stdexcept>

#include "platform/System.h"
#include "testbed/Files.h"

namespace fs = std::filesystem;

namespace testbed {

TempFolder::TempFolder(const std::string& prefix) : m_owner(system::CurrentProcessId()) {
    // Creating the folder is the test for a free name, so two tests never share one.
    std::random_device random;
    std::error_code error;
    const fs::path parent = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
        const fs::path candidate = parent / (prefix + "-" + std::to_string(random()) + std::to_string(random()));
        if (fs::create_directory(candidate, error)) m_path = candidate;
    }
    if (m_path.empty()) throw std::runtime_error("no test folder could be made in " + parent.string());
}

TempFolder::~TempFolder() {
    if (system::CurrentProcessId() != m_owner) return;
    std::error_code ignored;
    // A test may have taken the rights away to provoke a failure.
    for (auto it = fs::recursive_directory_iterator(m_path, fs::directory_options::skip_permission_denied, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(m_path, ignored);
}

fs::path TempFolder::Write(const std::string& name, const std::string& bytes) const {
    const fs::path file = m_path / name;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
}

IsolatedFolders::IsolatedFolders() {
    fs::create_directories(RuntimeFolder());
    // As a login session's runtime folder is: the program refuses to put its
    // temporary folder into one that others may change.
    fs::permissions(RuntimeFolder(), fs::perms::owner_all, fs::perm_options::replace);
    fs::create_directories(StateHome());
    fs::create_directories(TmpFolder());
    for (const auto& [name, folder] : system::PrivateFolderVariables(RuntimeFolder(), StateHome(), TmpFolder()))
        m_environment.Set(name, folder.string());
    RemoveFixedProgramTempFolder();
}

IsolatedFolders::~IsolatedFolders() { RemoveFixedProgramTempFolder(); }

// Where the program's temporary folder has a fixed place (the root of its drive
// on Windows) instead of one under the private folders, each test starts and
// ends without it, so no test sees another's files.
void IsolatedFolders::RemoveFixedProgramTempFolder() const {
    const fs::path folder = ProgramTempFolder();
    const fs::path relative = folder.lexically_relative(Root());
    if (!relative.empty() && *relative.begin() != "..") return;  // inside the private folders
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

fs::path IsolatedFolders::ProgramTempFolder() const { return system::ProgramTempFolder(RuntimeFolder(), BinDir()); }

}  // namespace testbed
