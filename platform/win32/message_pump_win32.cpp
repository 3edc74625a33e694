#include <windows.h>

#include "platform/message_pump.h"

namespace {

// Looking at the queue is a trip to the window server even when nothing
// waits (some 60 microseconds under Wine), and the storages ask for it on
// every 4 KB buffer. So the queue is emptied at most once per interval:
// often enough for smooth painting and a prompt Cancel, rare enough that
// extraction does not notice. GetTickCount costs next to nothing.
constexpr DWORD kPumpIntervalMs = 20;

bool g_pumped_once = false;
DWORD g_last_pump = 0;

bool Due() {
    const DWORD now = GetTickCount();
    if (g_pumped_once && now - g_last_pump < kPumpIntervalMs) return false;
    g_pumped_once = true;
    g_last_pump = now;
    return true;
}

// Keyboard input for a dialog gets the dialog's own keyboard handling, as
// in its modal loop: Escape is Cancel, Enter the default button, Tab moves.
bool HandledByDialog(MSG& message) {
    if (message.message < WM_KEYFIRST || message.message > WM_KEYLAST || !message.hwnd) return false;
    HWND root = GetAncestor(message.hwnd, GA_ROOT);
    constexpr ULONG_PTR kDialogClassAtom = 32770;
    if (!root || GetClassLongPtrW(root, GCW_ATOM) != kDialogClassAtom) return false;
    return IsDialogMessageW(root, &message) != FALSE;
}

// The windows live on the thread that pumps first (the program's own);
// storages used by a worker thread ask too, and are told no.
bool OnWindowThread() {
    static volatile LONG window_thread = 0;
    const LONG self = static_cast<LONG>(GetCurrentThreadId());
    const LONG owner = InterlockedCompareExchange(&window_thread, self, 0);
    return owner == 0 || owner == self;
}

}  // namespace

void PumpPendingMessages() {
    if (!OnWindowThread() || !Due()) return;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (HandledByDialog(message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}
