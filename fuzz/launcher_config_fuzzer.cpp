// Fuzzes the heap-size patch of the launcher configuration file: the text
// rewrite (PatchHeapText) and the whole file route (PatchHeapSizes on a
// "*.rux" file in a scratch working directory).
//
// Input: one byte of switches (bit 0: -jvmxms given, bit 1: -jvmxmx given,
// bit 2: also take the file route, which is much slower than the text one),
// the -jvmxms value up to a NUL byte, the -jvmxmx value up to a NUL byte,
// then the file's contents.
//
// Checked on every input:
//   - the result has one line per input line, each ending in CR LF, when
//     the values hold no line break;
//   - comment lines, empty lines and lines of other keys come out
//     unchanged (less the CR of a CR LF end); heap lines become key=value;
//   - patching the result again changes nothing (values without CR or LF);
//   - the file route leaves exactly the text route's result in the file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/directory.h"
#include "platform/file_stream.h"
#include "platform/path.h"
#include "platform/text.h"
#include "sea/launcher_config.h"
#include "sea/own_file.h"
#include "sea/run_state.h"

namespace {

const std::string kInitialKey = "rux.nl.java.option.java.heap.size.initial";
const std::string kMaxKey = "rux.nl.java.option.java.heap.size.max";

struct Input {
    bool file_route = false;
    HeapValues heap;
    std::string text;
};

std::string TakeUntilNul(const std::string& bytes, size_t& pos) {
    size_t end = bytes.find('\0', pos);
    if (end == std::string::npos) end = bytes.size();
    std::string part = bytes.substr(pos, end - pos);
    pos = end < bytes.size() ? end + 1 : end;
    return part;
}

Input Parse(const uint8_t* data, size_t size) {
    Input input;
    if (size == 0) return input;
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    size_t pos = 0;
    input.heap.initial_given = (data[0] & 1) != 0;
    input.heap.max_given = (data[0] & 2) != 0;
    input.file_route = (data[0] & 4) != 0;
    input.heap.initial = TakeUntilNul(bytes, pos);
    input.heap.max = TakeUntilNul(bytes, pos);
    input.text = bytes.substr(pos);
    return input;
}

// The lines as the patch reads them: LF ends a line, a CR right before an
// LF belongs to the line end, a last line without LF still counts.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t lf = text.find('\n', start);
        if (lf == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        size_t stop = lf;
        if (stop > start && text[stop - 1] == '\r') --stop;
        lines.push_back(text.substr(start, stop - start));
        start = lf + 1;
    }
    return lines;
}

std::string Expected(const Input& in) {
    std::string out;
    for (const std::string& line : Lines(in.text)) {
        const std::string key = line.substr(0, line.find('='));
        std::string result = line;
        if (!line.empty() && line[0] != '#') {
            if (in.heap.initial_given && key == kInitialKey) result = kInitialKey + "=" + in.heap.initial;
            if (in.heap.max_given && key == kMaxKey) result = kMaxKey + "=" + in.heap.max;
        }
        out += result + "\r\n";
    }
    return out;
}

bool HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

[[noreturn]] void Fail(const char* what) {
    fprintf(stderr, "%s\n", what);
    abort();
}

void CheckText(const Input& in, const std::string& patched) {
    if (patched != Expected(in)) Fail("PatchHeapText differs from the line model");
    const bool plain_values = !HasLineBreak(in.heap.initial) && !HasLineBreak(in.heap.max);
    if (!plain_values) return;
    size_t line_ends = 0;
    for (size_t i = 0; i + 1 < patched.size(); ++i) line_ends += patched.compare(i, 2, "\r\n") == 0;
    if (line_ends != Lines(in.text).size()) Fail("the number of lines changed");
    if (!patched.empty() && patched.compare(patched.size() - 2, 2, "\r\n") != 0) {
        Fail("the last line has no CR LF");
    }
    if (PatchHeapText(patched, in.heap) != patched) Fail("patching twice changes the text");
}

const std::wstring& WorkDir() {
    static std::wstring dir;
    if (dir.empty()) {
        std::wstring cwd;
        GetCurrentDir(cwd);
        dir = WithTrailingSeparator(cwd) + L"launcher-config-fuzz" + kPathSeparator;
        CreateDir(dir);
        CreateDir(dir + LauncherFolder32());
    }
    return dir;
}

std::string ReadAll(const std::wstring& path) {
    std::string bytes;
    if (FILE* f = OpenStream(path, "rb")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
        fclose(f);
    }
    return bytes;
}

void CheckFile(const Input& in) {
    const std::wstring path = WorkDir() + LauncherFolder32() + L"install.rux";
    FILE* f = OpenStream(path, "wb");
    if (!f) return;
    fwrite(in.text.data(), 1, in.text.size(), f);
    fclose(f);
    // The file route converts the values from the run state's wide text.
    g_run.min_heap_given = in.heap.initial_given;
    g_run.min_heap = Utf8ToWide(in.heap.initial);
    g_run.max_heap_given = in.heap.max_given;
    g_run.max_heap = Utf8ToWide(in.heap.max);
    HeapValues converted = in.heap;
    converted.initial = WideToAnsi(g_run.min_heap);
    converted.max = WideToAnsi(g_run.max_heap);
    PatchHeapSizes(WorkDir());
    const std::string expected = PatchHeapText(in.text, converted);
    if (ReadAll(path) != expected) Fail("the file does not hold the patched text");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Input in = Parse(data, size);
    const std::string patched = PatchHeapText(in.text, in.heap);
    CheckText(in, patched);
    if (in.file_route) CheckFile(in);
    return 0;
}
