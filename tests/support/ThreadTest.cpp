#include <gtest/gtest.h>

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/Platform.h"
#include "support/Thread.h"
#include "testbed/Files.h"

using GenICam::Client::CThread;
using GenICam::Client::MakeThread;

namespace {

std::atomic<int> g_pumpCalls{0};
void CountingPump() { g_pumpCalls.fetch_add(1); }

// Installs the counting pump for one test and removes it afterwards.
struct ScopedPump {
    ScopedPump() {
        g_pumpCalls = 0;
        platform::SetMessagePumpHook(&CountingPump);
    }
    ~ScopedPump() { platform::SetMessagePumpHook(nullptr); }
};

struct SleepJob {
    std::chrono::milliseconds duration{0};
    std::atomic<bool> done{false};
    std::atomic<int> nice{100};
    std::atomic<int> policy{-1};
};

unsigned int SleepRoutine(void* raw) {
    auto* job = static_cast<SleepJob*>(raw);
    errno = 0;
    job->nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
    job->policy = ::sched_getscheduler(0);
    std::this_thread::sleep_for(job->duration);
    job->done = true;
    return 0;
}

}  // namespace

TEST(Thread, JoinKeepsPumpingMessagesWhileTheRoutineRuns) {
    ScopedPump pump;
    SleepJob job;
    job.duration = std::chrono::milliseconds(200);
    auto thread = MakeThread();
    ASSERT_TRUE(thread->Start(&SleepRoutine, &job));
    EXPECT_TRUE(thread->IsRunning());
    EXPECT_NE(thread->GetThreadId(), 0u);
    thread->Join();
    EXPECT_TRUE(job.done);
    // One pump per 10 ms wait: a 200 ms routine gives many, not one or none.
    EXPECT_GE(g_pumpCalls.load(), 5);
    EXPECT_FALSE(thread->IsRunning());
    EXPECT_FALSE(thread->HasHandle());
    EXPECT_EQ(thread->GetThreadId(), 0u);
}

TEST(Thread, JoinReturnsAtOnceWhenIdleOrAlreadyFinished) {
    ScopedPump pump;
    CThread never;
    never.Join();
    EXPECT_FALSE(never.IsRunning());

    SleepJob job;
    CThread thread;
    ASSERT_TRUE(thread.Start(&SleepRoutine, &job));
    // The routine's return ends the running state on its own, without a Join.
    ASSERT_TRUE(testbed::WaitUntil([&] { return !thread.IsRunning(); }));
    EXPECT_TRUE(job.done);
    thread.Join();
    thread.Join();
    EXPECT_EQ(g_pumpCalls.load(), 0) << "a finished thread is closed without dispatching messages";
}

TEST(Thread, LastOwnerWaitsForARunningThread) {
    SleepJob job;
    job.duration = std::chrono::milliseconds(100);
    auto thread = MakeThread();
    ASSERT_TRUE(thread->Start(&SleepRoutine, &job));
    thread.reset();
    EXPECT_TRUE(job.done);
}

TEST(Thread, FailedStartLeavesTheObjectIdle) {
    SleepJob job;
    CThread thread;
    platform::testing::FailNextThreadCreation();
    EXPECT_FALSE(thread.Start(&SleepRoutine, &job));
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_FALSE(thread.HasHandle());
    EXPECT_EQ(thread.GetThreadId(), 0u);
    thread.Join();
    // The object is usable again afterwards.
    ASSERT_TRUE(thread.Start(&SleepRoutine, &job));
    thread.Join();
    EXPECT_TRUE(job.done);
}

TEST(Thread, WorkerRunsAtTheLowestNiceValueWithoutRealTimeClass) {
    // What this process may reach: privileged processes go to -20, others to
    // the bound RLIMIT_NICE sets, never above where they already are.
    errno = 0;
    const int processNice = ::getpriority(PRIO_PROCESS, 0);
    rlimit limit{};
    ::getrlimit(RLIMIT_NICE, &limit);
    int expected = processNice;
    const bool privileged = ::geteuid() == 0;
    if (privileged) {
        expected = -20;
    } else if (limit.rlim_cur != RLIM_INFINITY && 20 - static_cast<int>(limit.rlim_cur) < processNice) {
        expected = std::max(-20, 20 - static_cast<int>(limit.rlim_cur));
    } else if (limit.rlim_cur == RLIM_INFINITY) {
        expected = -20;
    }

    SleepJob job;
    auto thread = MakeThread();
    ASSERT_TRUE(thread->Start(&SleepRoutine, &job));
    thread->Join();
    EXPECT_EQ(job.policy.load(), SCHED_OTHER);
    EXPECT_EQ(job.nice.load(), expected);
    // The creating thread keeps its own priority.
    EXPECT_EQ(::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid))), processNice);
}

TEST(Thread, PumpRunsOnlyOnTheThreadThatInstalledIt) {
    ScopedPump pump;
    std::thread other([] { platform::PumpMessages(); });
    other.join();
    EXPECT_EQ(g_pumpCalls.load(), 0);
    platform::PumpMessages();
    EXPECT_EQ(g_pumpCalls.load(), 1);
}
