// Version information resources (VS_VERSIONINFO): a tree of blocks, each
// with a key, an optional text or binary value and children; and the keys
// a vendor may set in it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct VersionBlock {
    std::u16string key;
    bool text = false;          // wType 1: the value is UTF-16 text
    std::vector<uint8_t> value; // as stored; text includes its NUL
    std::vector<VersionBlock> children;
};

// Decodes a version resource. False with a reason when a block's length
// runs past its parent or the data.
bool ReadVersionInfo(const std::vector<uint8_t>& data, VersionBlock& root, std::wstring& error);

// Encodes root into out; blocks start on 32-bit boundaries, padding is
// zero, and each length leaves out the block's trailing padding, as
// resource compilers write it. False when a block outgrows the 16-bit
// length field.
bool WriteVersionInfo(const VersionBlock& root, std::vector<uint8_t>& out, std::wstring& error);

// One --version-info KEY=VALUE: the key in its canonical spelling and the
// value as UTF-16. For FileVersion and ProductVersion, version holds the
// numbers a.b.c.d for the fixed part (is_version set).
struct VersionSetting {
    std::u16string key;
    std::u16string value;
    bool is_version = false;
    uint16_t version[4] = {0, 0, 0, 0};
};

// The longest value accepted, in UTF-16 units.
constexpr size_t kMaxVersionValue = 1024;

// Parses text "KEY=VALUE". Keys (any letter case): ProductName,
// CompanyName, FileDescription, FileVersion, ProductVersion,
// LegalCopyright, OriginalFilename, InternalName, Comments. The value must
// not be empty nor longer than kMaxVersionValue; a version is one to four
// numbers 0-65535 separated by dots (missing ones are 0). False with a
// reason that quotes text.
bool ParseVersionSetting(const std::wstring& text, VersionSetting& setting, std::wstring& error);

// The version information of a program that has none: the fixed part for
// an application, an empty US English / Unicode string table and its
// translation entry.
VersionBlock NewVersionInfo();

// Applies settings to root: every string table gets each value (replacing
// the key's old value, or added after the others), and the versions set
// the fixed part. False when root has no valid fixed part.
bool ApplyVersionSettings(VersionBlock& root, const std::vector<VersionSetting>& settings,
                          std::wstring& error);

// The UTF-16 form of a wide string (wchar_t is UTF-32 on some systems).
std::u16string ToUtf16(const std::wstring& text);
