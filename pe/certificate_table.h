// The certificate table of a signed PE image (data directory 4, the
// security directory), checked against what a signer writes.
//
// Authenticode leaves the certificate table out of the signed digest, so
// its bytes, and anything after it, are the attacker's to choose: a file
// whose signature still verifies can carry extra data in the table. A
// self-extractor that looked for its archive up to the end of its file
// would take such data for its payload. Hence two things: the archive of a
// signed file is looked for only before the table (signed_end), and a
// table that is not what signtool or osslsigncode write marks the file as
// damaged. The rules, in the order they are checked:
//
//  1. The file is unsigned, and every byte up to its end counts, when it is
//     no PE image (no "MZ", no "PE\0\0", an unknown optional-header magic,
//     fewer than five data directories) or when the security directory is
//     (0, 0). A directory with one of its two fields zero is damaged.
//  2. With a table the section table must lie within the file and within
//     its first 4 MiB.
//  3. The table starts on an 8-byte boundary, at or after the end of the
//     image (SizeOfHeaders and every section's raw data), and ends exactly
//     at the end of the file: nothing follows it, nothing is cut off.
//  4. It holds one WIN_CERTIFICATE entry: dwLength at least 10 and within
//     the table, revision 2.0, type 2 (PKCS#7 signed data).
//  5. bCertificate is one DER SEQUENCE of definite length (at most four
//     length bytes) that ends within dwLength.
//  6. After that structure only alignment padding may follow up to the
//     table's end: fewer than eight bytes, all zero. A second entry (signed
//     or not: Windows verifies only the first; nested signatures live
//     inside the first), a ZIP in the padding or any other data there
//     makes the file damaged, with the cause named.
//
// Each declared offset and length is treated as hostile: every read is
// bounded by the file size, arithmetic is done in 64 bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Random access to the bytes of the file being checked.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads count bytes at offset into out; false when they cannot all be
    // read.
    virtual bool Read(uint64_t offset, size_t count, uint8_t* out) = 0;
};

// A ByteSource over bytes in memory.
class MemoryByteSource : public ByteSource {
public:
    MemoryByteSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    explicit MemoryByteSource(const std::vector<uint8_t>& bytes)
        : MemoryByteSource(bytes.data(), bytes.size()) {}
    bool Read(uint64_t offset, size_t count, uint8_t* out) override;

private:
    const uint8_t* data_;
    size_t size_;
};

enum class SignatureState {
    kUnsigned,  // no certificate table: all of the file counts
    kSigned,    // a table as signers write it, at the end of the file
    kDamaged,   // a table that breaks the rules above: refuse the file
};

struct CertificateTableCheck {
    SignatureState state = SignatureState::kUnsigned;
    // Where data belonging to the signed file end: the table's offset when
    // signed, the file size when unsigned, 0 when damaged. An archive
    // search must read nothing at or after this point.
    uint64_t signed_end = 0;
    // The security directory's claim (0, 0 when unsigned).
    uint64_t table_offset = 0;
    uint64_t table_size = 0;
    // When damaged: one line naming the cause, e.g. "24 bytes of data
    // follow the signature inside the certificate table".
    std::wstring reason;
};

// Applies the rules to a file of file_size bytes read through source. A
// read that fails counts as damage (the file changed or cannot be read).
CertificateTableCheck CheckCertificateTable(uint64_t file_size, ByteSource& source);

// Rules 4 to 6 on a certificate table held on its own (read out of a file,
// or a detached copy of one): the size of the PKCS#7 structure that starts
// at its byte 8, or 0 with the cause in reason.
uint64_t SignatureInTable(const std::vector<uint8_t>& table, std::wstring& reason);
