#include "tools/sea_build/tree/shown_name.h"

#include <cstdint>

#include "platform/format.h"

namespace {

bool IsSurrogate(uint32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// Characters written as "\u....": they are no escape of a byte.
bool NeedsUnicodeEscape(uint32_t c) {
    return (c >= 0x80 && c <= 0x9F) || c == 0x200E || c == 0x200F || (c >= 0x2028 && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

std::wstring Escape(const wchar_t* format, uint32_t value) {
    return FormatString(16, format, static_cast<int32_t>(value));
}

// Length (2 to 4) of the valid UTF-8 sequence at bytes[i], with its code
// point in code; 0 when the bytes there form none.
size_t SequenceAt(const std::string& bytes, size_t i, uint32_t& code) {
    const uint8_t lead = static_cast<uint8_t>(bytes[i]);
    const size_t n = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (n == 0 || bytes.size() - i < n || lead > 0xF4) return 0;
    code = lead & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
        const uint8_t next = static_cast<uint8_t>(bytes[i + k]);
        if ((next & 0xC0) != 0x80) return 0;
        code = (code << 6) | (next & 0x3F);
    }
    static const uint32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    return code < kSmallest[n] || code > 0x10FFFF || IsSurrogate(code) ? 0 : n;
}

}  // namespace

std::wstring ShownName(const std::wstring& text) {
    std::wstring shown;
    shown.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const uint32_t c = static_cast<uint32_t>(text[i]);
        const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
                          static_cast<uint32_t>(text[i + 1]) >= 0xDC00 &&
                          static_cast<uint32_t>(text[i + 1]) <= 0xDFFF;
        if (pair) {
            shown.append(text, i, 2);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            shown += Escape(L"\\x%02lx", c);
        } else if (NeedsUnicodeEscape(c) || IsSurrogate(c)) {
            shown += Escape(L"\\u%04lx", c);
        } else {
            shown.push_back(text[i]);
        }
    }
    return shown;
}

std::wstring ShownLine(const std::wstring& line) {
    if (line.empty() || line.back() != L'\n') return ShownName(line);
    return ShownName(line.substr(0, line.size() - 1)) + L"\n";
}

std::wstring ShownBytes(const std::string& bytes) {
    std::wstring text;
    for (size_t i = 0; i < bytes.size();) {
        const uint8_t b = static_cast<uint8_t>(bytes[i]);
        uint32_t code = b;
        const size_t n = b < 0x80 ? 1 : SequenceAt(bytes, i, code);
        if (n == 0) {
            text += Escape(L"\\x%02lx", b);
            ++i;
            continue;
        }
        if (code > 0xFFFF && sizeof(wchar_t) == 2) {
            text.push_back(static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10)));
            text.push_back(static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            text.push_back(static_cast<wchar_t>(code));
        }
        i += n;
    }
    return ShownName(text);
}
