// The Windows platform layer against the system it stands on.
#include <gtest/gtest.h>

// The layer's header comes before <windows.h>, whose macros would rename its functions.
#include "support/Platform.h"
#include "support/Thread.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <atomic>
#include <chrono>
#include <cwchar>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#undef GetEnvironmentVariable
#undef SetEnvironmentVariable

using GenICam::Client::MakeThread;

namespace {

// A folder of its own under the system's temporary folder, removed afterwards.
class ScratchFolder {
public:
    ScratchFolder() {
        wchar_t base[MAX_PATH + 1] = {};
        ::GetTempPathW(MAX_PATH, base);
        m_path = std::wstring(base) + L"flashwright-platform-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                 std::to_wstring(::GetTickCount64());
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::path(m_path), ignored);
    }
    const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_path;
};

std::wstring CurrentUserSid() {
    HANDLE token = nullptr;
    ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token);
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::string buffer(size, '\0');
    ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
    ::CloseHandle(token);
    wchar_t* text = nullptr;
    ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text);
    std::wstring sid = text != nullptr ? text : L"";
    ::LocalFree(text);
    return sid;
}

// The folder's access list in the system's text form.
std::wstring AccessList(const std::wstring& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                                nullptr, &descriptor) != ERROR_SUCCESS)
        return L"<unreadable>";
    wchar_t* text = nullptr;
    ::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                           &text, nullptr);
    std::wstring sddl = text != nullptr ? text : L"";
    ::LocalFree(text);
    ::LocalFree(descriptor);
    return sddl;
}

}  // namespace

