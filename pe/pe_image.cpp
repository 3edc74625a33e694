#include "pe/pe_image.h"

#include <algorithm>

#include "pe/le_bytes.h"

namespace {

constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kMaxDirectories = 16;
constexpr uint32_t kPageSize = 0x1000;
constexpr uint32_t kSectionInitializedData = 0x00000040;
constexpr uint32_t kSectionDiscardable = 0x02000000;

bool Refuse(std::wstring& error, const std::wstring& reason) {
    error = reason;
    return false;
}

bool IsPowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

// A section name for a message: its bytes are the file's, so anything
// but printable ASCII shows as '?' and the message stays one line.
std::wstring Wide(const std::string& text) {
    std::wstring wide;
    for (char c : text) wide += (c >= 0x20 && c < 0x7F) ? static_cast<wchar_t>(c) : L'?';
    return wide;
}

bool ReadSections(const ByteReader& in, uint64_t file_size, uint16_t count, PeLayout& layout,
                  std::wstring& error) {
    for (uint16_t i = 0; i < count; ++i) {
        const uint64_t at = layout.SectionHeaderOffset(i);
        PeSection s;
        if (!in.Has(at, 40) || !in.U32(at + 8, s.virtual_size) ||
            !in.U32(at + 12, s.virtual_address) || !in.U32(at + 16, s.raw_size) ||
            !in.U32(at + 20, s.raw_offset) || !in.U32(at + 36, s.characteristics)) {
            return Refuse(error, L"the section table is truncated");
        }
        for (uint64_t c = at; c < at + 8; ++c) {
            uint8_t byte = 0;
            in.U8(c, byte);
            if (byte == 0) break;
            s.name.push_back(static_cast<char>(byte));
        }
        if (s.raw_size != 0 && uint64_t{s.raw_offset} + s.raw_size > file_size) {
            return Refuse(error, L"section " + Wide(s.name) + L" runs past the end of the file");
        }
        layout.sections.push_back(s);
    }
    return true;
}

// The end of a section in memory, rounded to the section alignment.
uint64_t VirtualEnd(const PeSection& s, uint32_t alignment) {
    const uint32_t size = s.virtual_size != 0 ? s.virtual_size : s.raw_size;
    return AlignUp(uint64_t{s.virtual_address} + size, alignment);
}

// The checks of ReplaceResourceSection: everything that must move with a
// resized resource section can move.
bool CheckMovable(const PeLayout& layout, size_t index, std::wstring& error) {
    const PeSection& rs = layout.sections[index];
    if (layout.directories.size() <= kResourceDirectory ||
        layout.directories[kResourceDirectory].rva != rs.virtual_address) {
        return Refuse(error, L"the resource directory does not start its section");
    }
    if (layout.section_alignment < kPageSize) {
        return Refuse(error, L"its section alignment is below the page size");
    }
    const uint64_t raw_end = uint64_t{rs.raw_offset} + rs.raw_size;
    const uint64_t virtual_end = VirtualEnd(rs, layout.section_alignment);
    for (size_t i = 0; i < layout.sections.size(); ++i) {
        const PeSection& s = layout.sections[i];
        const bool has_raw = s.raw_size != 0;
        if (i < index && has_raw && uint64_t{s.raw_offset} + s.raw_size > rs.raw_offset) {
            return Refuse(error, L"section " + Wide(s.name) + L" lies behind the resources in the file");
        }
        if (i <= index) continue;
        if (!(s.characteristics & kSectionDiscardable)) {
            return Refuse(error, L"section " + Wide(s.name) +
                                     L" follows the resources and cannot be moved");
        }
        if ((has_raw && s.raw_offset < raw_end) || s.virtual_address < virtual_end) {
            return Refuse(error, L"section " + Wide(s.name) + L" overlaps the resources");
        }
    }
    for (uint32_t d = 0; d < layout.directories.size(); ++d) {
        const PeDirectory& dir = layout.directories[d];
        if (d == kResourceDirectory || d == kSecurityDirectory || dir.size == 0) continue;
        if (dir.rva < rs.virtual_address) continue;
        const int holder = layout.SectionOfRva(dir.rva);
        if (d != kBaseRelocationDirectory || holder <= static_cast<int>(index)) {
            return Refuse(error, L"data directory " + std::to_wstring(d) +
                                     L" lies in or behind the resources");
        }
    }
    if (layout.symbol_table > rs.raw_offset && layout.symbol_table < raw_end) {
        return Refuse(error, L"its symbol table lies inside the resources");
    }
    return true;
}

void SumBytes(const uint8_t* data, size_t size, uint64_t position, uint64_t& sum) {
    size_t i = 0;
    if (size != 0 && (position & 1)) sum += uint64_t{data[i++]} << 8;
    uint64_t even = 0, odd = 0;
    for (; i + 1 < size; i += 2) {
        even += data[i];
        odd += data[i + 1];
    }
    if (i < size) even += data[i];
    sum += even + (odd << 8);
}

}  // namespace

