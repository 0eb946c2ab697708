#include "support/Thread.h"

namespace GenICam {
namespace Client {

bool CThread::Start(Routine routine, void* argument) {
    m_routine = routine;
    m_argument = argument;
    platform::ThreadHandle handle;
    if (!platform::CreateSuspendedThread(routine, argument, handle)) {
        m_routine = nullptr;
        m_argument = nullptr;
        return false;
    }
    m_handle = handle;
    platform::SetHighestThreadPriority(m_handle);
    platform::ResumeThread(m_handle);
    m_threadId = m_handle.Id();
    return true;
}

bool CThread::IsRunning() const { return m_handle && !platform::WaitForThread(m_handle, 0); }

void CThread::Join() {
    if (!m_handle) return;
    while (!platform::WaitForThread(m_handle, 10)) platform::PumpMessages();
    platform::CloseThread(m_handle);
    m_routine = nullptr;
    m_argument = nullptr;
    m_threadId = 0;
}

}  // namespace Client
}  // namespace GenICam
