#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <new>

#include "platform/thread.h"

struct WorkThread {
    pthread_t id;
    void (*work)(void*);
    void* argument;
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t ended_signal = PTHREAD_COND_INITIALIZER;
    bool ended = false;
};

namespace {

void* Run(void* p) {
    WorkThread& thread = *static_cast<WorkThread*>(p);
    thread.work(thread.argument);
    pthread_mutex_lock(&thread.mutex);
    thread.ended = true;
    pthread_cond_broadcast(&thread.ended_signal);
    pthread_mutex_unlock(&thread.mutex);
    return nullptr;
}

}  // namespace

WorkThread* StartWorkThread(void (*work)(void*), void* argument) {
    WorkThread* thread = new (std::nothrow) WorkThread;
    if (!thread) return nullptr;
    thread->work = work;
    thread->argument = argument;
    if (pthread_create(&thread->id, nullptr, Run, thread) != 0) {
        delete thread;
        return nullptr;
    }
    return thread;
}

bool WaitWorkThread(WorkThread* thread, uint32_t milliseconds) {
    timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += milliseconds / 1000;
    until.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000L;
    }
    pthread_mutex_lock(&thread->mutex);
    while (!thread->ended) {
        if (pthread_cond_timedwait(&thread->ended_signal, &thread->mutex, &until) != 0) break;
    }
    const bool ended = thread->ended;
    pthread_mutex_unlock(&thread->mutex);
    return ended;
}

void JoinWorkThread(WorkThread* thread) {
    if (!thread) return;
    pthread_join(thread->id, nullptr);
    pthread_cond_destroy(&thread->ended_signal);
    pthread_mutex_destroy(&thread->mutex);
    delete thread;
}

int ProcessorCount() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

static_assert(sizeof(pthread_mutex_t) <= ThreadLock::kBytes && alignof(pthread_mutex_t) <= 8,
              "pthread_mutex_t fits a ThreadLock");

ThreadLock::ThreadLock() { pthread_mutex_init(new (storage_) pthread_mutex_t, nullptr); }
ThreadLock::~ThreadLock() { pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void ThreadLock::Lock() { pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void ThreadLock::Unlock() { pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(storage_)); }
