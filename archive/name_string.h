// ALNameString: the wide name of a storage object or an archive. It keeps the
// value it had before the last change, so that a rename can be undone, and
// applies a case mode to every text it stores.
#pragma once

#include <cstddef>
#include <cstdint>

enum ALNameCase : int32_t {
    NameCaseUpper = 0,   // stored upper-cased
    NameCaseLower = 1,   // stored lower-cased
    NameCaseExact = 2,   // stored as given, compared case-sensitively (archives)
    NameCaseIgnore = 3,  // stored as given, compared ignoring case (files)
};

class ALNameString {
public:
    // Copies text (null counts as empty) with the case mode applied; there
    // is no previous name. When the copy cannot be allocated the current
    // name is null (see HasText) and reads as empty.
    explicit ALNameString(const wchar_t* text = L"", ALNameCase mode = NameCaseIgnore);
    // Copies the current text and the case mode of other (not its previous name).
    ALNameString(const ALNameString& other);
    ALNameString& operator=(const ALNameString&) = delete;
    ~ALNameString();

    // Replaces the current name with a copy of text (null counts as empty),
    // case mode applied; the replaced name becomes the previous name.
    // Assigning the current text object itself does nothing. When the copy
    // cannot be allocated the current name becomes the previous name and
    // the current name is null.
    void Assign(const wchar_t* text);

    // The texts, empty when null. Valid until the next change of the name.
    const wchar_t* GetName() const;
    const wchar_t* GetPreviousName() const;
    ALNameCase GetCaseMode() const { return case_mode_; }
    // False when the current name is null (an allocation failed).
    bool HasText() const { return current_ != nullptr; }
    bool IsEmpty() const { return !current_ || current_[0] == L'\0'; }

    // Compares with text: case-sensitively in NameCaseExact mode, ignoring
    // case otherwise. Returns <0, 0 or >0 like wcscmp.
    int Compare(const wchar_t* text) const;
    // The same comparison of two texts under a given case mode.
    static int CompareTexts(const wchar_t* a, const wchar_t* b, ALNameCase mode);

    // Replaces everything from the last '.' anywhere in the name with
    // extension (appends it when there is no '.'); the old name becomes the
    // previous name. "dir.x/data" with ".bak" gives "dir.bak".
    void ChangeExtension(const wchar_t* extension);
    // Keeps what follows the last '\\'; without one, the last '/'; without
    // one, the last ':'. A name without any of them stays whole.
    void StripPath();
    // Turns the name into a relative path with '/' separators: drops a
    // "//server/share/" prefix, a drive letter with ':' and one leading '/'.
    void MakeArchivePath();

private:
    // A heap copy of text with the case mode applied, or null.
    wchar_t* MakeCopy(const wchar_t* text, size_t length) const;
    // The current name becomes the previous one and replacement the current.
    void Replace(wchar_t* replacement);

    wchar_t* current_ = nullptr;
    wchar_t* previous_ = nullptr;
    ALNameCase case_mode_;
};
