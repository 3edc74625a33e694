#include <windows.h>

#include "platform/text.h"

namespace {

std::wstring FromCodePage(UINT code_page, const char* bytes, int length) {
    if (length <= 0) return std::wstring();
    int n = MultiByteToWideChar(code_page, 0, bytes, length, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(code_page, 0, bytes, length, &out[0], n);
    return out;
}

std::string ToCodePage(UINT code_page, const std::wstring& text) {
    if (text.empty()) return std::string();
    int length = static_cast<int>(text.size());
    int n = WideCharToMultiByte(code_page, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(code_page, 0, text.data(), length, &out[0], n, nullptr, nullptr);
    return out;
}

}  // namespace

std::string WideToUtf8(const std::wstring& text) { return ToCodePage(CP_UTF8, text); }

std::wstring Utf8ToWide(const std::string& bytes) {
    return FromCodePage(CP_UTF8, bytes.data(), static_cast<int>(bytes.size()));
}

std::wstring AnsiToWide(const char* bytes, size_t length) {
    return FromCodePage(CP_ACP, bytes, static_cast<int>(length));
}

std::string WideToAnsi(const std::wstring& text) { return ToCodePage(CP_ACP, text); }

unsigned SystemAnsiCodePage() {
    wchar_t value[8] = {0};
    if (GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE, value, 8) <= 0) {
        return GetACP();
    }
    return static_cast<unsigned>(wcstoul(value, nullptr, 10));
}
