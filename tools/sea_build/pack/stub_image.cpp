#include "tools/sea_build/pack/stub_image.h"

#include <algorithm>

#include "pe/le_bytes.h"
#include "pe/pe_image.h"

namespace {

bool Refuse(std::wstring& error, const std::wstring& reason) {
    error = reason;
    return false;
}

// The end of the image in the file: the headers, every section's raw data
// and, in an image that was not stripped, the COFF symbol table and the
// string table right behind the sections.
bool ImageEnd(const std::vector<uint8_t>& bytes, const PeLayout& layout, uint64_t& end,
              std::wstring& error) {
    end = layout.headers_size;
    for (const PeSection& s : layout.sections) {
        if (s.raw_size != 0) end = std::max(end, uint64_t{s.raw_offset} + s.raw_size);
    }
    const ByteReader in(bytes);
    uint32_t symbol_count = 0, strings_size = 0;
    if (layout.symbol_table == 0 || layout.symbol_table != end ||
        !in.U32(layout.file_header + 12, symbol_count)) {
        return true;
    }
    const uint64_t strings = uint64_t{layout.symbol_table} + uint64_t{symbol_count} * 18;
    if (!in.U32(strings, strings_size) || strings + strings_size > bytes.size()) {
        return Refuse(error, L"the stub's symbol table is truncated");
    }
    end = strings + std::max<uint32_t>(strings_size, 4);
    return true;
}

}  // namespace

bool InspectStub(const std::vector<uint8_t>& bytes, StubImage& image, std::wstring& error) {
    PeLayout layout;
    if (!ReadPeLayout(bytes, layout, error)) return false;
    image.pe32plus = layout.pe32plus;
    if (layout.directories.size() > kSecurityDirectory &&
        layout.directories[kSecurityDirectory].size != 0) {
        return Refuse(error, L"the stub is already signed: sign the installer instead (--sign)");
    }
    if (!ImageEnd(bytes, layout, image.image_end, error)) return false;
    if (bytes.size() > image.image_end) {
        return Refuse(error, L"the stub already carries " +
                                 std::to_wstring(bytes.size() - image.image_end) +
                                 L" bytes after its image (an appended payload?)");
    }
    return true;
}
