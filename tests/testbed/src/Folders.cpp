#include "testbed/Folders.h"

#include <fstream>
#include <random>
#include <stdexcept>
#include <vector>

#include "platform/System.h"
#include "testbed/Files.h"

namespace fs = std::filesystem;

namespace testbed {

namespace {

// Removes what it can, trying each entry once. The Windows C++ library's
// fs::remove_all tries a file again and again while an open handle keeps it
// from going, so a test whose library leaked a handle would never end instead
// of failing.
void RemoveTree(const fs::path& folder) {
    std::vector<fs::path> entries;
    std::error_code listing;
    for (fs::directory_iterator it(folder, listing), end; !listing && it != end; it.increment(listing))
        entries.push_back(it->path());
    std::error_code ignored;
    for (const fs::path& entry : entries) {
        if (fs::is_directory(fs::symlink_status(entry, ignored)))
            RemoveTree(entry);
        else
            fs::remove(entry, ignored);
    }
    fs::remove(folder, ignored);
}

}  // namespace

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
    RemoveTree(m_path);
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
    RemoveTree(folder);
}

fs::path IsolatedFolders::ProgramTempFolder() const { return system::ProgramTempFolder(RuntimeFolder(), BinDir()); }

}  // namespace testbed
