// Fuzzes the argument tokeniser, the option parser and the properties-file
// reader. Input: the argument string (UTF-8), a NUL byte, then the bytes of
// installer.properties beside a made-up executable.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/directory.h"
#include "platform/file_stream.h"
#include "platform/text.h"
#include "sea/options.h"

namespace {

std::wstring ScratchDirectory() {
    static std::wstring dir;
    if (dir.empty()) {
        std::wstring cwd;
        GetCurrentDir(cwd);
        dir = cwd + L"/options-fuzz";
        CreateDir(dir);
    }
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    std::string input(bytes, size);
    size_t split = input.find('\0');
    std::string args = input.substr(0, split);
    std::string properties = split == std::string::npos ? std::string() : input.substr(split + 1);

    const std::wstring dir = ScratchDirectory();
    const std::wstring props_path = dir + L"/installer.properties";
    if (FILE* f = OpenStream(props_path, "wb")) {
        fwrite(properties.data(), 1, properties.size(), f);
        fclose(f);
    }

    const std::wstring arguments = Utf8ToWide(args);
    for (const std::wstring& token : SplitArguments(arguments)) {
        if (token.find(L'"') != std::wstring::npos) abort();  // quotes never survive
    }
    Options options(arguments, dir + L"/setup.exe");
    int mode = static_cast<int>(options.GetRunMode());
    if (mode < 0 || mode > 2) abort();
    if (options.TempDirAccepted() && !options.TempDir().empty() && options.TempDir()[0] == L'\'') {
        abort();  // an apostrophe-prefixed directory is never accepted
    }
    return 0;
}
