// Child processes through CreateProcessW. Anonymous pipes have no waiting on
// several at once, so Wait polls them with PeekNamedPipe: a process that fills
// one pipe never blocks while the test waits on the other.
#include "testbed/Process.h"

#include "WindowsText.h"

#include <windows.h>

#include <csignal>
#include <cwchar>
#include <map>
#include <thread>

namespace testbed {

using system::Wide;

namespace {

// What the test bed reports for a process it ended itself (Windows has no signals).
constexpr int kKilled = kKilledSignal;

// A handle closed when the object goes.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE handle) : m_handle(handle) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            Close();
            m_handle = other.m_handle;
            other.m_handle = nullptr;
        }
        return *this;
    }
    HANDLE Get() const { return m_handle; }
    bool IsOpen() const { return m_handle != nullptr; }
    void Close() {
        if (m_handle != nullptr) ::CloseHandle(m_handle);
        m_handle = nullptr;
    }

private:
    HANDLE m_handle = nullptr;
};

struct Pipe {
    Handle read;
    Handle write;
    // The child's end is inherited, the test's end is not.
    bool Open(bool childReads) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE r = nullptr, w = nullptr;
        if (!::CreatePipe(&r, &w, &inherit, 1 << 20)) return false;
        read = Handle(r);
        write = Handle(w);
        return ::SetHandleInformation(childReads ? w : r, HANDLE_FLAG_INHERIT, 0) != 0;
    }
};

// One argument as the C runtime's command-line parser reads it back.
void AppendQuoted(std::wstring& line, const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line += L'"';
    for (auto it = argument.begin();; ++it) {
        std::size_t backslashes = 0;
        while (it != argument.end() && *it == L'\\') {
            ++it;
            ++backslashes;
        }
        if (it == argument.end()) {
            line.append(backslashes * 2, L'\\');
            break;
        }
        if (*it == L'"') {
            line.append(backslashes * 2 + 1, L'\\');
        } else {
            line.append(backslashes, L'\\');
        }
        line += *it;
    }
    line += L'"';
}

// Names compare without regard to case, as Windows does.
struct NoCase {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                      TRUE) == CSTR_LESS_THAN;
    }
};

// The test's environment with the options' changes, as a sorted block.
std::wstring ChildEnvironment(const ProcessOptions& options) {
    std::map<std::wstring, std::wstring, NoCase> variables;
    std::vector<std::wstring> driveFolders;  // "=C:=C:\..." entries stay first, as they were
    wchar_t* block = ::GetEnvironmentStringsW();
    for (const wchar_t* entry = block; entry != nullptr && *entry != L'\0'; entry += std::wcslen(entry) + 1) {
        const wchar_t* equals = std::wcschr(entry + 1, L'=');
        if (entry[0] == L'=' || equals == nullptr) {
            driveFolders.emplace_back(entry);
            continue;
        }
        variables[std::wstring(entry, static_cast<std::size_t>(equals - entry))] = equals + 1;
    }
    if (block != nullptr) ::FreeEnvironmentStringsW(block);
    for (const auto& [name, value] : options.environment) {
        if (value)
            variables[Wide(name)] = Wide(*value);
        else
            variables.erase(Wide(name));
    }
    std::wstring text;
    for (const std::wstring& entry : driveFolders) text += entry + L'\0';
    for (const auto& [name, value] : variables) text += name + L'=' + value + L'\0';
    text += L'\0';
    return text;
}

// Appends what the pipe has now without waiting; false at its end (or on an error).
bool ReadAvailable(HANDLE pipe, std::string& into) {
    DWORD available = 0;
    if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
    while (available > 0) {
        char buffer[8192];
        DWORD got = 0;
        if (!::ReadFile(pipe, buffer, available < sizeof buffer ? available : sizeof buffer, &got, nullptr))
            return false;
        into.append(buffer, got);
        available -= got;
    }
    return true;
}

// "\r\n" becomes "\n"; a lone CR stays.
std::string WithoutCarriageReturns(const std::string& text) {
    std::string lines;
    lines.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lines += text[i];
    return lines;
}

}  // namespace

struct ChildProcess::State {
    Handle process;
    DWORD id = 0;
    Handle input;
    Handle output;
    Handle error;
    std::string pendingInput;
    std::chrono::steady_clock::time_point deadline;
    bool killed = false;
    bool waited = false;
    ProcessResult result;
};

