// The resource directory of a PE image as a flat list of resources, and
// back: the three levels type, name and language, with the data of each.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr uint16_t kResourceIcon = 3;
constexpr uint16_t kResourceGroupIcon = 14;
constexpr uint16_t kResourceVersion = 16;

// A type or a name: a number, or (when text is not empty) a string as the
// directory stores it (resource compilers store names in capitals).
struct ResourceKey {
    uint16_t id = 0;
    std::u16string text;

    bool IsNamed() const { return !text.empty(); }
    // The order of a resource directory: named entries first, by their
    // UTF-16 code units; then numbered ones, ascending.
    bool operator<(const ResourceKey& other) const;
    bool operator==(const ResourceKey& other) const { return id == other.id && text == other.text; }
};

struct Resource {
    ResourceKey type;
    ResourceKey name;
    uint16_t language = 0;
    uint32_t codepage = 0;
    std::vector<uint8_t> data;
};

// Decodes the resource directory at the start of section, a section
// mapped at section_rva. Every resource's data must lie in the section.
// False with a reason when the directory is damaged or deeper than three
// levels.
bool ReadResourceDirectory(const std::vector<uint8_t>& section, uint32_t section_rva,
                           std::vector<Resource>& resources, std::wstring& error);

// Lays resources out as a section mapped at section_rva: directory tables
// sorted as the loader's binary search needs them, data entries, names,
// then the data, each piece 8-byte aligned. Time stamps and padding are
// zero. Two resources with the same type, name and language are a mistake
// of the caller; the first one wins.
std::vector<uint8_t> WriteResourceDirectory(const std::vector<Resource>& resources,
                                            uint32_t section_rva);
