// The parts of a PE image (PE32 or PE32+) that rewriting its resource
// section touches: the headers, the section table, the data directories,
// the COFF symbol table pointer and the image checksum.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ByteReader;

constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kSecurityDirectory = 4;
constexpr uint32_t kBaseRelocationDirectory = 5;

struct PeSection {
    std::string name;  // the 8 bytes of the header, without trailing NULs
    uint32_t virtual_size = 0;
    uint32_t virtual_address = 0;
    uint32_t raw_size = 0;
    uint32_t raw_offset = 0;
    uint32_t characteristics = 0;
};

struct PeDirectory {
    uint32_t rva = 0;
    uint32_t size = 0;
};

struct PeLayout {
    bool pe32plus = false;
    uint64_t file_header = 0;      // the COFF file header, after "PE\0\0"
    uint64_t optional_header = 0;
    uint64_t section_table = 0;
    uint32_t file_alignment = 0;
    uint32_t section_alignment = 0;
    uint32_t headers_size = 0;     // SizeOfHeaders
    uint32_t symbol_table = 0;     // PointerToSymbolTable, 0 when stripped
    std::vector<PeDirectory> directories;
    std::vector<PeSection> sections;

    uint64_t ChecksumOffset() const { return optional_header + 64; }
    uint64_t DirectoryOffset(uint32_t index) const {
        return optional_header + (pe32plus ? 112 : 96) + 8 * uint64_t{index};
    }
    uint64_t SectionHeaderOffset(size_t index) const { return section_table + 40 * uint64_t{index}; }
    // The index of the section whose virtual range holds rva, or -1.
    int SectionOfRva(uint32_t rva) const;
};

// Reads the headers of image. False with a one-line reason when image is
// not a PE image or its headers are damaged (alignments not powers of two,
// sections outside the file, section table outside the headers).
bool ReadPeLayout(const std::vector<uint8_t>& image, PeLayout& layout, std::wstring& error);
// The same from the first bytes of a file of file_size bytes: headers
// must hold at least the section table; the sections' raw data are
// checked against file_size.
bool ReadPeHeaders(const ByteReader& headers, uint64_t file_size, PeLayout& layout,
                   std::wstring& error);

// Replaces the raw data of section `index`, which must hold the resource
// directory at its first byte, with content, and moves what follows it in
// the file and in memory: the later sections (which must be discardable,
// such as the base relocations and debug information), the base
// relocation directory and the COFF symbol table. Updates the section's
// sizes, the resource directory entry, SizeOfImage, SizeOfInitializedData,
// clears the security directory and recomputes the checksum. False with a
// reason, image untouched, when the image is laid out in a way that would
// need more than that.
bool ReplaceResourceSection(std::vector<uint8_t>& image, const PeLayout& layout, size_t index,
                            const std::vector<uint8_t>& content, std::wstring& error);

// The image checksum (the algorithm of CheckSumMappedFile): a 16-bit
// ones'-complement sum of the file's little-endian words with the checksum
// field counted as zero, plus the file length. Fed in pieces of any size,
// in file order.
class PeChecksum {
public:
    explicit PeChecksum(uint64_t checksum_offset) : checksum_offset_(checksum_offset) {}
    void Add(const uint8_t* data, size_t size);
    uint32_t Finish() const;

private:
    uint64_t checksum_offset_;
    uint64_t position_ = 0;
    uint64_t sum_ = 0;
};

// Sets the checksum field of image to the checksum of its bytes.
void StampChecksum(std::vector<uint8_t>& image, const PeLayout& layout);