int PeLayout::SectionOfRva(uint32_t rva) const {
    for (size_t i = 0; i < sections.size(); ++i) {
        const PeSection& s = sections[i];
        const uint32_t size = std::max(s.virtual_size, s.raw_size);
        if (rva >= s.virtual_address && rva - s.virtual_address < size) return static_cast<int>(i);
    }
    return -1;
}

bool ReadPeLayout(const std::vector<uint8_t>& image, PeLayout& layout, std::wstring& error) {
    return ReadPeHeaders(ByteReader(image), image.size(), layout, error);
}

bool ReadPeHeaders(const ByteReader& in, uint64_t file_size, PeLayout& layout, std::wstring& error) {
    uint32_t pe_offset = 0, signature = 0;
    uint8_t m = 0, z = 0;
    if (file_size < 64 || !in.U8(0, m) || !in.U8(1, z) || m != 'M' || z != 'Z' ||
        !in.U32(0x3C, pe_offset) || !in.U32(pe_offset, signature) || signature != 0x00004550) {
        return Refuse(error, L"not a Windows executable (no MZ/PE header)");
    }
    layout = PeLayout();
    layout.file_header = uint64_t{pe_offset} + 4;
    layout.optional_header = layout.file_header + 20;
    uint16_t sections = 0, optional_size = 0, magic = 0;
    uint32_t directory_count = 0;
    if (!in.U16(layout.file_header + 2, sections) || !in.U32(layout.file_header + 8, layout.symbol_table) ||
        !in.U16(layout.file_header + 16, optional_size) || !in.U16(layout.optional_header, magic)) {
        return Refuse(error, L"the PE header is truncated");
    }
    if (magic != kPe32Magic && magic != kPe32PlusMagic) {
        return Refuse(error, L"the optional header is neither PE32 nor PE32+");
    }
    layout.pe32plus = magic == kPe32PlusMagic;
    const uint64_t fixed_size = layout.pe32plus ? 112 : 96;
    if (optional_size < fixed_size || !in.Has(layout.optional_header, optional_size) ||
        !in.U32(layout.optional_header + 32, layout.section_alignment) ||
        !in.U32(layout.optional_header + 36, layout.file_alignment) ||
        !in.U32(layout.optional_header + 60, layout.headers_size) ||
        !in.U32(layout.optional_header + fixed_size - 4, directory_count)) {
        return Refuse(error, L"the optional header is truncated");
    }
    if (!IsPowerOfTwo(layout.file_alignment) || !IsPowerOfTwo(layout.section_alignment) ||
        layout.section_alignment < layout.file_alignment) {
        return Refuse(error, L"the file or section alignment is not a power of two");
    }
    directory_count = std::min(directory_count, kMaxDirectories);
    if (fixed_size + 8 * uint64_t{directory_count} > optional_size) {
        return Refuse(error, L"the data directories run past the optional header");
    }
    for (uint32_t d = 0; d < directory_count; ++d) {
        PeDirectory dir;
        in.U32(layout.DirectoryOffset(d), dir.rva);
        in.U32(layout.DirectoryOffset(d) + 4, dir.size);
        layout.directories.push_back(dir);
    }
    layout.section_table = layout.optional_header + optional_size;
    if (layout.SectionHeaderOffset(sections) > layout.headers_size) {
        return Refuse(error, L"the section table runs past the headers");
    }
    return ReadSections(in, file_size, sections, layout, error);
}

