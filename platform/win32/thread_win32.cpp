#include <windows.h>

#include <new>

#include "platform/thread.h"

struct WorkThread {
    HANDLE handle;
    void (*work)(void*);
    void* argument;
};

namespace {

DWORD WINAPI Run(LPVOID p) {
    WorkThread& thread = *static_cast<WorkThread*>(p);
    thread.work(thread.argument);
    return 0;
}

}  // namespace

WorkThread* StartWorkThread(void (*work)(void*), void* argument) {
    WorkThread* thread = new (std::nothrow) WorkThread;
    if (!thread) return nullptr;
    thread->work = work;
    thread->argument = argument;
    thread->handle = CreateThread(nullptr, 0, Run, thread, 0, nullptr);
    if (!thread->handle) {
        delete thread;
        return nullptr;
    }
    return thread;
}

bool WaitWorkThread(WorkThread* thread, uint32_t milliseconds) {
    return WaitForSingleObject(thread->handle, milliseconds) == WAIT_OBJECT_0;
}

void JoinWorkThread(WorkThread* thread) {
    if (!thread) return;
    WaitForSingleObject(thread->handle, INFINITE);
    CloseHandle(thread->handle);
    delete thread;
}

int ProcessorCount() {
    DWORD_PTR process_mask = 0;
    DWORD_PTR system_mask = 0;
    int count = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask)) {
        for (; process_mask; process_mask &= process_mask - 1) ++count;
    }
    if (count > 0) return count;
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

static_assert(sizeof(CRITICAL_SECTION) <= ThreadLock::kBytes && alignof(CRITICAL_SECTION) <= 8,
              "CRITICAL_SECTION fits a ThreadLock");

ThreadLock::ThreadLock() { InitializeCriticalSection(new (storage_) CRITICAL_SECTION); }
ThreadLock::~ThreadLock() { DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void ThreadLock::Lock() { EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void ThreadLock::Unlock() { LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
