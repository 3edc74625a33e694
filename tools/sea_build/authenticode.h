// Authenticode signatures of finished installers, as bytes: the digest a
// signature records, the digest of the bytes being built, and moving a
// detached signature (PKCS#7, DER) out of a signed installer and into an
// unsigned one exactly as a signer writes it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Where a PE file keeps what signing changes: the checksum, the security
// directory entry and the certificate table it points to (size 0: none).
struct SigningFields {
    uint64_t checksum_offset = 0;
    uint64_t security_entry_offset = 0;
    uint32_t table_offset = 0;
    uint32_t table_size = 0;
    int64_t file_size = 0;
};

// Reads the fields from the headers of path. False with a one-line reason
// when path is no PE image or its certificate table does not end the file.
bool ReadSigningFields(const std::wstring& path, SigningFields& fields, std::wstring& error);

// The digest algorithm and value that the SpcIndirectDataContent of an
// Authenticode signature records. False with a one-line reason when pkcs7
// is no DER-encoded Authenticode signature.
struct SignedDigest {
    std::string algorithm;  // "SHA-256", "SHA-1", ...
    std::vector<uint8_t> value;
    // The contents of the SpcIndirectDataContent (without its tag and
    // length): the bytes the signer's signature covers.
    std::vector<uint8_t> signed_content;
};
bool ReadSignedDigest(const std::vector<uint8_t>& pkcs7, SignedDigest& digest, std::wstring& error);

// The PKCS#7 structure of a certificate table: one WIN_CERTIFICATE of
// revision 2.0 and type PKCS_SIGNED_DATA filling the table, its DER
// structure followed by fewer than 8 zero bytes. False with a one-line
// reason for anything a signer does not write.
bool SignatureOfTable(const std::vector<uint8_t>& table, std::vector<uint8_t>& pkcs7,
                      std::wstring& error);

// The PKCS#7 signature of the signed installer path.
bool ExtractSignature(const std::wstring& path, std::vector<uint8_t>& pkcs7, std::wstring& error);

// True when pkcs7 was made for the bytes of the unsigned installer
// unsigned_path (its Authenticode SHA-256 digest). False with a one-line
// reason otherwise.
bool SignatureFits(const std::wstring& unsigned_path, const std::vector<uint8_t>& pkcs7,
                   std::wstring& error);

// Copies the file from to the new file to. False when it cannot.
bool CopyFileBytes(const std::wstring& from, const std::wstring& to);

// Writes out_path: the unsigned installer, zero padding to an 8-byte
// boundary, the certificate table holding pkcs7 (padded to 8 bytes), the
// security directory entry pointing at it and the checksum of the whole,
// as osslsigncode and signtool lay them out. False with a reason.
bool AttachSignature(const std::wstring& unsigned_path, const std::vector<uint8_t>& pkcs7,
                     const std::wstring& out_path, std::wstring& error);

// Checks that signed_path is unsigned_path signed and nothing else: the
// same bytes but for the checksum and the security directory entry,
// followed by zero padding and a well-formed certificate table whose
// signature was made for these bytes. False with a one-line reason.
bool CheckSignedCopy(const std::wstring& unsigned_path, const std::wstring& signed_path,
                     std::wstring& error);