bool ReplaceResourceSection(std::vector<uint8_t>& image, const PeLayout& layout, size_t index,
                            const std::vector<uint8_t>& content, std::wstring& error) {
    if (index >= layout.sections.size()) return Refuse(error, L"no such section");
    if (!CheckMovable(layout, index, error)) return false;
    const PeSection& rs = layout.sections[index];
    const uint64_t raw_end = uint64_t{rs.raw_offset} + rs.raw_size;
    const uint64_t new_raw_size = AlignUp(content.size(), layout.file_alignment);
    const int64_t delta_raw = static_cast<int64_t>(new_raw_size) - static_cast<int64_t>(rs.raw_size);
    const uint64_t old_virtual_end = VirtualEnd(rs, layout.section_alignment);
    const uint64_t new_virtual_end =
        AlignUp(uint64_t{rs.virtual_address} + content.size(), layout.section_alignment);
    const int64_t delta_va =
        static_cast<int64_t>(new_virtual_end) - static_cast<int64_t>(old_virtual_end);
    uint64_t image_size = 0;
    for (size_t i = 0; i < layout.sections.size(); ++i) {
        const PeSection& s = layout.sections[i];
        const uint64_t end = i < index    ? VirtualEnd(s, layout.section_alignment)
                             : i == index ? new_virtual_end
                                          : VirtualEnd(s, layout.section_alignment) + delta_va;
        image_size = std::max(image_size, end);
    }
    if (image_size > 0xFFFFFFFFu || image.size() + delta_raw > 0x7FFFFFFFu) {
        return Refuse(error, L"the resources make the image too large");
    }

    std::vector<uint8_t> out(image.begin(), image.begin() + rs.raw_offset);
    out.insert(out.end(), content.begin(), content.end());
    out.resize(rs.raw_offset + new_raw_size, 0);
    out.insert(out.end(), image.begin() + static_cast<std::ptrdiff_t>(raw_end), image.end());

    const uint64_t header = layout.SectionHeaderOffset(index);
    Put32(out, header + 8, static_cast<uint32_t>(content.size()));
    Put32(out, header + 16, static_cast<uint32_t>(new_raw_size));
    for (size_t i = index + 1; i < layout.sections.size(); ++i) {
        const PeSection& s = layout.sections[i];
        const uint64_t at = layout.SectionHeaderOffset(i);
        Put32(out, at + 12, static_cast<uint32_t>(s.virtual_address + delta_va));
        if (s.raw_size != 0) Put32(out, at + 20, static_cast<uint32_t>(s.raw_offset + delta_raw));
    }
    Put32(out, layout.DirectoryOffset(kResourceDirectory) + 4, static_cast<uint32_t>(content.size()));
    if (layout.directories.size() > kSecurityDirectory) {
        Put32(out, layout.DirectoryOffset(kSecurityDirectory), 0);
        Put32(out, layout.DirectoryOffset(kSecurityDirectory) + 4, 0);
    }
    if (layout.directories.size() > kBaseRelocationDirectory &&
        layout.directories[kBaseRelocationDirectory].rva > rs.virtual_address) {
        Put32(out, layout.DirectoryOffset(kBaseRelocationDirectory),
              static_cast<uint32_t>(layout.directories[kBaseRelocationDirectory].rva + delta_va));
    }
    if (layout.symbol_table >= raw_end) {
        Put32(out, layout.file_header + 8, static_cast<uint32_t>(layout.symbol_table + delta_raw));
    }
    if (rs.characteristics & kSectionInitializedData) {
        uint32_t initialized = 0;
        ByteReader(out).U32(layout.optional_header + 8, initialized);
        Put32(out, layout.optional_header + 8, static_cast<uint32_t>(initialized + delta_raw));
    }
    Put32(out, layout.optional_header + 56, static_cast<uint32_t>(image_size));
    StampChecksum(out, layout);
    image.swap(out);
    return true;
}

void PeChecksum::Add(const uint8_t* data, size_t size) {
    // The checksum field itself counts as zero.
    const uint64_t field = checksum_offset_;
    const uint64_t start = position_, end = position_ + size;
    if (end <= field || start >= field + 4) {
        SumBytes(data, size, start, sum_);
    } else {
        const size_t before = field > start ? static_cast<size_t>(field - start) : 0;
        const size_t after = static_cast<size_t>(std::min<uint64_t>(end, field + 4) - start);
        SumBytes(data, before, start, sum_);
        SumBytes(data + after, size - after, start + after, sum_);
    }
    position_ = end;
}

uint32_t PeChecksum::Finish() const {
    uint64_t sum = sum_;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + position_);
}

void StampChecksum(std::vector<uint8_t>& image, const PeLayout& layout) {
    PeChecksum checksum(layout.ChecksumOffset());
    checksum.Add(image.data(), image.size());
    Put32(image, layout.ChecksumOffset(), checksum.Finish());
}
