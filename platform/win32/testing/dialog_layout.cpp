// Measures the progress dialog in every language variant at the display's
// DPI. For each visible state it creates the language's template, puts the
// dialog into that state through the program's own state operations, and
// checks
//   - every shown static text and button caption, measured in the control's
//     own font (DrawTextW with DT_CALCRECT and the control's word breaking),
//     against the control's client rectangle (clipped);
//   - every shown icon: the image made for the dialog's scale, whole;
//   - every shown control against the dialog's client area (outside);
//   - every pair of shown controls (overlap), except the main text and the
//     activity label, which share the main text's second line by design:
//     there the main text's measured lines must end above the label.
// It prints one row per language and state and exits 1 on any problem.
//
//   dialog_layout --dpi N [--shots DIR --shot-languages en,de,...]
//
// --dpi is the DPI the display is expected to have (the Wine prefix's
// LogPixels); with --shots the dialog of each listed language is put on
// screen in each state and saved as DIR\<language>-<state>-<dpi>dpi.bmp.
#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/dialog_controls.h"
#include "platform/dialog_host.h"
#include "resources/resource_ids.h"
#include "sea/dialog_state.h"
#include "sea/progress_dialog.h"
#include "sea/run_state.h"

namespace {

struct Language {
    const char* code;
    LANGID id;
};
const Language kLanguages[] = {
    {"ca", 0x0003},    {"cs", 0x0005},    {"da", 0x0006},    {"de", 0x0007},    {"el", 0x0008},
    {"en", 0x0009},    {"es", 0x000A},    {"fi", 0x000B},    {"fr", 0x000C},    {"hu", 0x000E},
    {"it", 0x0010},    {"ja", 0x0011},    {"ko", 0x0012},    {"nl", 0x0013},    {"no", 0x0014},
    {"pl", 0x0015},    {"ru", 0x0019},    {"sv", 0x001D},    {"th", 0x001E},    {"tr", 0x001F},
    {"id", 0x0021},    {"sl", 0x0024},    {"eu", 0x002D},    {"ar-SA", 0x0401}, {"zh-TW", 0x0404},
    {"he-IL", 0x040D}, {"pt-BR", 0x0416}, {"zh-CN", 0x0804}, {"pt-PT", 0x0816}, {"fr-CA", 0x0C0C},
};

// The visible states, each reached as the driver reaches it: every
// extraction attempt starts in the preparing state.
void Preparing() {
    ShowPreparing();
    UpdatePercent(100);  // the widest percentage
}
void ErrorNotEnoughRoom() {
    ShowPreparing();
    ShowError(IDS_NOT_ENOUGH_ROOM);
}
void ErrorCannotExecute() {
    ShowPreparing();
    ShowError(IDS_CANNOT_EXECUTE);
}
void AskTemp() {
    ShowPreparing();
    AskForTempLocation();
}
void AskAnother() {
    ShowPreparing();
    AskForAnotherLocation(LoadText(IDS_CANNOT_CREATE_SEA_LOC));
}
struct State {
    const char* name;
    void (*apply)();
};
const State kStates[] = {
    {"preparing", Preparing},       {"error-14", ErrorNotEnoughRoom}, {"error-18", ErrorCannotExecute},
    {"ask-temp", AskTemp},          {"ask-another", AskAnother},
};

const int kControls[] = {IDC_OK,         IDC_CANCEL,      IDC_MAIN_TEXT,   IDC_ACTIVITY_TEXT, IDC_SECOND_TEXT,
                         IDC_PROGRESS,   IDC_PERCENT_TEXT, IDC_SPACER,     IDC_CHOOSE,        IDC_ICON_NORMAL,
                         IDC_ICON_ERROR, IDC_ICON_WARNING, IDC_FOOTER};

int Scale(int pixels_at_96, int dpi) { return MulDiv(pixels_at_96, dpi, 96); }

// --- measuring ---------------------------------------------------------------

struct Measured {
    int id = 0;
    bool shown = false;
    RECT window = {};   // screen pixels
    int client_w = 0;   // the control's client area
    int client_h = 0;
    int need_w = 0;     // what its text (or icon) takes, 0 for none
    int need_h = 0;
    bool has_text = false;
};

std::wstring TextOf(HWND control) {
    wchar_t text[512] = {0};
    GetWindowTextW(control, text, 512);
    return text;
}

// The text's extent in the control's font, laid out as the control lays
// it out: static texts word-broken to the client width, button captions
// on one line. Both take the "&" access-key prefix as the controls do.
SIZE TextExtent(HWND control, const std::wstring& text, UINT format, int width) {
    HDC dc = GetDC(control);
    HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0));
    HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
    RECT area = {0, 0, width, 0};
    DrawTextW(dc, text.c_str(), -1, &area, format | DT_CALCRECT);
    if (old) SelectObject(dc, old);
    ReleaseDC(control, dc);
    return SIZE{area.right - area.left, area.bottom - area.top};
}

