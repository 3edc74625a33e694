// Authenticode signatures of finished installers, as bytes: the digest a
// signature records, the digest of the bytes being built, and moving a
// detached signature (PKCS#7, DER) out of a signed installer and into an
// unsigned one exactly as a signer writes it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/sea_build/image_writer/authenticode_signature.h"

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
