#include "dialog/SignalBridge.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <iterator>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
// The handlers the bridge replaced; one bridge exists at a time.
struct sigaction g_previous[std::size(kSignals)] = {};

// The write end is read by the handler, which may run on any thread.
std::atomic<int> g_writeEnd{-1};
int g_readEnd = -1;

}  // namespace

void CCloseSignalBridge::__OnSignal(int signalNumber) {
    const int savedErrno = errno;
    const int fd = g_writeEnd.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        // A full pipe already holds enough pending requests.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

CCloseSignalBridge::CCloseSignalBridge(QObject* parent) : QObject(parent) {
    if (g_writeEnd.load() >= 0) return;  // another bridge holds the signals
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    g_readEnd = fds[0];
    g_writeEnd.store(fds[1]);

    m_notifier = new QSocketNotifier(g_readEnd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &CCloseSignalBridge::__OnReadable);

    struct sigaction action = {};
    action.sa_handler = &CCloseSignalBridge::__OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &action, &g_previous[i]);
    m_installed = true;
}

CCloseSignalBridge::~CCloseSignalBridge() {
    if (!m_installed) return;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &g_previous[i], nullptr);
    delete m_notifier;
    const int writeEnd = g_writeEnd.exchange(-1);
    ::close(writeEnd);
    ::close(g_readEnd);
    g_readEnd = -1;
}

void CCloseSignalBridge::__OnReadable() {
    // Signals that arrived together are one request: the slot may open a
    // modal message, and one is enough.
    unsigned char bytes[64];
    int last = 0;
    for (;;) {
        const ssize_t count = ::read(g_readEnd, bytes, sizeof bytes);
        if (count <= 0) break;
        last = bytes[count - 1];
    }
    if (last != 0) emit CloseRequested(last);
}