void MeasureText(HWND control, Measured& m, int dpi) {
    wchar_t class_name[32] = {0};
    GetClassNameW(control, class_name, 32);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    const LONG exstyle = GetWindowLongW(control, GWL_EXSTYLE);
    const UINT reading = (exstyle & WS_EX_RTLREADING) ? DT_RTLREADING : 0;
    const std::wstring text = TextOf(control);
    if (_wcsicmp(class_name, L"Static") == 0) {
        const LONG type = style & SS_TYPEMASK;
        if (type != SS_LEFT && type != SS_CENTER && type != SS_RIGHT) return;
        UINT format = DT_WORDBREAK | DT_EXPANDTABS | reading;
        format |= type == SS_CENTER ? DT_CENTER : type == SS_RIGHT ? DT_RIGHT : DT_LEFT;
        if (style & SS_NOPREFIX) format |= DT_NOPREFIX;
        SIZE need = TextExtent(control, text, format, m.client_w);
        m.need_w = need.cx;
        m.need_h = need.cy;
        m.has_text = true;
    } else if (_wcsicmp(class_name, L"Button") == 0) {
        if ((style & BS_TYPEMASK) == BS_OWNERDRAW) return;  // draws its own (empty) text
        // Inside the 3-D border and the focus rectangle.
        SIZE need = TextExtent(control, text, DT_SINGLELINE | reading, 0);
        m.need_w = need.cx + 2 * Scale(4, dpi);
        m.need_h = need.cy + 2 * Scale(2, dpi);
        m.has_text = true;
    }
}

Measured Measure(HWND dialog, int id, int dpi) {
    Measured m;
    m.id = id;
    HWND control = GetDlgItem(dialog, id);
    if (!control) return m;
    m.shown = (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0;
    GetWindowRect(control, &m.window);
    RECT client = {};
    GetClientRect(control, &client);
    m.client_w = client.right;
    m.client_h = client.bottom;
    if (!m.shown) return m;
    if (id == IDC_ICON_NORMAL || id == IDC_ICON_ERROR || id == IDC_ICON_WARNING) {
        ControlIcon icon = GetControlIcon(dialog, id);
        m.need_w = m.need_h = icon.size;
        return m;
    }
    MeasureText(control, m, dpi);
    return m;
}

// Controls that touch in dialog units may share one row or column of
// pixels: the dialog manager rounds each control's position and size to
// pixels on its own. Only a wider intersection is an overlap.
constexpr int kRoundingPixels = 1;

bool Intersect(const RECT& a, const RECT& b) {
    const LONG width = std::min(a.right, b.right) - std::max(a.left, b.left);
    const LONG height = std::min(a.bottom, b.bottom) - std::max(a.top, b.top);
    return width > kRoundingPixels && height > kRoundingPixels;
}

// One language in one state: its problems, one text each.
struct Findings {
    int texts = 0;
    std::vector<std::string> clipped;
    std::vector<std::string> collisions;
};

std::string Printf(const char* format, ...) {
    char buffer[256];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

void CheckIcon(HWND dialog, const Measured& m, int dpi, Findings& out) {
    const int want = IconSizeForDpi(dpi);
    ControlIcon icon = GetControlIcon(dialog, m.id);
    if (icon.size != want) out.clipped.push_back(Printf("%d: %d px icon, want %d", m.id, icon.size, want));
    if (m.client_w < icon.size || m.client_h < icon.size) {
        out.clipped.push_back(Printf("%d: icon in %dx%d", m.id, m.client_w, m.client_h));
    }
}

Findings Check(HWND dialog, int dpi) {
    Findings out;
    std::vector<Measured> shown;
    for (int id : kControls) {
        Measured m = Measure(dialog, id, dpi);
        if (m.shown) shown.push_back(m);
    }
    WINDOWINFO info = {};
    info.cbSize = sizeof info;
    GetWindowInfo(dialog, &info);
    const RECT area = info.rcClient;
    const Measured* main_text = nullptr;
    const Measured* label = nullptr;
    for (const Measured& m : shown) {
        if (m.id == IDC_MAIN_TEXT) main_text = &m;
        if (m.id == IDC_ACTIVITY_TEXT) label = &m;
        if (m.id == IDC_ICON_NORMAL || m.id == IDC_ICON_ERROR || m.id == IDC_ICON_WARNING) {
            CheckIcon(dialog, m, dpi, out);
        } else if (m.has_text) {
            ++out.texts;
            if (m.need_w > m.client_w || m.need_h > m.client_h) {
                out.clipped.push_back(Printf("%d: %dx%d in %dx%d", m.id, m.need_w, m.need_h, m.client_w, m.client_h));
            }
        }
        if (m.window.left < area.left || m.window.top < area.top || m.window.right > area.right ||
            m.window.bottom > area.bottom) {
            out.collisions.push_back(Printf("%d outside", m.id));
        }
    }
    for (size_t i = 0; i < shown.size(); ++i) {
        for (size_t j = i + 1; j < shown.size(); ++j) {
            const Measured& a = shown[i];
            const Measured& b = shown[j];
            const bool by_design = (a.id == IDC_MAIN_TEXT && b.id == IDC_ACTIVITY_TEXT) ||
                                   (a.id == IDC_ACTIVITY_TEXT && b.id == IDC_MAIN_TEXT);
            if (!by_design && Intersect(a.window, b.window)) {
                out.collisions.push_back(Printf("%d/%d overlap", a.id, b.id));
            }
        }
    }
    if (main_text && label && main_text->window.top + main_text->need_h > label->window.top) {
        out.collisions.push_back(Printf("%d lines reach %d", IDC_MAIN_TEXT, IDC_ACTIVITY_TEXT));
    }
    return out;
}

// --- the dialog ----------------------------------------------------------------

INT_PTR CALLBACK LayoutDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message != WM_INITDIALOG) return FALSE;
    DialogEvent init{DialogEventKind::kInit};
    init.instance = GetModuleHandleW(nullptr);
    return ProgressDialogProc(dialog, init) ? TRUE : FALSE;
}