TEST(PlatformWindows, TextUsesTheThreadCodePageAndUtf8) {
    // UTF-16: characters beyond the basic plane are surrogate pairs and survive UTF-8 both ways.
    const std::wstring text = L"ORV-2C \u00B5m \u4E2D\u6587 \U0001F600";
    EXPECT_EQ(sizeof(wchar_t), 2u);
    EXPECT_EQ(platform::Utf8ToWide(platform::WideToUtf8(text)), text);
    EXPECT_EQ(platform::WideToUtf8(L"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(platform::Utf8ToWide("\xE4\xB8"), L"\uFFFD");
    EXPECT_EQ(platform::WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");

    // 8-bit text follows the thread's ANSI code page, as MultiByteToWideChar reads it.
    const std::string bytes = "Cam \xB5 \xE9";
    wchar_t expected[32] = {};
    const int length =
        ::MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), expected, 32);
    EXPECT_EQ(platform::AnsiToWide(bytes), std::wstring(expected, static_cast<std::size_t>(length)));
    EXPECT_EQ(platform::AnsiToWide("ORV-2C"), L"ORV-2C");
    EXPECT_EQ(platform::WideToAnsi(L"ORV-2C"), "ORV-2C");
    EXPECT_EQ(platform::AnsiToWide(""), L"");
}

TEST(PlatformWindows, EnvironmentNamesMatchWithoutCase) {
    ASSERT_TRUE(platform::SetEnvironmentVariable(L"FLASHWRIGHT_Test_Var", L"\u00E9t\u00E9"));
    EXPECT_EQ(platform::GetEnvironmentVariable(L"flashwright_test_var").value_or(L"-"), L"\u00E9t\u00E9");
    EXPECT_EQ(platform::FindEnvironmentVariableNoCase(L"FLASHWRIGHT_TEST_VAR").value_or(L"-"), L"\u00E9t\u00E9");
    EXPECT_FALSE(platform::FindEnvironmentVariableNoCase(L"FLASHWRIGHT_TEST_VA").has_value());
    ASSERT_TRUE(platform::SetEnvironmentVariable(L"FLASHWRIGHT_TEST_VAR", L""));
    EXPECT_EQ(platform::GetEnvironmentVariable(L"FLASHWRIGHT_TEST_VAR").value_or(L"-"), L"");
    ASSERT_TRUE(platform::UnsetEnvironmentVariable(L"FLASHWRIGHT_TEST_VAR"));
    EXPECT_FALSE(platform::GetEnvironmentVariable(L"FLASHWRIGHT_TEST_VAR").has_value());
}

TEST(PlatformWindows, OwnPathAndPathLists) {
    const std::wstring exe = platform::GetExecutablePath();
    EXPECT_EQ(exe.substr(1, 2), L":\\");
    EXPECT_TRUE(platform::IsRegularFile(exe));
    EXPECT_TRUE(platform::IsDirectory(platform::GetExecutableDirectory()));
    EXPECT_EQ(platform::GetExecutableStem(), L"support_tests");
    EXPECT_EQ(platform::PathSeparator(), L'\\');
    EXPECT_FALSE(platform::PathExists(exe + L".missing"));

    // Windows lists are split on ";" alone: a drive's ":" is part of the folder.
    using Pieces = std::vector<std::wstring>;
    EXPECT_EQ(platform::SplitPathList(L"C:\\GenTL;D:\\x64"), (Pieces{L"C:\\GenTL", L"D:\\x64"}));
    EXPECT_EQ(platform::SplitPathList(L"C:\\a;;C:\\b;"), (Pieces{L"C:\\a", L"", L"C:\\b", L""}));
    EXPECT_EQ(platform::SplitPathList(L""), Pieces{});
}

TEST(PlatformWindows, DynamicLibraryLoadsResolvesAndReportsFailure) {
    platform::DynamicLibrary missing;
    EXPECT_FALSE(missing.Load(L"C:\\nonexistent\\nothing.dll"));
    EXPECT_NE(missing.LoadError().find("nothing.dll"), std::string::npos) << missing.LoadError();
    EXPECT_EQ(missing.Symbol("anything"), nullptr);

    platform::DynamicLibrary kernel;
    ASSERT_TRUE(kernel.Load(L"kernel32.dll")) << kernel.LoadError();
    auto* tick = reinterpret_cast<ULONGLONG(WINAPI*)()>(kernel.Symbol("GetTickCount64"));
    ASSERT_NE(tick, nullptr);
    EXPECT_GT(tick(), 0u);
    EXPECT_EQ(kernel.Symbol("no_such_symbol_here"), nullptr);
    platform::DynamicLibrary moved = std::move(kernel);
    EXPECT_FALSE(kernel.IsLoaded());
    EXPECT_TRUE(moved.IsLoaded());
}

TEST(PlatformWindows, EntryPointsAreReachedByOrdinal) {
    EXPECT_EQ(platform::LibraryFileName(L"ZvIAPI"), L"ZvIAPI.dll");
    platform::DynamicLibrary library;
    const std::wstring path =
        platform::GetExecutableDirectory() + L"\\" + platform::LibraryFileName(L"ordinal_library");
    ASSERT_TRUE(library.Load(path)) << library.LoadError();
    auto* seven = reinterpret_cast<int (*)()>(library.Ordinal(7, "OrdinalSeven"));
    auto* twelve = reinterpret_cast<int (*)()>(library.Ordinal(412, "OrdinalTwelve"));
    ASSERT_NE(seven, nullptr);
    ASSERT_NE(twelve, nullptr);
    EXPECT_EQ(seven(), 7);
    EXPECT_EQ(twelve(), 12);
    // The names are not exported: only the numbers reach them.
    EXPECT_EQ(library.Symbol("OrdinalSeven"), nullptr);
    EXPECT_EQ(library.Ordinal(8, "OrdinalSeven"), nullptr);
}

TEST(PlatformWindows, PrivateFolderHasAnAccessListForTheUserAlone) {
    ScratchFolder scratch;
    ASSERT_TRUE(std::filesystem::create_directory(std::filesystem::path(scratch.Path())));
    const std::wstring folder = scratch.Path() + L"\\private";
    ASSERT_TRUE(platform::CreatePrivateDirectory(folder));
    EXPECT_FALSE(platform::CreatePrivateDirectory(folder));  // already there
    EXPECT_TRUE(platform::IsOwnDirectory(folder));
    // The user's full control, inherited by what is made inside; no entry for
    // anyone else (the system account aside, which Wine always reports).
    const std::wstring userEntry = L"(A;OICI;FA;;;" + CurrentUserSid() + L")";
    const auto OnlyTheUser = [&](const std::wstring& path) {
        std::wstring acl = AccessList(path);
        const std::size_t user = acl.find(userEntry);
        if (user == std::wstring::npos) return acl;
        acl.erase(user, userEntry.size());
        for (const wchar_t* system : {L"(A;OICI;FA;;;SY)"})
            if (const std::size_t at = acl.find(system); at != std::wstring::npos) acl.erase(at, std::wcslen(system));
        return acl.find(L'(') == std::wstring::npos ? std::wstring(L"only the user") : acl;
    };
    EXPECT_EQ(OnlyTheUser(folder), L"only the user");

    // An existing folder with inherited access gets the same protected list.
    const std::wstring plain = scratch.Path() + L"\\plain";
    ASSERT_TRUE(::CreateDirectoryW(plain.c_str(), nullptr));
    ASSERT_NE(OnlyTheUser(plain), L"only the user");
    ASSERT_TRUE(platform::RestrictToOwner(plain));
    // Wine keeps reporting the host's mode bits for a folder made without a
    // list, so only the user's entry can be checked here.
    EXPECT_NE(AccessList(plain).find(userEntry), std::wstring::npos);

    // A file is no folder of ours.
    const std::wstring file = scratch.Path() + L"\\file";
    HANDLE handle = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    ::CloseHandle(handle);
    EXPECT_FALSE(platform::IsOwnDirectory(file));
    EXPECT_FALSE(platform::RestrictToOwner(file));
}

// ---- Threads ----------------------------------------------------------------

namespace {

struct PriorityJob {
    std::chrono::milliseconds duration{0};
    std::atomic<int> priority{-100};
    std::atomic<bool> done{false};
};

unsigned int RecordPriority(void* raw) {
    auto* job = static_cast<PriorityJob*>(raw);
    job->priority = ::GetThreadPriority(::GetCurrentThread());
    std::this_thread::sleep_for(job->duration);
    job->done = true;
    return 0;
}

std::atomic<int> g_windowMessages{0};
constexpr UINT kTestMessage = WM_APP + 7;

LRESULT CALLBACK CountingWindow(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == kTestMessage) {
        g_windowMessages.fetch_add(1);
        return 0;
    }
    return ::DefWindowProcW(window, message, w, l);
}

}  // namespace

