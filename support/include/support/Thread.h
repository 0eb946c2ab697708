#pragma once

#include <cstdint>

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include "support/Platform.h"

namespace GenICam {
namespace Client {

// Runs one routine on a thread of its own at the highest priority; Join lets
// the user-interface thread wait without freezing the window. Held through
// boost::shared_ptr; the last owner to let go waits for a running thread.
class CThread {
public:
    using Routine = platform::ThreadRoutine;

    CThread() = default;
    ~CThread() { Join(); }
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    bool Start(Routine routine, void* argument);
    bool IsRunning() const;
    void Join();

    std::uint32_t GetThreadId() const { return m_threadId; }
    bool HasHandle() const { return static_cast<bool>(m_handle); }

private:
    Routine m_routine = nullptr;
    void* m_argument = nullptr;
    platform::ThreadHandle m_handle;
    std::uint32_t m_threadId = 0;
};

using CThreadPtr = boost::shared_ptr<CThread>;

inline CThreadPtr MakeThread() { return boost::make_shared<CThread>(); }

}  // namespace Client
}  // namespace GenICam
