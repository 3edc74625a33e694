#include "platform/text.h"

namespace {

// Length of the valid UTF-8 sequence at p (1..4), or 0 when the bytes there
// do not form one; *code receives its code point.
size_t DecodeUtf8(const unsigned char* p, size_t left, char32_t* code) {
    unsigned char c = p[0];
    size_t n;
    char32_t value;
    if (c < 0x80) { *code = c; return 1; }
    if ((c & 0xE0) == 0xC0) { n = 2; value = c & 0x1F; }
    else if ((c & 0xF0) == 0xE0) { n = 3; value = c & 0x0F; }
    else if ((c & 0xF8) == 0xF0) { n = 4; value = c & 0x07; }
    else return 0;
    if (n > left) return 0;
    for (size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        value = (value << 6) | (p[i] & 0x3F);
    }
    static const char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kMin[n] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *code = value;
    return n;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::wstring DecodeBytes(const char* bytes, size_t length, bool keep_invalid) {
    std::wstring out;
    out.reserve(length);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
    size_t i = 0;
    while (i < length) {
        char32_t code;
        size_t n = DecodeUtf8(p + i, length - i, &code);
        if (n == 0) {
            out.push_back(keep_invalid ? static_cast<wchar_t>(p[i]) : L'\xFFFD');
            ++i;
        } else {
            out.push_back(static_cast<wchar_t>(code));
            i += n;
        }
    }
    return out;
}

}  // namespace

std::string WideToUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        char32_t code = static_cast<char32_t>(c);
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
        AppendUtf8(out, code);
    }
    return out;
}

std::wstring Utf8ToWide(const std::string& bytes) {
    return DecodeBytes(bytes.data(), bytes.size(), false);
}

std::wstring AnsiToWide(const char* bytes, size_t length) {
    return DecodeBytes(bytes, length, true);
}

std::string WideToAnsi(const std::wstring& text) { return WideToUtf8(text); }

unsigned SystemAnsiCodePage() { return 65001; }
