#include "platform/interrupt.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/interrupt_parts.h"

namespace {

std::atomic<int> g_exit_code{0};

struct Child {
    uintptr_t handle;
    bool group;
};

struct Registry {
    std::mutex lock;
    std::vector<std::wstring> files;
    std::vector<Child> children;
    std::wstring message;
};

// Never destroyed: the cleanup may run while the main thread returns
// from main and static objects go away.
Registry& TheRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

// Removes the tracked files that can go now; true when none is left.
bool RemoveFiles(Registry& r) {
    r.files.erase(std::remove_if(r.files.begin(), r.files.end(), RemoveTrackedFile), r.files.end());
    return r.files.empty();
}

}  // namespace

void InstallInterruptHandlers(const std::wstring& message) {
    TheRegistry().message = message;
    StartInterruptWatch();
}

bool InterruptRequested() { return g_exit_code.load(std::memory_order_relaxed) != 0; }

void AwaitInterruptEnd() {
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

InterruptHold::InterruptHold() { TheRegistry().lock.lock(); }

InterruptHold::~InterruptHold() { TheRegistry().lock.unlock(); }

void SetInterruptMessage(const std::wstring& message) { TheRegistry().message = message; }

void TrackTemporaryFile(const std::wstring& path) { TheRegistry().files.push_back(path); }

void ForgetTemporaryFile(const std::wstring& path) {
    std::vector<std::wstring>& files = TheRegistry().files;
    files.erase(std::remove(files.begin(), files.end(), path), files.end());
}

void TrackChild(uintptr_t handle, bool group) { TheRegistry().children.push_back({handle, group}); }

void ForgetChild(uintptr_t handle) {
    auto& children = TheRegistry().children;
    const auto same = [handle](const Child& child) { return child.handle == handle; };
    children.erase(std::remove_if(children.begin(), children.end(), same), children.end());
}

void RecordInterrupt(int exit_code) {
    int none = 0;
    g_exit_code.compare_exchange_strong(none, exit_code);
}

int InterruptExitCode() { return g_exit_code.load(std::memory_order_relaxed); }

std::wstring CleanUpInterrupted(uint32_t wait_ms) {
    Registry& r = TheRegistry();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    r.lock.lock();  // for good: the process ends with this cleanup
    for (const Child& child : r.children) KillTrackedChild(child.handle, child.group);
    r.children.clear();
    // What is left is open in another thread, which sees the request and
    // lets go of it (Windows only: POSIX removes open files).
    while (!RemoveFiles(r) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return r.message;
}
