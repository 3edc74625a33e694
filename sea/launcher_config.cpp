// Heap-size patching of the launcher configuration file.
#include "sea/launcher_config.h"

#include <cstdio>
#include <vector>

#include "platform/directory_search.h"
#include "platform/file_attributes.h"
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

bool ReadWholeFile(FILE* file, std::string& bytes) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    return !std::ferror(file);
}

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
    std::wstring folder = work_dir_path + LauncherFolder32();
    if (!IsDirectoryPath(folder)) folder = work_dir_path + LauncherFolder64();

    std::wstring name;
    if (!FindFirstMatch(folder + L"*.rux", name)) {
        std::printf("Unable to locate the rux file\n");
        return;
    }
    std::wstring path = folder + name;
    if (!FileExists(path)) return;

    FILE* file = OpenStream(path, "rb");
    if (!file) {
        WriteLog(L"Unable to open .rux file");
        return;
    }
    std::string text;
    bool read = ReadWholeFile(file, text);
    std::fclose(file);
    if (!read) return;

    HeapValues heap;
    heap.initial_given = g_run.min_heap_given;
    heap.initial = WideToAnsi(g_run.min_heap);
    heap.max_given = g_run.max_heap_given;
    heap.max = WideToAnsi(g_run.max_heap);
    ReplaceFileContents(path, PatchHeapText(text, heap));
}
