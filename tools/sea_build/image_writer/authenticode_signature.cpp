#include "tools/sea_build/image_writer/authenticode_signature.h"

#include <cstring>

#include "pe/certificate_table.h"
#include "pe/le_bytes.h"

namespace {

constexpr uint16_t kCertificateRevision = 0x0200;
constexpr uint16_t kPkcsSignedData = 0x0002;

const uint8_t kSignedDataOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
const uint8_t kIndirectDataOid[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x04};

struct DigestName {
    const char* name;
    uint8_t oid[9];
    size_t oid_size;
    bool known;
    DigestAlgorithm kind;
};
const DigestName kDigests[] = {
    {"SHA-256", {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01}, 9, true,
     DigestAlgorithm::kSha256},
    {"SHA-384", {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02}, 9, true,
     DigestAlgorithm::kSha384},
    {"SHA-512", {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03}, 9, true,
     DigestAlgorithm::kSha512},
    {"SHA-1", {0x2B, 0x0E, 0x03, 0x02, 0x1A}, 5, true, DigestAlgorithm::kSha1},
    {"MD5", {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x05}, 8, false, DigestAlgorithm::kSha1},
};

// One DER element: its tag and where its contents lie.
struct Der {
    uint8_t tag = 0;
    size_t start = 0;  // of the contents
    size_t size = 0;
    size_t end() const { return start + size; }
};

// Reads the element at `at`, which must end by `limit`. Only definite
// lengths of up to four bytes: what DER allows for anything this size.
bool ReadDer(const std::vector<uint8_t>& bytes, size_t at, size_t limit, Der& element) {
    if (limit > bytes.size() || at + 2 > limit) return false;
    element.tag = bytes[at];
    size_t length = bytes[at + 1];
    size_t header = 2;
    if (length & 0x80) {
        const size_t count = length & 0x7F;
        if (count == 0 || count > 4 || at + 2 + count > limit) return false;
        length = 0;
        for (size_t i = 0; i < count; ++i) length = (length << 8) | bytes[at + 2 + i];
        header += count;
    }
    if (length > limit - at - header) return false;
    element.start = at + header;
    element.size = length;
    return true;
}

bool IsOid(const std::vector<uint8_t>& bytes, const Der& element, const uint8_t* oid, size_t size) {
    return element.tag == 0x06 && element.size == size &&
           memcmp(&bytes[element.start], oid, size) == 0;
}

// Steps into the first element of a constructed element with tag `tag`.
bool Enter(const std::vector<uint8_t>& bytes, const Der& outer, uint8_t tag, Der& inner) {
    return outer.tag == tag && ReadDer(bytes, outer.start, outer.end(), inner);
}

bool Next(const std::vector<uint8_t>& bytes, const Der& current, const Der& outer, Der& next) {
    return ReadDer(bytes, current.end(), outer.end(), next);
}

}  // namespace

bool ReadSignedDigest(const std::vector<uint8_t>& pkcs7, SignedDigest& digest,
                      std::wstring& error) {
    error = L"the signature is no DER-encoded Authenticode signature (PKCS#7 SignedData)";
    Der info, type, explicit_content, signed_data, field, content_info, content_type, wrapper,
        indirect, data, digest_info, algorithm, algorithm_oid, value;
    if (!ReadDer(pkcs7, 0, pkcs7.size(), info) || info.end() != pkcs7.size() ||
        !Enter(pkcs7, info, 0x30, type) || !IsOid(pkcs7, type, kSignedDataOid, sizeof kSignedDataOid) ||
        !Next(pkcs7, type, info, explicit_content) ||
        !Enter(pkcs7, explicit_content, 0xA0, signed_data) ||
        !Enter(pkcs7, signed_data, 0x30, field) || field.tag != 0x02 ||  // version
        !Next(pkcs7, field, signed_data, field) || field.tag != 0x31 ||  // digest algorithms
        !Next(pkcs7, field, signed_data, content_info) ||
        !Enter(pkcs7, content_info, 0x30, content_type)) {
        return false;
    }
    if (!IsOid(pkcs7, content_type, kIndirectDataOid, sizeof kIndirectDataOid) ||
        !Next(pkcs7, content_type, content_info, wrapper) ||
        !Enter(pkcs7, wrapper, 0xA0, indirect) || !Enter(pkcs7, indirect, 0x30, data) ||
        !Next(pkcs7, data, indirect, digest_info) ||
        !Enter(pkcs7, digest_info, 0x30, algorithm) ||
        !Enter(pkcs7, algorithm, 0x30, algorithm_oid) || algorithm_oid.tag != 0x06 ||
        !Next(pkcs7, algorithm, digest_info, value) || value.tag != 0x04) {
        error = L"the signature holds no Authenticode digest (SpcIndirectDataContent)";
        return false;
    }
    digest.algorithm = "OID of " + std::to_string(algorithm_oid.size) + " bytes";
    for (const DigestName& name : kDigests) {
        if (IsOid(pkcs7, algorithm_oid, name.oid, name.oid_size)) {
            digest.algorithm = name.name;
            digest.known = name.known;
            digest.kind = name.kind;
        }
    }
    digest.value.assign(pkcs7.begin() + static_cast<std::ptrdiff_t>(value.start),
                        pkcs7.begin() + static_cast<std::ptrdiff_t>(value.end()));
    digest.signed_content.assign(pkcs7.begin() + static_cast<std::ptrdiff_t>(indirect.start),
                                 pkcs7.begin() + static_cast<std::ptrdiff_t>(indirect.end()));
    error.clear();
    return true;
}

bool SignatureOfTable(const std::vector<uint8_t>& table, std::vector<uint8_t>& pkcs7,
                      std::wstring& error) {
    const uint64_t size = SignatureInTable(table, error);
    if (size == 0) return false;
    if (table.size() % 8 != 0) {
        error = L"the certificate table (" + std::to_wstring(table.size()) +
                L" bytes) is not padded to a multiple of 8 bytes";
        return false;
    }
    pkcs7.assign(table.begin() + 8, table.begin() + 8 + static_cast<std::ptrdiff_t>(size));
    return true;
}

std::vector<uint8_t> CertificateTableOf(const std::vector<uint8_t>& pkcs7) {
    std::vector<uint8_t> table;
    Append32(table, static_cast<uint32_t>(AlignUp(pkcs7.size() + 8, 8)));
    Append16(table, kCertificateRevision);
    Append16(table, kPkcsSignedData);
    table.insert(table.end(), pkcs7.begin(), pkcs7.end());
    PadTo(table, 8);
    return table;
}
