#include "tools/sea_build/image_writer/resource_tree.h"

#include <algorithm>
#include <map>

#include "pe/le_bytes.h"

namespace {

constexpr uint32_t kSubdirectoryFlag = 0x80000000u;
constexpr uint32_t kNameFlag = 0x80000000u;
constexpr size_t kDirectoryHeaderSize = 16;
constexpr size_t kEntrySize = 8;
constexpr size_t kDataEntrySize = 16;
// More than any program carries; a directory whose tables point at each
// other over and over must not make the list endless.
constexpr size_t kMaxResources = 65536;

class DirectoryReader {
public:
    DirectoryReader(const std::vector<uint8_t>& section, uint32_t rva, std::vector<Resource>& out)
        : in_(section), rva_(rva), out_(out) {}

    // Level 0: types, 1: names, 2: languages.
    bool Read(uint32_t offset, int level, Resource& path) {
        uint16_t named = 0, numbered = 0;
        if (!in_.U16(offset + 12, named) || !in_.U16(offset + 14, numbered)) {
            return Fail(L"a resource directory table lies outside the section");
        }
        const uint64_t count = uint64_t{named} + numbered;
        if (!in_.Has(uint64_t{offset} + kDirectoryHeaderSize, count * kEntrySize)) {
            return Fail(L"a resource directory table runs past the section");
        }
        for (uint64_t i = 0; i < count; ++i) {
            uint32_t name = 0, target = 0;
            const uint64_t entry = offset + kDirectoryHeaderSize + i * kEntrySize;
            in_.U32(entry, name);
            in_.U32(entry + 4, target);
            ResourceKey key;
            if (!Key(name, key)) return false;
            if (level == 0) path.type = key;
            if (level == 1) path.name = key;
            if (level == 2) {
                if (key.IsNamed()) return Fail(L"a resource language is a name");
                path.language = key.id;
            }
            const bool subdirectory = (target & kSubdirectoryFlag) != 0;
            if (subdirectory != (level < 2)) {
                return Fail(L"the resource directory is not three levels deep");
            }
            const bool ok = subdirectory ? Read(target & ~kSubdirectoryFlag, level + 1, path)
                                         : Data(target, path);
            if (!ok) return false;
        }
        return true;
    }

    std::wstring error;

private:
    bool Fail(const std::wstring& reason) {
        error = reason;
        return false;
    }

    bool Key(uint32_t name, ResourceKey& key) {
        if (!(name & kNameFlag)) {
            if (name > 0xFFFF) return Fail(L"a resource number is out of range");
            key.id = static_cast<uint16_t>(name);
            return true;
        }
        const uint32_t at = name & ~kNameFlag;
        uint16_t length = 0;
        if (!in_.U16(at, length) || length == 0 || !in_.Has(uint64_t{at} + 2, 2 * uint64_t{length})) {
            return Fail(L"a resource name lies outside the section");
        }
        for (uint32_t i = 0; i < length; ++i) {
            uint16_t unit = 0;
            in_.U16(uint64_t{at} + 2 + 2 * i, unit);
            key.text.push_back(static_cast<char16_t>(unit));
        }
        return true;
    }

    bool Data(uint32_t at, const Resource& path) {
        uint32_t data_rva = 0, size = 0, codepage = 0;
        if (!in_.U32(at, data_rva) || !in_.U32(at + 4, size) || !in_.U32(at + 8, codepage)) {
            return Fail(L"a resource data entry lies outside the section");
        }
        if (out_.size() >= kMaxResources) return Fail(L"the resource directory lists too many resources");
        Resource r = path;
        r.codepage = codepage;
        if (data_rva < rva_ || !in_.Copy(data_rva - rva_, size, r.data)) {
            return Fail(L"the data of a resource lies outside the resource section");
        }
        out_.push_back(std::move(r));
        return true;
    }

    ByteReader in_;
    uint32_t rva_;
    std::vector<Resource>& out_;
};

// The sorted tree: type -> name -> language -> index into the resources.
using LanguageMap = std::map<uint16_t, size_t>;
using NameMap = std::map<ResourceKey, LanguageMap>;
using TypeMap = std::map<ResourceKey, NameMap>;

uint32_t TableSize(size_t entries) {
    return static_cast<uint32_t>(kDirectoryHeaderSize + kEntrySize * entries);
}

template <typename Map>
void WriteTableHeader(std::vector<uint8_t>& out, size_t at, const Map& entries) {
    size_t named = 0;
    for (const auto& entry : entries) named += entry.first.IsNamed() ? 1 : 0;
    Put16(out, at + 12, static_cast<uint16_t>(named));
    Put16(out, at + 14, static_cast<uint16_t>(entries.size() - named));
}

void WriteTableHeader(std::vector<uint8_t>& out, size_t at, const LanguageMap& entries) {
    Put16(out, at + 12, 0);
    Put16(out, at + 14, static_cast<uint16_t>(entries.size()));
}

// Offsets of the names in the string area, which lies at strings_at.
class NameArea {
public:
    uint32_t Offset(const std::u16string& text) {
        auto found = offsets_.find(text);
        if (found != offsets_.end()) return found->second;
        const uint32_t at = static_cast<uint32_t>(bytes_.size());
        Append16(bytes_, static_cast<uint16_t>(text.size()));
        for (char16_t unit : text) Append16(bytes_, static_cast<uint16_t>(unit));
        offsets_[text] = at;
        return at;
    }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::map<std::u16string, uint32_t> offsets_;
    std::vector<uint8_t> bytes_;
};

}  // namespace