TEST(PlatformWindows, WorkerRunsTimeCriticalAndStartsOnlyWhenResumed) {
    PriorityJob job;
    platform::ThreadHandle handle;
    ASSERT_TRUE(platform::CreateSuspendedThread(&RecordPriority, &job, handle));
    EXPECT_NE(handle.Id(), 0u);
    EXPECT_FALSE(platform::WaitForThread(handle, 50));  // suspended: the routine has not run
    EXPECT_EQ(job.priority.load(), -100);
    platform::SetHighestThreadPriority(handle);
    platform::ResumeThread(handle);
    EXPECT_TRUE(platform::WaitForThread(handle, 10000));
    EXPECT_EQ(job.priority.load(), THREAD_PRIORITY_TIME_CRITICAL);
    platform::CloseThread(handle);
    // The creating thread keeps its own priority.
    EXPECT_EQ(::GetThreadPriority(::GetCurrentThread()), THREAD_PRIORITY_NORMAL);

    // Closed before it was ever resumed: the routine never runs.
    PriorityJob never;
    ASSERT_TRUE(platform::CreateSuspendedThread(&RecordPriority, &never, handle));
    platform::CloseThread(handle);
    EXPECT_FALSE(never.done.load());
}

TEST(PlatformWindows, JoinDispatchesTheWindowMessagesOfTheWaitingThread) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &CountingWindow;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"FlashwrightPumpTest";
    ASSERT_NE(::RegisterClassW(&windowClass), 0);
    HWND window = ::CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    g_windowMessages = 0;
    for (int i = 0; i < 3; ++i) ::PostMessageW(window, kTestMessage, 0, 0);

    PriorityJob job;
    job.duration = std::chrono::milliseconds(200);
    auto thread = MakeThread();
    ASSERT_TRUE(thread->Start(&RecordPriority, &job));
    thread->Join();
    EXPECT_TRUE(job.done.load());
    // One message per 10 ms wait: all three were handled while the worker ran.
    EXPECT_EQ(g_windowMessages.load(), 3);
    ::DestroyWindow(window);
    ::UnregisterClassW(windowClass.lpszClassName, windowClass.hInstance);
}

