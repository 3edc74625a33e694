#include "archive/name_string.h"

#include <cwchar>
#include <cwctype>
#include <new>

namespace {

const wchar_t* OrEmpty(const wchar_t* text) { return text ? text : L""; }

const wchar_t* FindLast(const wchar_t* text, wchar_t c) { return wcsrchr(text, c); }

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

int CompareIgnoringCase(const wchar_t* a, const wchar_t* b) {
    for (;; ++a, ++b) {
        wint_t ca = towlower(static_cast<wint_t>(*a));
        wint_t cb = towlower(static_cast<wint_t>(*b));
        if (ca != cb) return ca < cb ? -1 : 1;
        if (ca == 0) return 0;
    }
}

}  // namespace

ALNameString::ALNameString(const wchar_t* text, ALNameCase mode) : case_mode_(mode) {
    text = OrEmpty(text);
    current_ = MakeCopy(text, wcslen(text));
}

ALNameString::ALNameString(const ALNameString& other) : case_mode_(other.case_mode_) {
    const wchar_t* text = other.GetName();
    current_ = MakeCopy(text, wcslen(text));
}

ALNameString::~ALNameString() {
    delete[] current_;
    delete[] previous_;
}

wchar_t* ALNameString::MakeCopy(const wchar_t* text, size_t length) const {
    wchar_t* copy = new (std::nothrow) wchar_t[length + 1];
    if (!copy) return nullptr;
    for (size_t i = 0; i < length; ++i) {
        wint_t c = static_cast<wint_t>(text[i]);
        if (case_mode_ == NameCaseUpper) c = towupper(c);
        else if (case_mode_ == NameCaseLower) c = towlower(c);
        copy[i] = static_cast<wchar_t>(c);
    }
    copy[length] = L'\0';
    return copy;
}

void ALNameString::Replace(wchar_t* replacement) {
    delete[] previous_;
    previous_ = current_;
    current_ = replacement;
}

void ALNameString::Assign(const wchar_t* text) {
    if (text && text == current_) return;
    text = OrEmpty(text);
    // The copy is made before anything is released: text may be the
    // previous name (a rename being undone).
    Replace(MakeCopy(text, wcslen(text)));
}

const wchar_t* ALNameString::GetName() const { return OrEmpty(current_); }
const wchar_t* ALNameString::GetPreviousName() const { return OrEmpty(previous_); }

int ALNameString::Compare(const wchar_t* text) const {
    return CompareTexts(GetName(), text, case_mode_);
}

int ALNameString::CompareTexts(const wchar_t* a, const wchar_t* b, ALNameCase mode) {
    if (mode == NameCaseExact) return wcscmp(OrEmpty(a), OrEmpty(b));
    return CompareIgnoringCase(OrEmpty(a), OrEmpty(b));
}

void ALNameString::ChangeExtension(const wchar_t* extension) {
    const wchar_t* name = GetName();
    extension = OrEmpty(extension);
    const wchar_t* dot = FindLast(name, L'.');
    const size_t keep = dot ? static_cast<size_t>(dot - name) : wcslen(name);
    const size_t ext_length = wcslen(extension);
    wchar_t* joined = new (std::nothrow) wchar_t[keep + ext_length + 1];
    if (joined) {
        wmemcpy(joined, name, keep);
        wmemcpy(joined + keep, extension, ext_length + 1);
    }
    wchar_t* copy = joined ? MakeCopy(joined, keep + ext_length) : nullptr;
    delete[] joined;
    Replace(copy);
}

void ALNameString::StripPath() {
    if (!current_) return;
    const wchar_t* cut = FindLast(current_, L'\\');
    if (!cut) cut = FindLast(current_, L'/');
    if (!cut) cut = FindLast(current_, L':');
    if (!cut) return;
    const size_t rest = wcslen(cut + 1);
    wmemmove(current_, cut + 1, rest + 1);
}

void ALNameString::MakeArchivePath() {
    if (!current_) return;
    for (wchar_t* p = current_; *p; ++p) {
        if (*p == L'\\') *p = L'/';
    }
    wchar_t* start = current_;
    if (wcslen(start) > 3 && start[0] == L'/' && start[1] == L'/') {
        // "//server/share/rest": skip the server and the share names.
        wchar_t* p = start + 2;
        for (int component = 0; component < 2 && *p; ++component) {
            while (*p && *p != L'/') ++p;
            if (*p == L'/') ++p;
        }
        start = p;
    }
    if (wcslen(start) > 2 && IsAsciiLetter(start[0]) && start[1] == L':') start += 2;
    if (start[0] == L'/') ++start;
    wmemmove(current_, start, wcslen(start) + 1);
}
