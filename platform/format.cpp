#include "platform/format.h"

#include <cwchar>
#include <vector>

namespace {

bool IsFlagOrWidth(wchar_t c) {
    return c == L'-' || c == L'+' || c == L' ' || c == L'#' || c == L'0' ||
           (c >= L'1' && c <= L'9') || c == L'.' || c == L'*';
}

bool IsIntegerConversion(wchar_t c) {
    return c == L'd' || c == L'i' || c == L'u' || c == L'x' || c == L'X' || c == L'o';
}

// Rewrites the house format language into the C99 one that both glibc and
// MinGW-w64's conforming stdio implement: %s -> %ls, %c -> %lc, %ld -> %d.
std::wstring TranslateFormat(const wchar_t* format) {
    std::wstring out;
    for (const wchar_t* p = format; *p; ++p) {
        out.push_back(*p);
        if (*p != L'%') continue;
        ++p;
        if (*p == L'%') { out.push_back(L'%'); continue; }
        while (*p && IsFlagOrWidth(*p)) out.push_back(*p++);
        if (*p == L'l' && p[1] == L'l') {          // 64-bit: keep as it is
            out.append(L"ll");
            p += 2;
        } else if (*p == L'l' && IsIntegerConversion(p[1])) {
            ++p;                                    // 32-bit in every build
        } else if (*p == L'h' || *p == L'l' || *p == L'z') {
            out.push_back(*p++);
        }
        if (!*p) break;
        if (*p == L's' || *p == L'c') {
            if (out.back() != L'l') out.push_back(L'l');
        }
        out.push_back(*p);
    }
    return out;
}

// Largest text ever produced before cutting; callers' buffers are far smaller.
constexpr size_t kWorkLimit = 1u << 16;

std::wstring FormatAll(size_t max_length, const wchar_t* format, va_list args) {
    const std::wstring translated = TranslateFormat(format ? format : L"");
    size_t size = 512;
    std::vector<wchar_t> work;
    for (;;) {
        work.assign(size + 1, L'\0');
        va_list copy;
        va_copy(copy, args);
        int n = std::vswprintf(work.data(), size + 1, translated.c_str(), copy);
        va_end(copy);
        work[size] = L'\0';
        if (n >= 0 && static_cast<size_t>(n) <= size) {
            return std::wstring(work.data(), n < static_cast<int>(max_length) ? n : max_length);
        }
        // Too small (or an encoding error): grow up to the limit, then keep
        // whatever the library managed to write.
        if (size >= kWorkLimit) {
            std::wstring text(work.data());
            if (text.size() > max_length) text.resize(max_length);
            return text;
        }
        size *= 4;
    }
}

}  // namespace

std::wstring FormatStringV(size_t max_length, const wchar_t* format, va_list args) {
    return FormatAll(max_length, format, args);
}

std::wstring FormatString(size_t max_length, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = FormatAll(max_length, format, args);
    va_end(args);
    return text;
}

size_t FormatBoundedV(wchar_t* out, size_t capacity, const wchar_t* format, va_list args) {
    if (!out || capacity == 0) return 0;
    const std::wstring text = FormatAll(capacity - 1, format, args);
    text.copy(out, text.size());
    out[text.size()] = L'\0';
    return text.size();
}

size_t FormatBounded(wchar_t* out, size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    size_t n = FormatBoundedV(out, capacity, format, args);
    va_end(args);
    return n;
}
