// Ending a run on the user's request without leaving anything behind:
// Ctrl-C, SIGINT, SIGTERM, SIGHUP on POSIX; Ctrl-C, Ctrl-Break and a
// closed console window (also logoff and shutdown) on Windows.
//
// The program registers what must not outlive it: temporary files it is
// writing, and the helper programs it runs. When a request arrives, the
// registered programs (with everything they started) are killed, the
// registered files removed, the message printed to standard error, and the
// process ends: 128 + the signal number on POSIX (130 SIGINT, 143 SIGTERM,
// 129 SIGHUP), STATUS_CONTROL_C_EXIT (0xC000013A) on Windows. A thread of
// its own does this, whatever the main thread and the workers are doing:
// on POSIX a watcher woken by the signal handler (which only records the
// signal), on Windows the console's handler thread, which is done well
// within the five seconds Windows grants after a closed window. A file that
// Windows will not remove while a thread of ours still has it open goes as
// soon as that thread, seeing InterruptRequested(), lets go of it.
//
// The main thread and the workers poll InterruptRequested() between
// entries and buffers and stop, returning a failure; a thread that sees it
// and has nothing else to do calls AwaitInterruptEnd() instead of
// reporting that failure, so that the one message is the only one.
#pragma once

#include <cstdint>
#include <string>

// Installs the handlers and starts the watcher with the message to print
// (one line, with its line end); call once, early, from the main thread.
// Without this call nothing is ever requested.
void InstallInterruptHandlers(const std::wstring& message);

// True once a request arrived. Cheap (one atomic load), safe from any
// thread at any time.
bool InterruptRequested();

// For a thread that stopped because of a request: waits until the cleanup
// ends the process.
[[noreturn]] void AwaitInterruptEnd();

// While an InterruptHold lives, the cleanup waits (and nothing else may
// hold one: holds do not nest). Create a file or start a program and
// register it under one hold, checking InterruptRequested() first, so that
// neither can slip past the cleanup; make a temporary file the output and
// forget it under one hold, so that an interrupt either finds it complete
// at the output's name or removes it.
class InterruptHold {
public:
    InterruptHold();
    ~InterruptHold();
    InterruptHold(const InterruptHold&) = delete;
    InterruptHold& operator=(const InterruptHold&) = delete;
};

// Under a hold: replaces the message printed on a request (when what the
// run has done changes what it must say, such as an output in place).
void SetInterruptMessage(const std::wstring& message);

// Under a hold: a temporary file to remove on a request, and forgetting it
// once it is gone or has become the finished output.
void TrackTemporaryFile(const std::wstring& path);
void ForgetTemporaryFile(const std::wstring& path);

// Under a hold: a started helper program to kill on a request, either one
// process (POSIX pid, Windows process handle) or a group (POSIX process
// group led by pid, Windows job object). Forget it before the pid is
// reaped or the handle closed, so that nothing else is killed by its number.
void TrackChild(uintptr_t handle, bool group);
void ForgetChild(uintptr_t handle);
