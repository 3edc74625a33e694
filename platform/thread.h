// A second thread of work, and the lock that guards what two threads share.
#pragma once

#include <cstdint>

struct WorkThread;

// Starts work(argument) on a new thread; null when the system cannot (the
// caller then does the work itself).
WorkThread* StartWorkThread(void (*work)(void* argument), void* argument);
// Waits up to milliseconds for the thread to end; true when it has.
bool WaitWorkThread(WorkThread* thread, uint32_t milliseconds);
// Waits for the thread to end and releases it (null is fine).
void JoinWorkThread(WorkThread* thread);

// Processors this process may run on (at least 1).
int ProcessorCount();

// A lock for short critical sections; not recursive. It lives in the
// object itself (the system's lock takes at most kBytes), so that making
// one cannot fail.
class ThreadLock {
public:
    static constexpr unsigned kBytes = 64;
    ThreadLock();
    ~ThreadLock();
    ThreadLock(const ThreadLock&) = delete;
    ThreadLock& operator=(const ThreadLock&) = delete;
    void Lock();
    void Unlock();

private:
    alignas(8) unsigned char storage_[kBytes];
};

// Holds a lock for the length of a scope.
class ThreadLockHold {
public:
    explicit ThreadLockHold(ThreadLock& lock) : lock_(lock) { lock_.Lock(); }
    ~ThreadLockHold() { lock_.Unlock(); }
    ThreadLockHold(const ThreadLockHold&) = delete;
    ThreadLockHold& operator=(const ThreadLockHold&) = delete;

private:
    ThreadLock& lock_;
};
