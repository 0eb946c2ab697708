// Private folders for tests: a fresh folder removed at the end, and the set
// of folders one test (and every process it starts) uses instead of the
// user's own.
#pragma once

#include <filesystem>
#include <string>

#include "testbed/Environment.h"

namespace testbed {

// A new, empty folder under the current temporary folder; removed with all it
// holds when the object goes, also when a test made parts of it read-only.
// Only the process that made it removes it (a forked child ending early leaves
// its parent's folder alone).
class TempFolder {
public:
    explicit TempFolder(const std::string& prefix = "flashwright-test");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    // Writes bytes to a file of the folder and returns its path.
    std::filesystem::path Write(const std::string& name, const std::string& bytes) const;

private:
    std::filesystem::path m_path;
    long m_owner = 0;
};

// The folders a test runs in, named through the environment for as long as
// the object lives:
//   XDG_RUNTIME_DIR  <root>/runtime   (mode 0700; the program's temporary folder goes here)
//   XDG_STATE_HOME   <root>/xdg-state (parameter backups, history, unfinished-run record)
//   TMPDIR           <root>/tmp       (temporary files of the test and of its processes)
// On Windows LOCALAPPDATA is <root>/xdg-state and TEMP and TMP are <root>/tmp.
// Everything under <root> is removed at the end.
class IsolatedFolders {
public:
    IsolatedFolders();
    virtual ~IsolatedFolders();
    IsolatedFolders(const IsolatedFolders&) = delete;
    IsolatedFolders& operator=(const IsolatedFolders&) = delete;

    const std::filesystem::path& Root() const { return m_root.Path(); }
    std::filesystem::path RuntimeFolder() const { return Root() / "runtime"; }
    std::filesystem::path StateHome() const { return Root() / "xdg-state"; }
    std::filesystem::path TmpFolder() const { return Root() / "tmp"; }

    // What the program keeps under these folders (on Windows the temporary
    // folder is at the root of the program's drive instead).
    std::filesystem::path ProgramTempFolder() const;
    std::filesystem::path ProgramStateFolder() const { return StateHome() / "flashwright"; }
    std::filesystem::path BackupFolder() const { return ProgramStateFolder() / "parameter-backups"; }
    std::filesystem::path UnfinishedRunRecord() const { return ProgramStateFolder() / "unfinished-run.json"; }

protected:
    ScopedEnvironment& Environment() { return m_environment; }

private:
    void RemoveFixedProgramTempFolder() const;

    TempFolder m_root;
    ScopedEnvironment m_environment;
};

}  // namespace testbed
