// Test helper (Windows builds under Wine): a process of the same user that
// swaps a running installer's file for another installer, the way malware
// would after the elevation prompt: MoveFileExW renames the installer,
// CopyFileW puts the other one under its name.
//
//   swap_attacker TARGET ASIDE REPLACEMENT [RACE-MILLISECONDS]
//
// Without a time: one attempt, at once. With one: waits until a process
// of TARGET's file name exists, then tries the rename again and again
// until it succeeds or the time is up.
// Exit code: 0 swapped; 1 the rename was refused (the last error is
// printed); 2 the copy failed; 3 wrong arguments or no such process.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr DWORD kPollMilliseconds = 1;

std::wstring FileNameOf(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

bool ProcessExists(const std::wstring& name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
         more = Process32NextW(snapshot, &entry)) {
        found = lstrcmpiW(entry.szExeFile, name.c_str()) == 0;
    }
    CloseHandle(snapshot);
    return found;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) return 3;
    const DWORD race = argc > 4 ? static_cast<DWORD>(_wtoi(argv[4])) : 0;
    const DWORD start = GetTickCount();
    if (race) {
        while (!ProcessExists(FileNameOf(argv[1]))) {
            if (GetTickCount() - start > race) return 3;
            Sleep(kPollMilliseconds);
        }
    }
    unsigned tries = 1;
    while (!MoveFileExW(argv[1], argv[2], 0)) {
        if (!race || GetTickCount() - start > race) {
            std::wprintf(L"rename refused after %u tries: error %lu\n", tries, GetLastError());
            return 1;
        }
        ++tries;
        Sleep(kPollMilliseconds);
    }
    if (!CopyFileW(argv[3], argv[1], FALSE)) {
        std::wprintf(L"copy failed: error %lu\n", GetLastError());
        return 2;
    }
    std::wprintf(L"swapped after %u tries\n", tries);
    return 0;
}