TEST(PlatformWindows, FailedThreadCreationLeavesTheObjectIdle) {
    platform::testing::FailNextThreadCreation();
    PriorityJob job;
    auto thread = MakeThread();
    EXPECT_FALSE(thread->Start(&RecordPriority, &job));
    EXPECT_FALSE(thread->IsRunning());
    thread->Join();
    EXPECT_FALSE(job.done.load());
}

TEST(PlatformWindows, RecordAppendsStayWholeUnderConcurrentWriters) {
    ScratchFolder scratch;
    const std::wstring folder = scratch.Path() + L"\\state\\flashwright";
    std::wstring error;
    ASSERT_TRUE(platform::CreatePrivateDirectories(folder, error)) << platform::WideToUtf8(error);
    EXPECT_TRUE(platform::IsOwnDirectory(folder));
    const std::wstring file = folder + L"\\records.jsonl";

    std::string content;
    ASSERT_TRUE(platform::ReadLocked(file, content, error));  // missing reads as empty
    EXPECT_EQ(content, "");

    // A writer that died mid-line: the next record starts on a line of its own.
    ASSERT_TRUE(platform::AppendLocked(file, "half", error)) << platform::WideToUtf8(error);
    const std::string record(4000, 'r');
    std::vector<std::thread> writers;
    for (int i = 0; i < 4; ++i)
        writers.emplace_back([&] {
            std::wstring threadError;
            for (int n = 0; n < 25; ++n) EXPECT_TRUE(platform::AppendLocked(file, record + "\n", threadError));
        });
    for (auto& writer : writers) writer.join();

    ASSERT_TRUE(platform::ReadLocked(file, content, error)) << platform::WideToUtf8(error);
    EXPECT_EQ(
        content, "half\n" + [&] {
            std::string all;
            for (int i = 0; i < 100; ++i) all += record + "\n";
            return all;
        }());
}

TEST(PlatformWindows, InstanceLockRefusesASecondHolderAndNamesTheFirst) {
    ScratchFolder scratch;
    ASSERT_TRUE(std::filesystem::create_directory(std::filesystem::path(scratch.Path())));
    const auto saved = platform::GetEnvironmentVariable(L"LOCALAPPDATA");
    ASSERT_TRUE(platform::SetEnvironmentVariable(L"LOCALAPPDATA", scratch.Path()));

    std::wstring refusal;
    auto first = platform::InstanceLock::Acquire(L"flashwright-cli upgrade", refusal);
    ASSERT_NE(first, nullptr) << platform::WideToUtf8(refusal);
    EXPECT_EQ(platform::InstanceLock::LockFilePath(), scratch.Path() + L"\\flashwright\\flashwright.lock");
    // Locks belong to a handle, so a second acquisition in this process is refused as another process's would be.
    EXPECT_EQ(platform::InstanceLock::Acquire(L"flashwright", refusal), nullptr);
    EXPECT_EQ(refusal, L"another Flashwright process is running: process " + std::to_wstring(::GetCurrentProcessId()) +
                           L" (flashwright-cli upgrade)");
    first.reset();
    EXPECT_NE(platform::InstanceLock::Acquire(L"flashwright", refusal), nullptr) << platform::WideToUtf8(refusal);

    if (saved) platform::SetEnvironmentVariable(L"LOCALAPPDATA", *saved);
}
