#include "CliProcess.h"

#include <CLI/CLI.hpp>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <iostream>
#include <memory>

#include "package/TempFiles.h"
#include "run/AppText.h"
#include "run/CameraSession.h"
#include "sdk/UnfinishedRun.h"
#include "support/Platform.h"

namespace {

std::unique_ptr<platform::InstanceLock> g_lock;
std::unique_ptr<platform::StopRequestHandler> g_stopHandler;
std::atomic<int> g_stopSignal{0};
std::atomic<bool> g_refusing{false};

void OnStopRequest(int signalNumber) {
    const int savedErrno = errno;
    g_stopSignal.store(signalNumber);
    if (g_refusing.load()) {
        static const char kText[] = "Upgrading is proceeding, please close later!\n";
        platform::WriteToStandardErrorRaw(kText, sizeof kText - 1);
    }
    errno = savedErrno;
}

}  // namespace

void HoldInstanceLock(const char* command) {
    if (g_lock) return;
    std::wstring refusal;
    g_lock = platform::InstanceLock::Acquire(L"flashwright-cli " + platform::AnsiToWide(command), refusal);
    if (!g_lock) {
        std::cerr << "flashwright-cli: " << platform::WideToAnsi(refusal) << '\n';
        throw CLI::RuntimeError(1);
    }
    g_stopHandler = std::make_unique<platform::StopRequestHandler>(&OnStopRequest);
    // The parameter commands load the camera SDK without a session.
    MirrorRuntimeVariables();
}

void StopIfRequested() {
    const int signalNumber = g_stopSignal.load();
    if (signalNumber == 0 || g_refusing.load()) return;
    std::cerr << "flashwright-cli: stopped (signal " << signalNumber << ")\n";
    throw CLI::RuntimeError(1);
}

CRefuseStops::CRefuseStops() { g_refusing.store(true); }
CRefuseStops::~CRefuseStops() { g_refusing.store(false); }

void NoticeUnfinishedRun() {
    std::vector<UnfinishedRunEntry> entries;
    std::wstring error;
    if (!ReadUnfinishedRun(entries, error)) {
        std::cerr << "flashwright-cli: " << platform::WideToAnsi(error) << '\n';
        return;
    }
    if (entries.empty()) return;
    std::string serials;
    for (const UnfinishedRunEntry& entry : entries)
        serials += (serials.empty() ? "" : ", ") + EscapeControls(entry.serial);
    std::cerr << "flashwright-cli: an earlier upgrade run did not restore the user parameters of " << entries.size()
              << " camera(s) (" << serials << "); the saved copies are listed in "
              << platform::WideToAnsi(UnfinishedRunRecordPath())
              << ". Restore them with: flashwright-cli params restore --unfinished\n";
}

void EndCliProcess() {
    if (!g_lock) return;
    package::RemoveTempDirectory();
    g_stopHandler.reset();
    g_lock.reset();
}

std::string EscapeControls(const std::string& text) {
    const std::wstring wide = platform::AnsiToWide(text);
    std::wstring out;
    for (const wchar_t c : wide) {
        if (c < 0x20 || c == 0x7F) {
            wchar_t escaped[8];
            std::swprintf(escaped, 8, L"\\x%02x", static_cast<unsigned>(c));
            out += escaped;
        } else if (c >= 0x80 && c < 0xA0) {
            wchar_t escaped[8];
            std::swprintf(escaped, 8, L"\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return platform::WideToAnsi(out);
}
