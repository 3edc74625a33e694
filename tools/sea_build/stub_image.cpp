#include "tools/sea_build/stub_image.h"

#include "pe/le_bytes.h"

namespace {

constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr size_t kFileHeaderSize = 20;
constexpr size_t kSectionHeaderSize = 40;
constexpr uint32_t kSecurityDirectory = 4;

bool Refuse(std::wstring& error, const std::wstring& reason) {
    error = reason;
    return false;
}

}  // namespace

bool InspectStub(const std::vector<uint8_t>& bytes, StubImage& image, std::wstring& error) {
    const ByteReader in(bytes);
    uint32_t pe_offset = 0;
    uint32_t signature = 0;
    if (bytes.size() < 64 || bytes[0] != 'M' || bytes[1] != 'Z' || !in.U32(0x3C, pe_offset) ||
        !in.U32(pe_offset, signature) || signature != 0x00004550) {
        return Refuse(error, L"the stub is not a Windows executable (no MZ/PE header)");
    }
    const uint64_t file_header = uint64_t{pe_offset} + 4;
    const uint64_t optional_header = file_header + kFileHeaderSize;
    uint16_t sections = 0, optional_size = 0, magic = 0;
    if (!in.U16(file_header + 2, sections) || !in.U16(file_header + 16, optional_size) ||
        !in.U16(optional_header, magic)) {
        return Refuse(error, L"the stub's PE header is truncated");
    }
    if (magic != kPe32Magic && magic != kPe32PlusMagic) {
        return Refuse(error, L"the stub's optional header is neither PE32 nor PE32+");
    }
    image.pe32plus = magic == kPe32PlusMagic;

    // Data directories: the certificate table must be absent.
    const uint64_t directories = optional_header + (image.pe32plus ? 112 : 96);
    uint32_t directory_count = 0;
    if (!in.U32(directories - 4, directory_count)) {
        return Refuse(error, L"the stub's optional header is truncated");
    }
    uint32_t certificate_size = 0;
    if (directory_count > kSecurityDirectory &&
        in.U32(directories + 8 * kSecurityDirectory + 4, certificate_size) &&
        certificate_size != 0) {
        return Refuse(error, L"the stub is already signed: sign the installer instead (--sign)");
    }

    uint32_t headers_size = 0;
    in.U32(optional_header + 60, headers_size);  // SizeOfHeaders
    image.image_end = headers_size;
    const uint64_t table = optional_header + optional_size;
    for (uint16_t i = 0; i < sections; ++i) {
        const uint64_t header = table + uint64_t{i} * kSectionHeaderSize;
        uint32_t raw_size = 0, raw_offset = 0;
        if (!in.U32(header + 16, raw_size) || !in.U32(header + 20, raw_offset)) {
            return Refuse(error, L"the stub's section table is truncated");
        }
        if (raw_size == 0) continue;
        const uint64_t end = uint64_t{raw_offset} + raw_size;
        if (end > bytes.size()) return Refuse(error, L"the stub's sections run past its end");
        if (end > image.image_end) image.image_end = end;
    }
    // An image that was not stripped keeps its COFF symbol table and the
    // string table after it right behind the sections: part of the image.
    uint32_t symbol_table = 0, symbol_count = 0, strings_size = 0;
    if (in.U32(file_header + 8, symbol_table) && in.U32(file_header + 12, symbol_count) &&
        symbol_table != 0 && symbol_table == image.image_end) {
        const uint64_t strings = uint64_t{symbol_table} + uint64_t{symbol_count} * 18;
        if (!in.U32(strings, strings_size) || strings + strings_size > bytes.size()) {
            return Refuse(error, L"the stub's symbol table is truncated");
        }
        image.image_end = strings + (strings_size < 4 ? 4 : strings_size);
    }
    if (bytes.size() > image.image_end) {
        return Refuse(error, L"the stub already carries " +
                                 std::to_wstring(bytes.size() - image.image_end) +
                                 L" bytes after its image (an appended payload?)");
    }
    return true;
}
