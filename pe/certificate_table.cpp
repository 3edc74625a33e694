#include "pe/certificate_table.h"

#include <algorithm>
#include <cstring>

#include "pe/le_bytes.h"
#include "pe/pe_image.h"  // kSecurityDirectory

namespace {

constexpr uint64_t kDosHeaderSize = 64;
constexpr uint64_t kNtFixedSize = 24;  // "PE\0\0" and the COFF file header
constexpr uint64_t kOptionalReadSize = 240;  // PE32+ fixed part and 16 directories
constexpr uint64_t kSectionHeaderSize = 40;
constexpr uint64_t kMaxHeaderBytes = 4u << 20;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint64_t kEntryHeaderSize = 8;      // dwLength, wRevision, wCertificateType
constexpr uint64_t kMinEntryLength = kEntryHeaderSize + 2;  // and a DER tag and length
constexpr uint16_t kRevision2 = 0x0200;
constexpr uint16_t kTypePkcsSignedData = 0x0002;
constexpr uint64_t kTableAlignment = 8;
constexpr uint8_t kDerSequence = 0x30;

std::wstring Hex(uint32_t value) {
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring text = L"0x";
    for (int shift = 12; shift >= 0; shift -= 4) text += kDigits[(value >> shift) & 0xF];
    return text;
}

std::wstring Num(uint64_t value) { return std::to_wstring(value); }

CertificateTableCheck Damaged(CertificateTableCheck check, const std::wstring& reason) {
    check.state = SignatureState::kDamaged;
    check.signed_end = 0;
    check.reason = reason;
    return check;
}

// count bytes at offset into bytes; false when the file does not hold them.
bool ReadBytes(ByteSource& source, uint64_t file_size, uint64_t offset, uint64_t count,
               std::vector<uint8_t>& bytes) {
    if (offset > file_size || count > file_size - offset) return false;
    bytes.assign(static_cast<size_t>(count), 0);
    return count == 0 || source.Read(offset, static_cast<size_t>(count), bytes.data());
}

// What rule 1 needs: the security directory entry and where the headers
// and the section table lie. kNone when the file is no PE image or has no
// table.
struct DirectoryClaim {
    uint32_t offset = 0;
    uint32_t size = 0;
    uint64_t optional_header = 0;
    uint64_t section_table = 0;
    uint16_t sections = 0;
    uint64_t HeadersEnd() const { return section_table + kSectionHeaderSize * sections; }
};

enum class Claim { kNone, kMade, kUnreadable };

Claim ReadDirectoryClaim(uint64_t file_size, ByteSource& source, DirectoryClaim& claim) {
    std::vector<uint8_t> dos, nt;
    uint32_t pe_offset = 0, signature = 0;
    if (file_size < kDosHeaderSize) return Claim::kNone;
    // Both reads lie within the file: a failure is the file's, not a
    // claim's, and must not pass for an unsigned file.
    if (!ReadBytes(source, file_size, 0, kDosHeaderSize, dos)) return Claim::kUnreadable;
    if (dos[0] != 'M' || dos[1] != 'Z' || !ByteReader(dos).U32(0x3C, pe_offset)) {
        return Claim::kNone;
    }
    if (pe_offset >= file_size) return Claim::kNone;
    if (!ReadBytes(source, file_size, pe_offset,
                   std::min(file_size - pe_offset, kNtFixedSize + kOptionalReadSize), nt)) {
        return Claim::kUnreadable;
    }
    const ByteReader in(nt);
    uint16_t optional_size = 0, magic = 0;
    uint32_t directory_count = 0;
    if (!in.U32(0, signature) || signature != 0x00004550 || !in.U16(6, claim.sections) ||
        !in.U16(20, optional_size) || !in.U16(kNtFixedSize, magic) ||
        (magic != kPe32Magic && magic != kPe32PlusMagic)) {
        return Claim::kNone;
    }
    const uint64_t directories = kNtFixedSize + (magic == kPe32PlusMagic ? 112 : 96);
    const uint64_t entry = directories + 8 * uint64_t{kSecurityDirectory};
    if (!in.U32(directories - 4, directory_count) || directory_count <= kSecurityDirectory ||
        entry + 8 > kNtFixedSize + optional_size || !in.U32(entry, claim.offset) ||
        !in.U32(entry + 4, claim.size)) {
        return Claim::kNone;
    }
    claim.optional_header = uint64_t{pe_offset} + kNtFixedSize;
    claim.section_table = claim.optional_header + optional_size;
    return claim.offset == 0 && claim.size == 0 ? Claim::kNone : Claim::kMade;
}

// Rule 2: the end of the image, the furthest of SizeOfHeaders and every
// section's raw data.
bool ReadImageEnd(uint64_t file_size, ByteSource& source, const DirectoryClaim& claim,
                  uint64_t& image_end, std::wstring& error) {
    std::vector<uint8_t> headers;
    if (claim.HeadersEnd() > kMaxHeaderBytes) {
        error = L"the PE headers claim " + Num(claim.HeadersEnd()) + L" bytes";
        return false;
    }
    if (!ReadBytes(source, file_size, 0, claim.HeadersEnd(), headers)) {
        error = L"the PE section table runs past the end of the file";
        return false;
    }
    const ByteReader in(headers);
    uint32_t headers_size = 0;
    in.U32(claim.optional_header + 60, headers_size);
    image_end = headers_size;
    for (uint16_t i = 0; i < claim.sections; ++i) {
        uint32_t raw_size = 0, raw_offset = 0;
        const uint64_t at = claim.section_table + kSectionHeaderSize * i;
        in.U32(at + 16, raw_size);
        in.U32(at + 20, raw_offset);
        if (raw_size != 0) image_end = std::max(image_end, uint64_t{raw_offset} + raw_size);
    }
    return true;
}

// Rule 3: where the table lies.
bool CheckPlacement(const CertificateTableCheck& check, uint64_t file_size, uint64_t image_end,
                    std::wstring& error) {
    const uint64_t offset = check.table_offset, size = check.table_size;
    if (offset == 0 || size == 0) {
        error = L"the security directory is half empty (offset " + Num(offset) + L", size " +
                Num(size) + L")";
    } else if (offset % kTableAlignment != 0) {
        error = L"the certificate table starts at an unaligned offset (" + Num(offset) + L")";
    } else if (offset < image_end) {
        error = L"the certificate table (offset " + Num(offset) +
                L") lies inside the image, which ends at " + Num(image_end);
    } else if (offset > file_size || size > file_size - offset) {
        error = L"the certificate table (offset " + Num(offset) + L", " + Num(size) +
                L" bytes) runs past the end of the file (" + Num(file_size) + L" bytes)";
    } else if (offset + size < file_size) {
        error = Num(file_size - offset - size) + L" bytes follow the certificate table";
    } else if (size < kMinEntryLength) {
        error = L"the certificate table (" + Num(size) + L" bytes) is too small for a signature";
    }
    return error.empty();
}

// Rule 4: the entry's header. Sets entry_length.
bool CheckEntryHeader(const std::vector<uint8_t>& header, uint64_t table_size,
                      uint64_t& entry_length, std::wstring& error) {
    const ByteReader in(header);
    uint32_t length = 0;
    uint16_t revision = 0, type = 0;
    in.U32(0, length);
    in.U16(4, revision);
    in.U16(6, type);
    entry_length = length;
    if (length < kMinEntryLength) {
        error = L"the certificate entry's length (" + Num(length) + L") is too small";
    } else if (length > table_size) {
        error = L"the certificate entry's length (" + Num(length) +
                L") runs past the certificate table (" + Num(table_size) + L" bytes)";
    } else if (revision != kRevision2) {
        error = L"the certificate entry has an unknown revision (" + Hex(revision) + L")";
    } else if (type != kTypePkcsSignedData) {
        error = L"the certificate entry is of type " + Hex(type) + L", not a PKCS#7 signature";
    }
    return error.empty();
}

// Rule 5: the total size of the DER element whose tag and length start
// bytes; 0 when it is no SEQUENCE of definite length.
uint64_t DerElementSize(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < 2 || bytes[0] != kDerSequence) return 0;
    if (bytes[1] < 0x80) return 2 + uint64_t{bytes[1]};
    const size_t count = bytes[1] & 0x7F;
    if (count == 0 || count > 4 || bytes.size() < 2 + count) return 0;
    uint64_t length = 0;
    for (size_t i = 0; i < count; ++i) length = (length << 8) | bytes[2 + i];
    return 2 + count + length;
}

