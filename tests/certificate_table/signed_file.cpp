#include "certificate_table/signed_file.h"

#include "pe/le_bytes.h"

namespace signed_file {

namespace {
constexpr uint32_t kPeOffset = 0x80;
}  // namespace

std::vector<uint8_t> MinimalImage() {
    std::vector<uint8_t> out(kImageEnd, 0);
    out[0] = 'M';
    out[1] = 'Z';
    Put32(out, 0x3C, kPeOffset);
    Put32(out, kPeOffset, 0x00004550);
    const size_t file_header = kPeOffset + 4, optional = file_header + 20;
    Put16(out, file_header, 0x14C);
    Put16(out, file_header + 2, 1);
    Put16(out, file_header + 16, 224);
    Put16(out, optional, 0x10B);
    Put32(out, optional + 32, 0x1000);
    Put32(out, optional + 36, 0x200);
    Put32(out, optional + 56, 0x2000);
    Put32(out, optional + 60, 0x200);
    Put32(out, optional + 92, 16);
    const size_t section = optional + 224;
    const char name[] = ".text";
    for (size_t i = 0; i + 1 < sizeof name; ++i) out[section + i] = static_cast<uint8_t>(name[i]);
    Put32(out, section + 8, 0x200);
    Put32(out, section + 12, 0x1000);
    Put32(out, section + 16, 0x200);
    Put32(out, section + 20, 0x200);
    Put32(out, section + 36, 0x60000020);
    for (size_t i = 0x200; i < kImageEnd; ++i) out[i] = 0xC3;
    return out;
}

std::vector<uint8_t> FakePkcs7(size_t content_size) {
    std::vector<uint8_t> der = {0x30, 0x82, static_cast<uint8_t>(content_size >> 8),
                                static_cast<uint8_t>(content_size)};
    for (size_t i = 0; i < content_size; ++i) der.push_back(static_cast<uint8_t>(0x41 + i % 26));
    return der;
}

std::vector<uint8_t> CertificateEntry(const std::vector<uint8_t>& der, uint16_t type) {
    std::vector<uint8_t> entry;
    Append32(entry, 0);
    Append16(entry, 0x0200);
    Append16(entry, type);
    entry.insert(entry.end(), der.begin(), der.end());
    PadTo(entry, 8);
    Put32(entry, 0, static_cast<uint32_t>(entry.size()));
    return entry;
}

void SetSecurityDirectory(std::vector<uint8_t>& file, uint32_t offset, uint32_t size) {
    Put32(file, kSecurityEntry, offset);
    Put32(file, kSecurityEntry + 4, size);
}

void AttachTable(std::vector<uint8_t>& file, const std::vector<uint8_t>& table) {
    PadTo(file, 8);
    SetSecurityDirectory(file, static_cast<uint32_t>(file.size()), static_cast<uint32_t>(table.size()));
    file.insert(file.end(), table.begin(), table.end());
}

uint32_t TableOffset(const std::vector<uint8_t>& file) {
    uint32_t value = 0;
    ByteReader(file).U32(kSecurityEntry, value);
    return value;
}

uint32_t TableSize(const std::vector<uint8_t>& file) {
    uint32_t value = 0;
    ByteReader(file).U32(kSecurityEntry + 4, value);
    return value;
}

void Append(std::vector<uint8_t>& file, const std::string& bytes) {
    file.insert(file.end(), bytes.begin(), bytes.end());
}

}  // namespace signed_file
