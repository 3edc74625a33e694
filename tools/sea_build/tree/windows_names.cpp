#include "tools/sea_build/tree/windows_names.h"

#include <map>
#include <set>

#include "archive/entry_name.h"
#include "platform/format.h"
#include "platform/path.h"
#include "tools/sea_build/tree/upcase_table.h"

namespace {

uint32_t SimpleUpcase(uint32_t c) {
    size_t low = 0, high = kUpcaseRunCount;
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        const UpcaseRun& run = kUpcaseRuns[middle];
        if (c < run.first) {
            high = middle;
        } else if (c > run.last) {
            low = middle + 1;
        } else {
            return (c - run.first) % run.step == 0 ? static_cast<uint32_t>(static_cast<int32_t>(c) + run.delta)
                                                   : c;
        }
    }
    return c;
}

// Whether c lies beyond U+FFFF (only where wchar_t holds UTF-32).
bool BeyondPlane0(wchar_t c) { return (static_cast<uint32_t>(c) >> 16) != 0; }

// Length in UTF-16 units, as Windows counts it (wchar_t holds UTF-32 on
// POSIX, where a character beyond U+FFFF takes two units on Windows).
size_t Utf16Length(const std::wstring& text, size_t begin, size_t end) {
    size_t length = 0;
    for (size_t i = begin; i < end; ++i) length += BeyondPlane0(text[i]) ? 2 : 1;
    return length;
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring CharacterReason(wchar_t c) {
    if (static_cast<uint32_t>(c) < 0x20) {
        return FormatString(100, L"holds the control character U+%04X, which Windows does not allow in names",
                            static_cast<int32_t>(c));
    }
    return L"holds '" + std::wstring(1, c) + L"', which Windows does not allow in names";
}

// The reason for a fault at name[at] in the component name[start, end).
std::wstring FaultReason(EntryNameFault fault, const std::wstring& name, size_t at, size_t start,
                         size_t end) {
    const std::wstring component = name.substr(start, end - start);
    switch (fault) {
        case EntryNameFault::kEmpty:
            return L"an empty name";
        case EntryNameFault::kAbsolute:
            return L"an absolute path, which would leave the folder it is extracted to";
        case EntryNameFault::kClimbsUp:
            return Quoted(component) + L" climbs out of the folder it is extracted to";
        case EntryNameFault::kReservedCharacter:
            return CharacterReason(name[at]);
        case EntryNameFault::kTrailingDotOrBlank:
            return Quoted(component) + L" ends in a dot or a blank, which Windows drops";
        case EntryNameFault::kDeviceName:
            return Quoted(component) +
                   L" is a device name on Windows (CON, PRN, AUX, NUL, COM0-9, LPT0-9 in any "
                   L"letter case and with any extension)";
        case EntryNameFault::kNone:
            break;
    }
    return std::wstring();
}

size_t NextSeparator(const std::wstring& text, size_t from) {
    while (from < text.size() && !IsPathSeparator(text[from])) ++from;
    return from;
}

class Checker {
public:
    void Check(const NameEntry& entry) {
        std::wstring name = entry.path;
        bool directory = entry.directory;
        while (!name.empty() && IsPathSeparator(name.back())) {
            name.pop_back();
            directory = true;
        }
        size_t at = 0;
        const EntryNameFault fault = FindEntryNameFault(name.c_str(), true, &at);
        if (fault == EntryNameFault::kEmpty || fault == EntryNameFault::kAbsolute) {
            if (!failed_.count(name)) Fail(name, FaultReason(fault, name, at, 0, name.size()));
            return;
        }
        // The folders from the top down: each is checked once, and the
        // walk down stops at the first that fails (the path budget ends it
        // after a few hundred characters, however long a hostile name is).
        const size_t fault_end = fault == EntryNameFault::kNone ? std::wstring::npos : NextSeparator(name, at);
        bool warned = false;
        for (size_t start = 0; start <= name.size();) {
            const size_t end = NextSeparator(name, start);
            const std::wstring prefix = name.substr(0, end);
            if (failed_.count(prefix)) return;
            if (end == fault_end) {
                Fail(prefix, FaultReason(fault, name, at, start, end));
                return;
            }
            warned = warned || warned_.count(prefix) != 0;
            if (checked_.insert(prefix).second &&
                !CheckComponent(name, start, end, end < name.size() || directory, warned)) {
                return;
            }
            start = end + 1;
        }
        if (!entries_.insert(name).second && !directory) Fail(name, L"appears twice");
    }

    std::vector<NameFinding> findings;

private:
    // The component name[start, end) of the path name[0, end): its length,
    // the path's length, and its letter case against the folder's other
    // names. False when it fails.
    bool CheckComponent(const std::wstring& name, size_t start, size_t end, bool directory,
                        bool& warned) {
        const std::wstring path = name.substr(0, end);
        const size_t component = Utf16Length(name, start, end);
        if (component > kMaxComponent) {
            return Fail(path, FormatString(200, L"a name of %ld characters; Windows allows %ld",
                                           static_cast<int32_t>(component),
                                           static_cast<int32_t>(kMaxComponent)));
        }
        const std::wstring key = name.substr(0, start) + L'\0' + WindowsUpcase(name.substr(start, end - start));
        const auto found = folded_.emplace(key, path);
        if (!found.second) {
            return Fail(path, L"the same name on Windows as " + found.first->second +
                                  L" (Windows ignores letter case)");
        }
        const size_t length = Utf16Length(name, 0, end);
        const size_t limit = directory ? kMaxFullFolderPath : kMaxFullFilePath;
        const wchar_t* kind = directory ? L"folder" : L"file";
        if (kShortestBase + kWorkDirName + length > limit) {
            return Fail(path, FormatString(300, L"a %s path of %ld characters: the self-extractor "
                                                L"creates %s paths of at most %ld characters "
                                                L"below any temporary folder",
                                           kind, static_cast<int32_t>(length), kind,
                                           static_cast<int32_t>(limit - kShortestBase - kWorkDirName)));
        }
        if (!warned && kTypicalBase + kWorkDirName + length > limit) {
            warned = true;
            warned_.insert(path);
            findings.push_back({path,
                                FormatString(300, L"a %s path of %ld characters fits only below a "
                                                  L"temporary folder of at most %ld characters "
                                                  L"(C:\\Users\\NAME\\AppData\\Local\\Temp\\ has "
                                                  L"up to %ld)",
                                             kind, static_cast<int32_t>(length),
                                             static_cast<int32_t>(limit - length - kWorkDirName),
                                             static_cast<int32_t>(kTypicalBase)),
                                true});
        }
        return true;
    }

    bool Fail(const std::wstring& path, const std::wstring& reason) {
        failed_.insert(path);
        findings.push_back({path, reason, false});
        return false;
    }

    std::set<std::wstring> entries_;   // whole names seen
    std::set<std::wstring> checked_;   // paths (entries and their folders) checked
    std::set<std::wstring> failed_;    // paths that failed: nothing below them is checked
    std::set<std::wstring> warned_;    // paths warned about: nothing below them is again
    std::map<std::wstring, std::wstring> folded_;  // folder + NUL + upcased name -> first path
};

}  // namespace

std::wstring NameFault(const std::wstring& name) {
    size_t at = 0;
    const EntryNameFault fault = FindEntryNameFault(name.c_str(), true, &at);
    if (fault == EntryNameFault::kNone) return std::wstring();
    return FaultReason(fault, name, at, 0, name.size());
}

std::wstring WindowsUpcase(const std::wstring& name) {
    std::wstring upper(name);
    for (wchar_t& c : upper) {
        if (!BeyondPlane0(c)) c = static_cast<wchar_t>(SimpleUpcase(static_cast<uint32_t>(c)));
    }
    return upper;
}

std::vector<NameFinding> CheckWindowsNames(const std::vector<NameEntry>& entries) {
    Checker checker;
    for (const NameEntry& entry : entries) checker.Check(entry);
    return checker.findings;
}