// Rule 6: what follows the PKCS#7 structure, from `from` to the table's end.
bool CheckTail(ByteSource& source, uint64_t file_size, uint64_t from, uint64_t table_end,
               std::wstring& error) {
    const uint64_t tail = table_end - from;
    std::vector<uint8_t> bytes;
    if (!ReadBytes(source, file_size, from, std::min<uint64_t>(tail, 2 * kTableAlignment), bytes)) {
        error = L"the certificate table cannot be read";
        return false;
    }
    if (tail < kTableAlignment) {
        if (std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; })) return true;
        error = L"the padding after the signature holds data";
        return false;
    }
    // A second WIN_CERTIFICATE sits on the next 8-byte boundary.
    const uint64_t skip = (kTableAlignment - from % kTableAlignment) % kTableAlignment;
    const ByteReader in(bytes);
    uint32_t length = 0;
    uint16_t revision = 0, type = 0;
    if (in.U32(skip, length) && in.U16(skip + 4, revision) && in.U16(skip + 6, type) &&
        length >= kEntryHeaderSize && length <= tail - skip &&
        (revision == kRevision2 || revision == 0x0100)) {
        error = L"a second certificate entry (type " + Hex(type) + L", " + Num(length) +
                L" bytes) follows the signature";
    } else {
        error = Num(tail) + L" bytes of data follow the signature inside the certificate table";
    }
    return false;
}