bool ResourceKey::operator<(const ResourceKey& other) const {
    if (IsNamed() != other.IsNamed()) return IsNamed();
    return IsNamed() ? text < other.text : id < other.id;
}

bool ReadResourceDirectory(const std::vector<uint8_t>& section, uint32_t section_rva,
                           std::vector<Resource>& resources, std::wstring& error) {
    resources.clear();
    DirectoryReader reader(section, section_rva, resources);
    Resource path;
    if (!reader.Read(0, 0, path)) {
        error = reader.error;
        return false;
    }
    return true;
}

std::vector<uint8_t> WriteResourceDirectory(const std::vector<Resource>& resources,
                                            uint32_t section_rva) {
    TypeMap tree;
    for (size_t i = 0; i < resources.size(); ++i) {
        const Resource& r = resources[i];
        tree[r.type][r.name].emplace(r.language, i);  // the first one wins
    }
    // Sizes of the table area: the root, then each type's table, then each
    // name's table, breadth first; the data entries follow.
    uint32_t tables = TableSize(tree.size());
    for (const auto& type : tree) tables += TableSize(type.second.size());
    size_t leaves = 0;
    for (const auto& type : tree) {
        for (const auto& name : type.second) {
            tables += TableSize(name.second.size());
            leaves += name.second.size();
        }
    }
    const uint32_t data_entries_at = tables;
    const uint32_t strings_at = data_entries_at + static_cast<uint32_t>(leaves * kDataEntrySize);

    std::vector<uint8_t> out(strings_at, 0);
    NameArea names;
    auto key_field = [&](const ResourceKey& key) {
        return key.IsNamed() ? kNameFlag | (strings_at + names.Offset(key.text)) : uint32_t{key.id};
    };
    std::vector<size_t> leaf_order;  // resource indexes in data-entry order
    uint32_t next_table = TableSize(tree.size());
    WriteTableHeader(out, 0, tree);
    size_t root_entry = kDirectoryHeaderSize;
    std::vector<std::pair<uint32_t, const NameMap*>> name_tables;
    for (const auto& type : tree) {
        Put32(out, root_entry, key_field(type.first));
        Put32(out, root_entry + 4, kSubdirectoryFlag | next_table);
        name_tables.emplace_back(next_table, &type.second);
        next_table += TableSize(type.second.size());
        root_entry += kEntrySize;
    }
    for (const auto& table : name_tables) {
        WriteTableHeader(out, table.first, *table.second);
        size_t entry = table.first + kDirectoryHeaderSize;
        for (const auto& name : *table.second) {
            Put32(out, entry, key_field(name.first));
            Put32(out, entry + 4, kSubdirectoryFlag | next_table);
            WriteTableHeader(out, next_table, name.second);
            size_t language_entry = next_table + kDirectoryHeaderSize;
            for (const auto& language : name.second) {
                Put32(out, language_entry, language.first);
                Put32(out, language_entry + 4,
                      data_entries_at + static_cast<uint32_t>(leaf_order.size() * kDataEntrySize));
                leaf_order.push_back(language.second);
                language_entry += kEntrySize;
            }
            next_table += TableSize(name.second.size());
            entry += kEntrySize;
        }
    }
    out.insert(out.end(), names.bytes().begin(), names.bytes().end());
    for (size_t leaf = 0; leaf < leaf_order.size(); ++leaf) {
        PadTo(out, 8);
        const Resource& r = resources[leaf_order[leaf]];
        const size_t entry = data_entries_at + leaf * kDataEntrySize;
        Put32(out, entry, section_rva + static_cast<uint32_t>(out.size()));
        Put32(out, entry + 4, static_cast<uint32_t>(r.data.size()));
        Put32(out, entry + 8, r.codepage);
        out.insert(out.end(), r.data.begin(), r.data.end());
    }
    PadTo(out, 8);
    return out;
}
