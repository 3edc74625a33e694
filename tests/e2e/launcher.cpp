// A stand-in for an installer's launcher, packed into test payloads. It
// records what the self-extractor handed it into "launch-record.txt" in its
// current directory (the working directory) and exits with the code written
// in "exitcode.txt" beside itself (0 when there is none). The record ends
// with the names in the working directory, sorted, as the launcher found
// them ("entries=" followed by names separated by '|').
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <string>
#include <vector>

#include "platform/directory.h"
#include "platform/directory_search.h"
#include "platform/environment.h"
#include "platform/file_stream.h"
#include "platform/module.h"
#include "platform/path.h"
#include "platform/text.h"

namespace {

std::string ReadAll(const std::wstring& path, bool* ok) {
    std::string data;
    FILE* f = OpenStream(path, "rb");
    *ok = f != nullptr;
    if (!f) return data;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, n);
    fclose(f);
    return data;
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

std::string Env(const wchar_t* name) {
    std::wstring value;
    return GetEnvVar(name, 32768, value) ? WideToUtf8(value) : std::string("<unset>");
}

// The names in dir, sorted, '|' between them ("." and ".." left out).
std::string ListDirectory(const std::wstring& dir) {
    std::vector<std::string> names;
    DirectorySearch search(WithTrailingSeparator(dir) + L"*");
    DirEntry entry;
    while (search.Next(entry)) {
        if (entry.name != L"." && entry.name != L"..") names.push_back(WideToUtf8(entry.name));
    }
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string& name : names) out += (out.empty() ? "" : "|") + name;
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    SaveProgramArguments(argc, argv);
    std::wstring cwd;
    GetCurrentDir(cwd);
    PathParts own = SplitPath(GetOwnModulePath());
    bool have_code = false;
    std::string code_text = ReadAll(own.drive + own.directory + L"exitcode.txt", &have_code);
    bool have_loc = false;
    std::string loc = ReadAll(WithTrailingSeparator(cwd) + L"sea_loc", &have_loc);
    // Listed before the record itself is written, so it is not among them.
    std::string entries = ListDirectory(cwd);

    FILE* out = OpenStream(WithTrailingSeparator(cwd) + L"launch-record.txt", "wb");
    if (out) {
        fprintf(out, "cmdline=%s\n", WideToUtf8(GetOwnCommandLine()).c_str());
        fprintf(out, "program=%s\n", WideToUtf8(GetOwnModulePath()).c_str());
        fprintf(out, "cwd=%s\n", WideToUtf8(cwd).c_str());
        fprintf(out, "TMP=%s\n", Env(L"TMP").c_str());
        fprintf(out, "TEMP=%s\n", Env(L"TEMP").c_str());
        fprintf(out, "sea_loc=%s\n", have_loc ? Hex(loc).c_str() : "<missing>");
        fprintf(out, "entries=%s\n", entries.c_str());
        fclose(out);
    }
    return have_code ? atoi(code_text.c_str()) : 0;
}
