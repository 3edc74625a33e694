#include "tools/sea_build/image_writer/version_info.h"

#include <cwctype>

#include "pe/le_bytes.h"

namespace {

constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr size_t kFixedSize = 52;
constexpr size_t kBlockHeaderSize = 6;
// Offsets in VS_FIXEDFILEINFO.
constexpr size_t kFileVersionAt = 8;
constexpr size_t kProductVersionAt = 16;

const wchar_t* const kKeys[] = {L"ProductName",      L"CompanyName",    L"FileDescription",
                                L"FileVersion",      L"ProductVersion", L"LegalCopyright",
                                L"OriginalFilename", L"InternalName",   L"Comments"};

bool Refuse(std::wstring& error, const std::wstring& reason) {
    error = reason;
    return false;
}

size_t Align4(size_t value) { return (value + 3) & ~size_t{3}; }

bool ReadBlock(const ByteReader& in, size_t at, size_t limit, int depth, VersionBlock& block,
               size_t& length, std::wstring& error) {
    uint16_t total = 0, value_length = 0, type = 0;
    if (depth > 8 || !in.U16(at, total) || !in.U16(at + 2, value_length) || !in.U16(at + 4, type) ||
        total < kBlockHeaderSize || at + total > limit) {
        return Refuse(error, L"a version block runs past its parent");
    }
    const size_t end = at + total;
    size_t p = at + kBlockHeaderSize;
    for (uint16_t unit = 1; p + 2 <= end; p += 2) {
        in.U16(p, unit);
        if (unit == 0) break;
        block.key.push_back(static_cast<char16_t>(unit));
    }
    p = Align4(p + 2);
    block.text = type == 1;
    size_t value_bytes = block.text ? 2 * size_t{value_length} : value_length;
    if (p > end) p = end;
    if (value_bytes > end - p) value_bytes = end - p;
    in.Copy(p, value_bytes, block.value);
    p = Align4(p + value_bytes);
    while (p + kBlockHeaderSize <= end) {
        VersionBlock child;
        size_t child_length = 0;
        if (!ReadBlock(in, p, end, depth + 1, child, child_length, error)) return false;
        block.children.push_back(std::move(child));
        p = Align4(p + child_length);
    }
    length = total;
    return true;
}

// False when a block (with its children) outgrows its 16-bit length.
bool WriteBlock(const VersionBlock& block, std::vector<uint8_t>& out) {
    const size_t start = out.size();
    Append16(out, 0);
    Append16(out, static_cast<uint16_t>(block.text ? block.value.size() / 2 : block.value.size()));
    Append16(out, block.text ? 1 : 0);
    for (char16_t unit : block.key) Append16(out, static_cast<uint16_t>(unit));
    Append16(out, 0);
    PadTo(out, 4);
    out.insert(out.end(), block.value.begin(), block.value.end());
    for (const VersionBlock& child : block.children) {
        PadTo(out, 4);
        if (!WriteBlock(child, out)) return false;
    }
    if (out.size() - start > 0xFFFF) return false;
    Put16(out, start, static_cast<uint16_t>(out.size() - start));
    return true;
}

VersionBlock* FindChild(VersionBlock& parent, const std::u16string& key) {
    for (VersionBlock& child : parent.children) {
        if (child.key == key) return &child;
    }
    return nullptr;
}

std::vector<uint8_t> TextValue(const std::u16string& text) {
    std::vector<uint8_t> value;
    for (char16_t unit : text) Append16(value, static_cast<uint16_t>(unit));
    Append16(value, 0);
    return value;
}

bool ParseVersionNumbers(const std::wstring& text, uint16_t numbers[4]) {
    size_t part = 0, digits = 0;
    uint32_t current = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == L'.') {
            if (digits == 0 || part == 4) return false;
            numbers[part++] = static_cast<uint16_t>(current);
            current = 0;
            digits = 0;
        } else if (text[i] >= L'0' && text[i] <= L'9') {
            current = current * 10 + static_cast<uint32_t>(text[i] - L'0');
            if (++digits > 5 || current > 0xFFFF) return false;
        } else {
            return false;
        }
    }
    return true;
}

bool SameKey(const std::wstring& a, const wchar_t* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != 0; ++i) {
        if (towlower(static_cast<wint_t>(a[i])) != towlower(static_cast<wint_t>(b[i]))) return false;
    }
    return i == a.size() && b[i] == 0;
}

}  // namespace

bool ReadVersionInfo(const std::vector<uint8_t>& data, VersionBlock& root, std::wstring& error) {
    root = VersionBlock();
    size_t length = 0;
    return ReadBlock(ByteReader(data), 0, data.size(), 0, root, length, error);
}

