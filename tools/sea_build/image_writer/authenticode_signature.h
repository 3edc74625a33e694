// Authenticode signatures as bytes: the digest a PKCS#7 signature records
// for the file it signs, and the signature held by a certificate table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/sea_build/image_writer/digest.h"

// The digest algorithm and value that the SpcIndirectDataContent of an
// Authenticode signature records.
struct SignedDigest {
    std::string algorithm;  // "SHA-256", "SHA-1", ...
    bool known = false;     // algorithm is one of Digest's (set in kind)
    DigestAlgorithm kind = DigestAlgorithm::kSha256;
    std::vector<uint8_t> value;
    // The contents of the SpcIndirectDataContent (without its tag and
    // length): the bytes the signer's signature covers.
    std::vector<uint8_t> signed_content;
};

// Reads the digest of pkcs7, a DER-encoded signature. Every length is
// checked against the bytes there are. False with a one-line reason when
// pkcs7 is no Authenticode signature.
bool ReadSignedDigest(const std::vector<uint8_t>& pkcs7, SignedDigest& digest, std::wstring& error);

// The PKCS#7 structure of a certificate table: one WIN_CERTIFICATE of
// revision 2.0 and type PKCS_SIGNED_DATA filling the table, its DER
// structure followed by fewer than 8 zero bytes. False with a one-line
// reason for anything a signer does not write.
bool SignatureOfTable(const std::vector<uint8_t>& table, std::vector<uint8_t>& pkcs7,
                      std::wstring& error);

// A certificate table holding pkcs7 as signers write it: the
// WIN_CERTIFICATE header (its length counting the padding), the
// signature, zeros up to a multiple of 8 bytes.
std::vector<uint8_t> CertificateTableOf(const std::vector<uint8_t>& pkcs7);
