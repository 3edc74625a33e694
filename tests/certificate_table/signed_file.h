// Small signed PE files for the tests of the certificate-table rules: a
// PE32 image (headers and one section), whatever follows it (a payload),
// and a certificate table holding a stand-in PKCS#7 structure (a DER
// SEQUENCE of filler bytes; the rules look at its framing only).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace signed_file {

// 0x400 bytes: headers to 0x200, one section of 0x200 raw bytes.
constexpr uint32_t kImageEnd = 0x400;
// Where the security directory entry lies in MinimalImage.
constexpr uint32_t kSecurityEntry = 0x80 + 24 + 96 + 8 * 4;

std::vector<uint8_t> MinimalImage();
// A DER SEQUENCE with content_size filler bytes (long-form length).
std::vector<uint8_t> FakePkcs7(size_t content_size);
// A WIN_CERTIFICATE (revision 2.0, type) around der, padded with zeros to
// 8 bytes; dwLength counts the padding, as signtool and osslsigncode write.
std::vector<uint8_t> CertificateEntry(const std::vector<uint8_t>& der, uint16_t type = 2);
// Pads file with zeros to 8 bytes, appends table and points the security
// directory at it.
void AttachTable(std::vector<uint8_t>& file, const std::vector<uint8_t>& table);
void SetSecurityDirectory(std::vector<uint8_t>& file, uint32_t offset, uint32_t size);
uint32_t TableOffset(const std::vector<uint8_t>& file);
uint32_t TableSize(const std::vector<uint8_t>& file);
void Append(std::vector<uint8_t>& file, const std::string& bytes);

}  // namespace signed_file