ChildProcess::ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                           const ProcessOptions& options)
    : m_state(std::make_unique<State>()) {
    State& s = *m_state;
    s.deadline = std::chrono::steady_clock::now() + options.timeout;
    s.pendingInput = options.input;
    Pipe in, out, err;
    if (!in.Open(true) || !out.Open(false) || !err.Open(false)) {
        s.result.startError = "CreatePipe failed";
        s.waited = true;
        return;
    }
    std::wstring commandLine;
    AppendQuoted(commandLine, program.wstring());
    for (const std::string& argument : arguments) {
        commandLine += L' ';
        AppendQuoted(commandLine, Wide(argument));
    }
    std::wstring environment = ChildEnvironment(options);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in.read.Get();
    startup.hStdOutput = out.write.Get();
    startup.hStdError = options.errorIntoOutput ? out.write.Get() : err.write.Get();
    PROCESS_INFORMATION info{};
    // A bare name is looked up on PATH by CreateProcessW itself (no application name given).
    const std::wstring folder = options.workingDirectory.wstring();
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                          CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, environment.data(),
                          folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
        const DWORD failure = ::GetLastError();
        s.result.startError = program.string() + ": CreateProcessW failed with error " + std::to_string(failure);
        s.waited = true;
        return;
    }
    ::CloseHandle(info.hThread);
    s.process = Handle(info.hProcess);
    s.id = info.dwProcessId;
    s.input = std::move(in.write);
    s.output = std::move(out.read);
    s.error = std::move(err.read);
    // The pipe holds a megabyte, far more than any test writes, so one write never waits for the child.
    if (!s.pendingInput.empty()) {
        DWORD written = 0;
        ::WriteFile(s.input.Get(), s.pendingInput.data(), static_cast<DWORD>(s.pendingInput.size()), &written, nullptr);
    }
    s.input.Close();
}

ChildProcess::~ChildProcess() {
    if (m_state->process.IsOpen() && !m_state->waited) {
        Signal(kKilled);
        Wait();
    }
}

bool ChildProcess::Started() const { return m_state->process.IsOpen(); }

long ChildProcess::Id() const { return static_cast<long>(m_state->id); }

void ChildProcess::CloseOutput() { m_state->output.Close(); }

// Windows has no signals to send to another process; ending it is what can be done.
bool ChildProcess::Signal(int signal) {
    State& s = *m_state;
    if (!s.process.IsOpen() || s.waited || signal != kKilled) return false;
    if (!::TerminateProcess(s.process.Get(), 1)) return false;
    s.killed = true;
    return true;
}

bool ChildProcess::Kill() { return Signal(kKilled); }

bool ChildProcess::RequestQuit() { return false; }

bool ChildProcess::CanRequestQuit() { return false; }

std::string ChildProcess::ErrorSoFar() {
    if (m_state->error.IsOpen() && !ReadAvailable(m_state->error.Get(), m_state->result.err)) m_state->error.Close();
    return m_state->result.err;
}

const ProcessResult& ChildProcess::Wait() {
    State& s = *m_state;
    if (s.waited) return s.result;
    bool timedOut = false;
    for (;;) {
        const bool ended = ::WaitForSingleObject(s.process.Get(), 0) == WAIT_OBJECT_0;
        const std::size_t before = s.result.out.size() + s.result.err.size();
        if (s.output.IsOpen() && !ReadAvailable(s.output.Get(), s.result.out)) s.output.Close();
        if (s.error.IsOpen() && !ReadAvailable(s.error.Get(), s.result.err)) s.error.Close();
        if (!s.output.IsOpen() && !s.error.IsOpen()) break;
        // After the process ended, what it wrote is read to the last byte; a
        // grandchild holding the pipes open must not keep the test waiting.
        if (ended && s.result.out.size() + s.result.err.size() == before) break;
        if (!timedOut && std::chrono::steady_clock::now() >= s.deadline) {
            ::TerminateProcess(s.process.Get(), 1);
            s.killed = true;
            timedOut = true;
        }
        if (s.result.out.size() + s.result.err.size() == before) ::WaitForSingleObject(s.process.Get(), 2);
    }
    s.output.Close();
    s.error.Close();
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(s.deadline - std::chrono::steady_clock::now());
    if (::WaitForSingleObject(s.process.Get(), left.count() > 0 ? static_cast<DWORD>(left.count()) : 0) !=
        WAIT_OBJECT_0) {
        ::TerminateProcess(s.process.Get(), 1);
        s.killed = true;
        timedOut = true;
        ::WaitForSingleObject(s.process.Get(), INFINITE);
    }
    DWORD exitCode = 0;
    ::GetExitCodeProcess(s.process.Get(), &exitCode);
    if (s.killed) {
        s.result.signal = kKilled;
    } else {
        s.result.exitCode = static_cast<int>(exitCode);
    }
    s.result.timedOut = timedOut;
    // Console programs end their text lines with CR LF; tests compare lines.
    s.result.out = WithoutCarriageReturns(s.result.out);
    s.result.err = WithoutCarriageReturns(s.result.err);
    s.waited = true;
    return s.result;
}

bool DebuggerOutputGoesToStandardError() { return false; }

}  // namespace testbed
