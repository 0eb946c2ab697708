// Programs run as real processes: arguments passed as they are (no shell),
// standard output and error captured apart, a changed environment, a bound on
// the time, and a handle for a process the test signals or kills mid-run.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testbed {

struct ProcessOptions {
    // Changes to the test's own environment: a value sets, nothing removes.
    std::vector<std::pair<std::string, std::optional<std::string>>> environment;
    // Written to standard input, which is then closed (standard input is
    // always a pipe, never the test's terminal).
    std::string input;
    // The process is killed when it runs longer; timedOut then says so.
    std::chrono::milliseconds timeout = std::chrono::minutes(2);
    // Empty: the test's working folder.
    std::filesystem::path workingDirectory;
    // Standard error goes to the same pipe as standard output (as `2>&1`),
    // so out holds both in the order they were written.
    bool errorIntoOutput = false;
};

// What ProcessResult::signal holds for a process ended by ChildProcess::Kill:
// SIGKILL's number on Linux, and the same number for a Windows process ended
// with TerminateProcess.
inline constexpr int kKilledSignal = 9;

struct ProcessResult {
    int exitCode = -1;  // -1 when the process did not exit normally
    int signal = 0;     // the signal that ended it, else 0
    bool timedOut = false;
    std::string out;
    std::string err;
    // Why the process could not be started, else empty.
    std::string startError;

    bool Exited() const { return signal == 0 && exitCode >= 0; }
};

// A process running while the test goes on. Destroying it kills the process
// if it still runs and waits for it, so no test leaves one behind.
class ChildProcess {
public:
    // program: a path, or a bare name looked up on PATH.
    ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                 const ProcessOptions& options = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const;
    long Id() const;
    // Closes the test's end of standard output, as a reader that stops early
    // does (`| head -1`): the process's later writes find no reader.
    void CloseOutput();
    // Sends a signal (SIGINT, SIGQUIT, SIGTERM, SIGKILL, ...); false when it
    // could not be sent.
    bool Signal(int signal);
    // Ends the process at once, as a power loss would (SIGKILL; TerminateProcess
    // on Windows); false when it could not be done.
    bool Kill();
    // Asks the process to quit as the terminal's quit key does (SIGQUIT).
    bool RequestQuit();
    // False where no quit request can be sent to another process: a Windows
    // console's Ctrl-Break reaches only processes of the sender's own console.
    static bool CanRequestQuit();
    // Standard error written so far (read without waiting), for messages of a
    // test that is still waiting for the process.
    std::string ErrorSoFar();
    // Reads both outputs to their end and waits for the process, killing it
    // once the timeout has passed. Later calls return the same result.
    const ProcessResult& Wait();

    struct State;

private:
    std::unique_ptr<State> m_state;
};

// True where the program's debugger output is its standard error (Linux), so
// a test can read it; a Windows program hands it to the debugger instead.
bool DebuggerOutputGoesToStandardError();

// The files, folders and pipes this process holds open now, to find what a
// library leaks: its descriptors on Linux, its handles of file objects on
// Windows (threads, events and the like are no descriptors on Linux either).
std::size_t OpenFileCount();

// Runs a program to its end.
ProcessResult RunProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                         const ProcessOptions& options = {});

// Splits a command line at blanks; single or double quotes keep blanks in an
// argument ("history --since '2026-01-01 10:00'").
std::vector<std::string> SplitArguments(std::string_view commandLine);

// The built flashwright-cli with the arguments of a command line.
ProcessResult RunCli(std::string_view commandLine, const ProcessOptions& options = {});

}  // namespace testbed
