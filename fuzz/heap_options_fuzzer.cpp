// Fuzzes StripHeapOptions, which removes -jvmxms and -jvmxmx with the word
// after each from the command line handed to the launcher. Input: the
// command line, UTF-8.
//
// Checked on every input, against a plain model of the rule (words are
// separated by runs of spaces; a heap option and the word after it go; the
// other words stay, in order, each followed by one space):
//   - the result equals the model's;
//   - no word of the result is a heap option;
//   - a non-empty result ends with a space and never holds two spaces in a
//     row or starts with one;
//   - stripping the result again changes nothing.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/text.h"
#include "sea/launch.h"

namespace {

bool IsHeapOption(const std::wstring& word) { return word == L"-jvmxms" || word == L"-jvmxmx"; }

std::vector<std::wstring> Words(const std::wstring& line) {
    std::vector<std::wstring> words;
    std::wstring word;
    for (wchar_t c : line + L" ") {
        if (c != L' ') {
            word.push_back(c);
        } else if (!word.empty()) {
            words.push_back(word);
            word.clear();
        }
    }
    return words;
}

std::wstring Model(const std::wstring& line) {
    const std::vector<std::wstring> words = Words(line);
    std::wstring out;
    for (size_t i = 0; i < words.size(); ++i) {
        if (IsHeapOption(words[i])) {
            ++i;  // the option's value, whatever it is
            continue;
        }
        out += words[i] + L" ";
    }
    return out;
}

[[noreturn]] void Fail(const char* what, const std::wstring& input, const std::wstring& output) {
    fprintf(stderr, "%s\ninput:  [%s]\noutput: [%s]\n", what, WideToUtf8(input).c_str(),
            WideToUtf8(output).c_str());
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring input =
        Utf8ToWide(std::string(reinterpret_cast<const char*>(data), size));
    std::wstring line = input;
    StripHeapOptions(line);

    if (line != Model(input)) Fail("differs from the model", input, line);
    for (const std::wstring& word : Words(line)) {
        if (IsHeapOption(word)) Fail("a heap option survived", input, line);
    }
    if (!line.empty()) {
        if (line.back() != L' ') Fail("no trailing space", input, line);
        if (line.front() == L' ') Fail("a leading space", input, line);
        if (line.find(L"  ") != std::wstring::npos) Fail("two spaces in a row", input, line);
    }
    std::wstring again = line;
    StripHeapOptions(again);
    if (again != line) Fail("not stable when stripped again", input, again);
    return 0;
}