// Rules 4 to 6 on the table, whose placement has passed. Sets der_size to
// the size of the PKCS#7 structure.
bool CheckTableContent(ByteSource& source, uint64_t file_size, const CertificateTableCheck& check,
                       uint64_t& der_size, std::wstring& error) {
    std::vector<uint8_t> header, der;
    uint64_t entry_length = 0;
    if (!ReadBytes(source, file_size, check.table_offset, kEntryHeaderSize, header)) {
        error = L"the certificate table cannot be read";
        return false;
    }
    if (!CheckEntryHeader(header, check.table_size, entry_length, error)) return false;
    const uint64_t content = check.table_offset + kEntryHeaderSize;
    if (!ReadBytes(source, file_size, content, std::min<uint64_t>(entry_length - kEntryHeaderSize, 6),
                   der)) {
        error = L"the certificate table cannot be read";
        return false;
    }
    der_size = DerElementSize(der);
    if (der_size == 0) {
        error = L"the certificate entry holds no DER-encoded PKCS#7 structure";
        return false;
    }
    if (der_size > entry_length - kEntryHeaderSize) {
        error = L"the PKCS#7 structure (" + Num(der_size) +
                L" bytes) runs past its certificate entry (" + Num(entry_length) + L" bytes)";
        return false;
    }
    return CheckTail(source, file_size, content + der_size, check.table_offset + check.table_size,
                     error);
}

}  // namespace

bool MemoryByteSource::Read(uint64_t offset, size_t count, uint8_t* out) {
    if (offset > size_ || count > size_ - offset) return false;
    if (count != 0) memcpy(out, data_ + offset, count);
    return true;
}

CertificateTableCheck CheckCertificateTable(uint64_t file_size, ByteSource& source) {
    CertificateTableCheck check;
    check.signed_end = file_size;
    DirectoryClaim claim;
    const Claim made = ReadDirectoryClaim(file_size, source, claim);
    if (made == Claim::kNone) return check;
    if (made == Claim::kUnreadable) return Damaged(check, L"the PE headers cannot be read");
    check.table_offset = claim.offset;
    check.table_size = claim.size;
    std::wstring error;
    uint64_t image_end = 0, der_size = 0;
    if (!ReadImageEnd(file_size, source, claim, image_end, error) ||
        !CheckPlacement(check, file_size, image_end, error) ||
        !CheckTableContent(source, file_size, check, der_size, error)) {
        return Damaged(check, error);
    }
    check.state = SignatureState::kSigned;
    check.signed_end = check.table_offset;
    return check;
}

uint64_t SignatureInTable(const std::vector<uint8_t>& table, std::wstring& reason) {
    MemoryByteSource source(table);
    CertificateTableCheck check;
    check.table_size = table.size();
    uint64_t der_size = 0;
    reason.clear();
    if (table.size() < kMinEntryLength) {
        reason = L"the certificate table (" + Num(table.size()) + L" bytes) is too small for a signature";
    } else if (!CheckTableContent(source, table.size(), check, der_size, reason)) {
        der_size = 0;
    }
    return der_size;
}