bool WriteVersionInfo(const VersionBlock& root, std::vector<uint8_t>& out, std::wstring& error) {
    out.clear();
    if (WriteBlock(root, out)) return true;
    return Refuse(error, L"the version information outgrows 65535 bytes");
}

std::u16string ToUtf16(const std::wstring& text) {
    std::u16string out;
    for (wchar_t c : text) {
        const uint32_t code = static_cast<uint32_t>(c);
        if (code > 0xFFFF && code <= 0x10FFFF) {
            out.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
    }
    return out;
}

bool ParseVersionSetting(const std::wstring& text, VersionSetting& setting, std::wstring& error) {
    const size_t equals = text.find(L'=');
    const std::wstring key = text.substr(0, equals);
    const std::wstring value = equals == std::wstring::npos ? L"" : text.substr(equals + 1);
    const wchar_t* known = nullptr;
    for (const wchar_t* candidate : kKeys) {
        if (SameKey(key, candidate)) known = candidate;
    }
    const std::wstring quoted = L"--version-info " + text + L": ";
    if (equals == std::wstring::npos) return Refuse(error, quoted + L"not KEY=VALUE");
    if (!known) {
        std::wstring list;
        for (const wchar_t* candidate : kKeys) list += (list.empty() ? L"" : L", ") + std::wstring(candidate);
        return Refuse(error, quoted + L"unknown key " + key + L" (known: " + list + L")");
    }
    setting = VersionSetting();
    setting.key = ToUtf16(known);
    setting.value = ToUtf16(value);
    if (setting.value.empty()) return Refuse(error, quoted + L"the value is empty");
    if (setting.value.size() > kMaxVersionValue) {
        return Refuse(error, L"--version-info " + key + L"=...: the value is too long (" +
                                 std::to_wstring(setting.value.size()) + L" UTF-16 units, at most " +
                                 std::to_wstring(kMaxVersionValue) + L")");
    }
    setting.is_version = setting.key == u"FileVersion" || setting.key == u"ProductVersion";
    if (setting.is_version && !ParseVersionNumbers(value, setting.version)) {
        return Refuse(error, quoted + L"not a version a.b.c.d (one to four numbers 0 to 65535 "
                                      L"separated by dots)");
    }
    return true;
}

VersionBlock NewVersionInfo() {
    VersionBlock root;
    root.key = u"VS_VERSION_INFO";
    Put32(root.value, 0, kFixedSignature);
    Put32(root.value, 4, 0x00010000);   // structure version 1.0
    Put32(root.value, 24, 0x3F);        // VS_FFI_FILEFLAGSMASK
    Put32(root.value, 32, 0x00040004);  // VOS_NT_WINDOWS32
    Put32(root.value, 36, 1);           // VFT_APP
    root.value.resize(kFixedSize, 0);
    VersionBlock strings{u"StringFileInfo", true, {}, {}};
    strings.children.push_back(VersionBlock{u"040904B0", true, {}, {}});
    VersionBlock translation{u"Translation", false, {}, {}};
    Append16(translation.value, 0x0409);
    Append16(translation.value, 1200);
    VersionBlock variables{u"VarFileInfo", true, {}, {}};
    variables.children.push_back(translation);
    root.children.push_back(strings);
    root.children.push_back(variables);
    return root;
}

bool ApplyVersionSettings(VersionBlock& root, const std::vector<VersionSetting>& settings,
                          std::wstring& error) {
    uint32_t signature = 0;
    if (root.value.size() < kFixedSize || !ByteReader(root.value).U32(0, signature) ||
        signature != kFixedSignature) {
        return Refuse(error, L"its version information has no fixed part (VS_FIXEDFILEINFO)");
    }
    VersionBlock* strings = FindChild(root, u"StringFileInfo");
    if (!strings) {
        root.children.insert(root.children.begin(), NewVersionInfo().children[0]);
        strings = &root.children.front();
    }
    if (strings->children.empty()) strings->children.push_back(VersionBlock{u"040904B0", true, {}, {}});
    for (const VersionSetting& setting : settings) {
        for (VersionBlock& table : strings->children) {
            VersionBlock* entry = FindChild(table, setting.key);
            if (!entry) {
                table.children.push_back(VersionBlock{setting.key, true, {}, {}});
                entry = &table.children.back();
            }
            entry->text = true;
            entry->value = TextValue(setting.value);
        }
        if (!setting.is_version) continue;
        const size_t at = setting.key == u"FileVersion" ? kFileVersionAt : kProductVersionAt;
        Put32(root.value, at, (uint32_t{setting.version[0]} << 16) | setting.version[1]);
        Put32(root.value, at + 4, (uint32_t{setting.version[2]} << 16) | setting.version[3]);
    }
    return true;
}
