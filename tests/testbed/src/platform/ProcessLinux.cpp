// Child processes through posix_spawn; both outputs are read with poll so a
// process that fills one pipe never blocks while the test waits on the other.
#include "testbed/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

extern char** environ;

namespace testbed {

namespace {

// A file descriptor closed when the object goes.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() { Close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            Close();
            m_fd = other.m_fd;
            other.m_fd = -1;
        }
        return *this;
    }
    int Get() const { return m_fd; }
    void Close() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

struct Pipe {
    Descriptor read;
    Descriptor write;
    bool Open() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return false;
        read = Descriptor(fds[0]);
        write = Descriptor(fds[1]);
        return true;
    }
};

// The test's environment with the options' changes, as "name=value" texts.
std::vector<std::string> ChildEnvironment(const ProcessOptions& options) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (equals == nullptr) continue;
        variables[std::string(*entry, static_cast<std::size_t>(equals - *entry))] = equals + 1;
    }
    for (const auto& [name, value] : options.environment) {
        if (value)
            variables[name] = *value;
        else
            variables.erase(name);
    }
    std::vector<std::string> texts;
    for (const auto& [name, value] : variables) texts.push_back(name + "=" + value);
    return texts;
}

// Appends what the descriptor has; false at its end (or on an error).
bool ReadSome(int fd, std::string& into) {
    char buffer[8192];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
        into.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    return n < 0 && (errno == EAGAIN || errno == EINTR);
}

}  // namespace

struct ChildProcess::State {
    pid_t pid = -1;
    Descriptor input;
    Descriptor output;
    Descriptor error;
    std::string pendingInput;
    std::size_t inputWritten = 0;
    std::chrono::steady_clock::time_point deadline;
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
    if (!in.Open() || !out.Open() || !err.Open()) {
        s.result.startError = std::string("pipe: ") + std::strerror(errno);
        s.waited = true;
        return;
    }
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, in.read.Get(), STDIN_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions, out.write.Get(), STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions, options.errorIntoOutput ? out.write.Get() : err.write.Get(),
                                       STDERR_FILENO);
    if (!options.workingDirectory.empty())
        ::posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());
    // The child starts with the default signal handling, whatever the test changed.
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const std::string programText = program.string();
    std::vector<std::string> argumentTexts{programText};
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : argumentTexts) argv.push_back(text.data());
    argv.push_back(nullptr);
    std::vector<std::string> environmentTexts = ChildEnvironment(options);
    std::vector<char*> envp;
    for (std::string& text : environmentTexts) envp.push_back(text.data());
    envp.push_back(nullptr);

    // A bare name is looked up on PATH, a path is taken as it is.
    const bool bareName = programText.find('/') == std::string::npos;
    const int failed =
        bareName ? ::posix_spawnp(&s.pid, programText.c_str(), &actions, &attributes, argv.data(), envp.data())
                 : ::posix_spawn(&s.pid, programText.c_str(), &actions, &attributes, argv.data(), envp.data());
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (failed != 0) {
        s.pid = -1;
        s.result.startError = programText + ": " + std::strerror(failed);
        s.waited = true;
        return;
    }
    s.input = std::move(in.write);
    s.output = std::move(out.read);
    s.error = std::move(err.read);
    for (const Descriptor* fd : {&s.input, &s.output, &s.error})
        ::fcntl(fd->Get(), F_SETFL, ::fcntl(fd->Get(), F_GETFL) | O_NONBLOCK);
    if (s.pendingInput.empty()) {
        s.input.Close();
    } else {
        // A process that ends without reading its input must not end the test with SIGPIPE.
        static std::once_flag ignorePipeSignal;
        std::call_once(ignorePipeSignal, [] { ::signal(SIGPIPE, SIG_IGN); });
    }
}

ChildProcess::~ChildProcess() {
    if (m_state->pid > 0 && !m_state->waited) {
        ::kill(m_state->pid, SIGKILL);
        Wait();
    }
}

bool ChildProcess::Started() const { return m_state->pid > 0; }

long ChildProcess::Id() const { return static_cast<long>(m_state->pid); }

void ChildProcess::CloseOutput() { m_state->output.Close(); }

bool ChildProcess::Signal(int signal) {
    return m_state->pid > 0 && !m_state->waited && ::kill(m_state->pid, signal) == 0;
}

bool ChildProcess::Kill() { return Signal(SIGKILL); }

bool ChildProcess::RequestQuit() { return Signal(SIGQUIT); }

bool ChildProcess::CanRequestQuit() { return true; }

std::string ChildProcess::ErrorSoFar() {
    // Non-blocking: stops at what is there now; the end of the pipe is left to Wait.
    char buffer[8192];
    ssize_t n = 0;
    while (m_state->error.Get() >= 0 && (n = ::read(m_state->error.Get(), buffer, sizeof buffer)) > 0)
        m_state->result.err.append(buffer, static_cast<std::size_t>(n));
    return m_state->result.err;
}

const ProcessResult& ChildProcess::Wait() {
    State& s = *m_state;
    if (s.waited) return s.result;
    bool killed = false;
    while (s.input.Get() >= 0 || s.output.Get() >= 0 || s.error.Get() >= 0) {
        pollfd fds[3];
        nfds_t count = 0;
        if (s.input.Get() >= 0) fds[count++] = {s.input.Get(), POLLOUT, 0};
        if (s.output.Get() >= 0) fds[count++] = {s.output.Get(), POLLIN, 0};
        if (s.error.Get() >= 0) fds[count++] = {s.error.Get(), POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(s.deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 && !killed) {
            ::kill(s.pid, SIGKILL);
            killed = true;
            s.result.timedOut = true;
        }
        // Once killed, only what is left in the pipes is read; a grandchild
        // holding them open must not keep the test waiting.
        const int timeout = killed ? 200 : static_cast<int>(std::min<long long>(left.count(), 1000));
        const int ready = ::poll(fds, count, timeout);
        if (ready < 0 && errno != EINTR) break;
        if (ready == 0 && killed) break;
        for (nfds_t i = 0; i < count; ++i) {
            if (fds[i].revents == 0) continue;
            if (fds[i].fd == s.input.Get()) {
                const ssize_t n = ::write(s.input.Get(), s.pendingInput.data() + s.inputWritten,
                                          s.pendingInput.size() - s.inputWritten);
                if (n > 0) s.inputWritten += static_cast<std::size_t>(n);
                if ((n < 0 && errno != EAGAIN && errno != EINTR) || s.inputWritten == s.pendingInput.size())
                    s.input.Close();
            } else if (fds[i].fd == s.output.Get()) {
                if (!ReadSome(s.output.Get(), s.result.out)) s.output.Close();
            } else if (fds[i].fd == s.error.Get()) {
                if (!ReadSome(s.error.Get(), s.result.err)) s.error.Close();
            }
        }
    }
    s.input.Close();
    s.output.Close();
    s.error.Close();
    // The pipes may close before the process ends (it closed them itself).
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(s.pid, &status, killed ? 0 : WNOHANG);
        if (done == s.pid) break;
        if (done < 0 && errno != EINTR) break;
        if (done == 0) {
            if (std::chrono::steady_clock::now() >= s.deadline) {
                ::kill(s.pid, SIGKILL);
                killed = true;
                s.result.timedOut = true;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
    }
    if (WIFEXITED(status)) s.result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) s.result.signal = WTERMSIG(status);
    s.waited = true;
    return s.result;
}

bool DebuggerOutputGoesToStandardError() { return true; }

}  // namespace testbed
