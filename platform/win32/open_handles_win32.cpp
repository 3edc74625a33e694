// Open handles of the process, as the kernel counts them.
#include <windows.h>

#include <cstdint>
#include <vector>

#include "platform/open_handles.h"

namespace {

// The system-wide handle table (SystemHandleInformation, class 16): one
// entry per open handle of every process.
struct HandleEntry {
    USHORT process_id;
    USHORT creator_back_trace_index;
    UCHAR object_type_index;
    UCHAR handle_attributes;
    USHORT handle_value;
    PVOID object;
    ULONG granted_access;
};
struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
};

using NtQuerySystemInformationFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004L);

// Counts this process's entries in the system-wide table; -1 when the
// table cannot be read.
int64_t CountInHandleTable() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll) return -1;
    auto query = reinterpret_cast<NtQuerySystemInformationFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")));
    if (!query) return -1;
    std::vector<uint8_t> buffer(1 << 16);
    for (;;) {
        ULONG needed = 0;
        LONG status = query(kSystemHandleInformation, buffer.data(),
                            static_cast<ULONG>(buffer.size()), &needed);
        if (status == kInfoLengthMismatch) {
            buffer.resize(needed > buffer.size() ? needed + 4096 : buffer.size() * 2);
            continue;
        }
        if (status < 0) return -1;
        break;
    }
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    const USHORT self = static_cast<USHORT>(GetCurrentProcessId());
    int64_t count = 0;
    for (ULONG i = 0; i < table->count; ++i) {
        if (table->entries[i].process_id == self) ++count;
    }
    return count;
}

}  // namespace

int64_t CountOpenHandles() {
    DWORD count = 0;
    // Every process holds some handles; a count of 0 means the call is not
    // really implemented (Wine), and the system-wide table is asked instead.
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) {
        return static_cast<int64_t>(count);
    }
    return CountInHandleTable();
}
