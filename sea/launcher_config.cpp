// Heap-size patching of the launcher configuration file.
#include "sea/launcher_config.h"

#include <cstdio>
#include <vector>

#include "platform/dir_handle.h"
#include "platform/directory_search.h"
#include "platform/file_attributes.h"
#include "platform/file_io.h"
#include "platform/file_replace.h"
#include "platform/file_stream.h"
#include "platform/text.h"
#include "sea/log.h"
#include "sea/own_file.h"
#include "sea/run_state.h"

namespace {

const char kInitialHeapKey[] = "rux.nl.java.option.java.heap.size.initial";
const char kMaxHeapKey[] = "rux.nl.java.option.java.heap.size.max";

// Suffix of the temporary file written beside the configuration file.
const wchar_t kTemporarySuffix[] = L".new";

// Lines as text-mode reading delivers them: LF ends a line, a CR right
// before it belongs to the line end. A last line without LF still counts.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        size_t next = end == std::string::npos ? text.size() : end + 1;
        if (end == std::string::npos) end = text.size();
        size_t stop = end;
        if (stop > start && text[stop - 1] == '\r' && end < text.size()) --stop;
        lines.push_back(text.substr(start, stop - start));
        start = next;
    }
    return lines;
}

std::string KeyOf(const std::string& line) { return line.substr(0, line.find('=')); }

// The launcher folder of a held working directory: "Windows" when it is a
// folder there, else "Windows_Pure_64_Bit". Null when that cannot be held.
DirHandle* OpenLauncherFolder(const DirHandle* work_dir) {
    for (const std::wstring& folder : {LauncherFolder32(), LauncherFolder64()}) {
        DirHandle* held = nullptr;
        const std::wstring name = folder.substr(0, folder.size() - 1);  // less its separator
        if (OpenChildDir(work_dir, name, &held) == ChildOpenResult::kOpened) return held;
    }
    return nullptr;
}

bool EndsWithRux(const std::wstring& name) {
    static const wchar_t kRux[] = L".rux";
    if (name.size() <= 4) return false;
    for (size_t i = 0; i < 4; ++i) {
        wchar_t c = name[name.size() - 4 + i];
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != kRux[i]) return false;
    }
    return true;
}

// The first "*.rux" entry of the folder's listing that is no directory.
bool FindRux(const DirHandle* folder, std::wstring& name) {
    std::vector<DirEntry> entries;
    if (!folder || !ListDirHandle(folder, entries)) return false;
    for (const DirEntry& entry : entries) {
        if (!(entry.attributes & kAttrDirectory) && EndsWithRux(entry.name)) {
            name = entry.name;
            return true;
        }
    }
    return false;
}

bool ReadAll(int fd, std::string& bytes) {
    char buffer[4096];
    int error = 0;
    int32_t n;
    while ((n = FileRead(fd, buffer, sizeof buffer, &error)) > 0) bytes.append(buffer, static_cast<size_t>(n));
    return n == 0;
}

// ReplaceFileContents relative to a held folder.
bool ReplaceChildContents(const DirHandle* folder, const std::wstring& name, const std::string& bytes) {
    const std::wstring temporary = name + kTemporarySuffix;
    int error = 0;
    const int fd = CreateChildFile(folder, temporary, &error);
    if (fd < 0) return false;
    const int32_t count = static_cast<int32_t>(bytes.size());
    bool written = bytes.empty() || FileWrite(fd, bytes.data(), static_cast<uint32_t>(count), &error) == count;
    written = FileClose(fd) && written;
    if (!written || !RenameChildEntry(folder, temporary, name)) {
        RemoveChildEntry(folder, temporary, true);
        return false;
    }
    return true;
}

}  // namespace

bool FileExists(const std::wstring& path) { return PathExists(path); }

std::string PatchHeapText(const std::string& text, const HeapValues& heap) {
    std::string out;
    out.reserve(text.size() + text.size() / 16 + 64);
    for (std::string line : SplitLines(text)) {
        if (!line.empty() && line[0] != '#') {
            if (heap.initial_given && KeyOf(line) == kInitialHeapKey) {
                line = std::string(kInitialHeapKey) + "=" + heap.initial;
            }
            if (heap.max_given && KeyOf(line) == kMaxHeapKey) {
                line = std::string(kMaxHeapKey) + "=" + heap.max;
            }
        }
        out += line;
        out += "\r\n";
    }
    return out;
}

bool WriteAllBytes(FILE* stream, const std::string& bytes) {
    return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
}

bool ReplaceFileContents(const std::wstring& path, const std::string& bytes, StreamWriter writer) {
    std::wstring temporary = path + kTemporarySuffix;
    FILE* file = OpenStream(temporary, "wb");
    if (!file) return false;
    bool written = writer(file, bytes);
    written = std::fflush(file) == 0 && written;
    written = std::fclose(file) == 0 && written;
    if (!written || !ReplaceFileWith(temporary, path)) {
        DeleteFilePath(temporary);
        return false;
    }
    return true;
}

void PatchHeapSizes(const std::wstring& work_dir_path) {
    DirHandle* work_dir = OpenDirHandle(work_dir_path, false);
    PatchHeapSizesIn(work_dir);
    CloseDirHandle(work_dir);
}

void PatchHeapSizesIn(const DirHandle* work_dir) {
    DirHandle* folder = work_dir ? OpenLauncherFolder(work_dir) : nullptr;
    std::wstring name;
    if (!FindRux(folder, name)) {
        CloseDirHandle(folder);
        std::printf("Unable to locate the rux file\n");
        return;
    }
    int error = 0;
    const int fd = OpenChildFileRead(folder, name, &error);
    if (fd < 0) {
        CloseDirHandle(folder);
        WriteLog(L"Unable to open .rux file");
        return;
    }
    std::string text;
    bool read = ReadAll(fd, text);
    FileClose(fd);
    if (!read) {
        CloseDirHandle(folder);
        return;
    }

    HeapValues heap;
    heap.initial_given = g_run.min_heap_given;
    heap.initial = WideToAnsi(g_run.min_heap);
    heap.max_given = g_run.max_heap_given;
    heap.max = WideToAnsi(g_run.max_heap);
    ReplaceChildContents(folder, name, PatchHeapText(text, heap));
    CloseDirHandle(folder);
}
