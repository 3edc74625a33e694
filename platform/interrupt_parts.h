// The two halves of platform/interrupt.h: the registry and the cleanup
// every system shares (interrupt.cpp), and what each system does its own
// way (posix/interrupt_posix.cpp, win32/interrupt_win32.cpp).
#pragma once

#include <cstdint>
#include <string>

// Shared. Records the first request with the exit code it asks for; safe
// inside a signal handler (one lock-free atomic operation).
void RecordInterrupt(int exit_code);
// Shared. The exit code of the first request; 0 while there is none.
int InterruptExitCode();
// Shared. Takes the hold for good (nothing is started or registered from
// now on), kills every tracked program, removes every tracked file and, for
// files the system does not let go of yet, retries until they are gone or
// wait_ms have passed. Returns the message to print.
std::wstring CleanUpInterrupted(uint32_t wait_ms);

// Per system: starts watching for requests.
void StartInterruptWatch();
// Per system: kills a tracked program or group (see TrackChild) and waits
// a moment for the program itself to end, so that it writes nothing after.
void KillTrackedChild(uintptr_t handle, bool group);
// Per system: removes a tracked file; true once it is gone.
bool RemoveTrackedFile(const std::wstring& path);
// Per system: prints message to standard error and ends the process at
// once with exit_code, without running destructors or exit handlers.
[[noreturn]] void EndInterrupted(const std::wstring& message, int exit_code);
