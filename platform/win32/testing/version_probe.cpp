// Test helper (Windows builds): reads back what Windows itself sees of a
// program's branding. For FILE it prints, one per line, in UTF-8:
//   KEY=VALUE           each version string of the first translation
//   fixed FileVersion=a.b.c.d, fixed ProductVersion=a.b.c.d
//   icons=N             the number of icons ExtractIconExW counts
//   large=WxH:HASH, small=WxH:HASH   the first icon's pixels and mask
// FILE may also be an .ico file: then only the icon lines are printed.
// Exit code 0, or 1 when the file gives no icon.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

void Print(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::vector<char> utf8(static_cast<size_t>(n > 0 ? n : 1));
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), n, nullptr, nullptr);
    std::fputs(utf8.data(), stdout);
    std::fputs("\n", stdout);
}

std::wstring Version(DWORD ms, DWORD ls) {
    wchar_t text[64];
    swprintf(text, 64, L"%u.%u.%u.%u", HIWORD(ms), LOWORD(ms), HIWORD(ls), LOWORD(ls));
    return text;
}

void PrintVersion(const wchar_t* path) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &handle);
    if (size == 0) return;
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(path, 0, size, block.data())) return;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed) {
        Print(L"fixed FileVersion=" + Version(fixed->dwFileVersionMS, fixed->dwFileVersionLS));
        Print(L"fixed ProductVersion=" + Version(fixed->dwProductVersionMS, fixed->dwProductVersionLS));
    }
    WORD* translation = nullptr;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &length) || length < 4) {
        return;
    }
    wchar_t prefix[64];
    swprintf(prefix, 64, L"\\StringFileInfo\\%04X%04X\\", translation[0], translation[1]);
    static const wchar_t* const kKeys[] = {L"ProductName",      L"CompanyName",    L"FileDescription",
                                           L"FileVersion",      L"ProductVersion", L"LegalCopyright",
                                           L"OriginalFilename", L"InternalName",   L"Comments"};
    for (const wchar_t* key : kKeys) {
        wchar_t* value = nullptr;
        if (VerQueryValueW(block.data(), (std::wstring(prefix) + key).c_str(),
                           reinterpret_cast<void**>(&value), &length) && value) {
            Print(std::wstring(key) + L"=" + value);
        }
    }
}

// FNV-1a over the icon's colour and mask bitmaps as 32-bit top-down DIBs.
std::wstring IconFingerprint(HICON icon) {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) return L"none";
    BITMAP bitmap{};
    GetObjectW(info.hbmMask, sizeof bitmap, &bitmap);
    const int width = bitmap.bmWidth;
    const int height = info.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2;
    unsigned long long hash = 1469598103934665603ULL;
    HDC dc = GetDC(nullptr);
    for (HBITMAP part : {info.hbmColor, info.hbmMask}) {
        if (!part) continue;
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = width;
        bi.bmiHeader.biHeight = -height;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        std::vector<BYTE> pixels(static_cast<size_t>(width) * height * 4);
        GetDIBits(dc, part, 0, static_cast<UINT>(height), pixels.data(), &bi, DIB_RGB_COLORS);
        for (BYTE b : pixels) hash = (hash ^ b) * 1099511628211ULL;
    }
    ReleaseDC(nullptr, dc);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    wchar_t text[96];
    swprintf(text, 96, L"%dx%d:%016llx", width, height, hash);
    return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: version_probe FILE\n", stderr);
        return 2;
    }
    PrintVersion(argv[1]);
    const UINT count = ExtractIconExW(argv[1], -1, nullptr, nullptr, 0);
    Print(L"icons=" + std::to_wstring(count));
    HICON large = nullptr, small = nullptr;
    if (ExtractIconExW(argv[1], 0, &large, &small, 1) == 0 || !large) return 1;
    Print(L"large=" + IconFingerprint(large));
    if (small) Print(L"small=" + IconFingerprint(small));
    DestroyIcon(large);
    if (small) DestroyIcon(small);
    return 0;
}