void NoTimer(void*, int, unsigned) {}
void NoKill(void*, int) {}

// String `id` of the language's own table.
std::wstring StringOf(LANGID language, int id) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceExW(module, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(id / 16 + 1), language);
    if (!found) return std::wstring();
    const auto* data = static_cast<const WCHAR*>(LockResource(LoadResource(module, found)));
    for (int i = 0; data && i < id % 16; ++i) data += 1 + *data;
    return data ? std::wstring(data + 1, *data) : std::wstring();
}

// The state operations load their strings in the language the resource
// loader picks for the process (the user's); a thread cannot choose
// another under Wine. The texts they set are put into the variant's
// language instead: each string-table text is replaced by the entry of the
// same id in the variant's table. False when a text is no table entry.
const int kStringIds[] = {1, 2, 3, 4, 5, 6, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 20, 21};

bool Translate(HWND dialog, LANGID language) {
    for (int control : {IDC_MAIN_TEXT, IDC_SECOND_TEXT}) {
        const std::wstring text = GetControlText(dialog, control);
        if (text.empty()) continue;
        int found = 0;
        for (int id : kStringIds) {
            if (LoadText(id) == text) found = id;
        }
        if (!found) return false;
        SetControlText(dialog, control, StringOf(language, found));
    }
    return true;
}

HWND CreateVariant(LANGID language) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceExW(module, MAKEINTRESOURCEW(5), IDD_PROGRESSINDICATOR, language);
    if (!found) return nullptr;
    auto* dialog_template = static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(module, found)));
    return CreateDialogIndirectParamW(module, dialog_template, nullptr, LayoutDialogProc, 0);
}

void Pump(DWORD milliseconds) {
    const DWORD until = GetTickCount() + milliseconds;
    MSG msg;
    while (static_cast<LONG>(until - GetTickCount()) > 0) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
}

// The dialog's window as a 24-bit bottom-up BMP file.
bool SaveWindow(HWND dialog, const std::wstring& path) {
    RECT r = {};
    GetWindowRect(dialog, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC source = GetWindowDC(dialog);
    SetLayout(source, 0);  // mirrored dialogs: the pixels as on screen
    HDC memory = CreateCompatibleDC(source);
    BITMAPINFO bmi = {};
    bmi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, source, 0, 0, SRCCOPY);
    GdiFlush();
    const DWORD stride = ((w * 3 + 3) / 4) * 4;
    const DWORD image_size = stride * h;
    const DWORD headers = static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER));
    BITMAPFILEHEADER file = {0x4D42, headers + image_size, 0, 0, headers};
    bmi.bmiHeader.biSizeImage = image_size;
    HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    bool ok = out != INVALID_HANDLE_VALUE && WriteFile(out, &file, sizeof file, &written, nullptr) &&
              WriteFile(out, &bmi.bmiHeader, sizeof bmi.bmiHeader, &written, nullptr) &&
              WriteFile(out, bits, image_size, &written, nullptr);
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(dialog, source);
    return ok;
}

struct Options {
    int dpi = 0;
    std::wstring shots;
    std::wstring shot_languages;
    std::wstring languages;  // empty: all of them
};

std::wstring Widen(const char* ascii) {
    std::wstring wide;
    for (const char* c = ascii; *c; ++c) wide += static_cast<wchar_t>(*c);
    return wide;
}

bool Listed(const std::wstring& list, const char* code) {
    return (L"," + list + L",").find(L"," + Widen(code) + L",") != std::wstring::npos;
}

bool Shoots(const Options& options, const char* code) {
    return !options.shots.empty() && Listed(options.shot_languages, code);
}

// One language: every state measured (and shot); the number of problems.
int RunLanguage(const Language& language, const Options& options) {
    HWND dialog = CreateVariant(language.id);
    if (!dialog) {
        std::printf("%-6s %4d  the template cannot be created\n", language.code, options.dpi);
        return 1;
    }
    int problems = 0;
    const int dpi = DialogDpi(dialog);
    if (dpi != options.dpi) {
        std::printf("%-6s %4d  the dialog is laid out for %d DPI\n", language.code, options.dpi, dpi);
        ++problems;
    }
    RECT client = {};
    GetClientRect(dialog, &client);
    const bool shoot = Shoots(options, language.code);
    if (shoot) {
        SetWindowPos(dialog, HWND_TOP, 20, 20, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW | SWP_NOACTIVATE);
    }
    for (const State& state : kStates) {
        state.apply();
        if (!Translate(dialog, language.id)) {
            std::printf("%-6s %4d  %s: a text of the state is not in the string table\n", language.code,
                        options.dpi, state.name);
            ++problems;
        }
        Findings found = Check(dialog, options.dpi);
        std::printf("%-6s %4d  %-12s %4ldx%-4ld %2d texts  %-7s", language.code, options.dpi, state.name,
                    client.right, client.bottom, found.texts,
                    found.clipped.empty() && found.collisions.empty() ? "ok" : "FAILED");
        for (const std::string& text : found.clipped) std::printf("  clipped %s;", text.c_str());
        for (const std::string& text : found.collisions) std::printf("  %s;", text.c_str());
        std::printf("\n");
        problems += static_cast<int>(found.clipped.size() + found.collisions.size());
        if (shoot) {
            RedrawWindow(dialog, nullptr, nullptr,
                         RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
            Pump(150);
            const std::wstring path = options.shots + L"\\" + Widen(language.code) + L"-" + Widen(state.name) +
                                      L"-" + std::to_wstring(options.dpi) + L"dpi.bmp";
            if (!SaveWindow(dialog, path)) {
                std::printf("%-6s %4d  %s: the screenshot cannot be saved\n", language.code, options.dpi, state.name);
                ++problems;
            }
        }
    }
    ReleaseControlIcons(dialog);
    DestroyWindow(dialog);
    g_run.dialog = nullptr;
    return problems;
}

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        std::wstring name = argv[i];
        if (name == L"--dpi") {
            options.dpi = _wtoi(argv[i + 1]);
        } else if (name == L"--shots") {
            options.shots = argv[i + 1];
        } else if (name == L"--shot-languages") {
            options.shot_languages = argv[i + 1];
        } else if (name == L"--languages") {
            options.languages = argv[i + 1];
        } else {
            return false;
        }
    }
    return options.dpi > 0 && argc % 2 == 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: dialog_layout --dpi N [--languages th,...] [--shots DIR --shot-languages en,de,...]\n");
        return 2;
    }
    // The dialog's own procedure initialises each variant; it must not
    // start the extraction timer here.
    DialogServices().start_timer = NoTimer;
    DialogServices().kill_timer = NoKill;
    std::printf("language dpi state        client   texts  result\n");
    int problems = 0;
    size_t measured = 0;
    for (const Language& language : kLanguages) {
        if (!options.languages.empty() && !Listed(options.languages, language.code)) continue;
        problems += RunLanguage(language, options);
        ++measured;
    }
    std::printf("%d problems in %zu languages x %zu states at %d DPI\n", problems, measured,
                sizeof kStates / sizeof kStates[0], options.dpi);
    std::fflush(stdout);
    return problems ? 1 : 0;
}
