// The builder's reading of Authenticode signatures from untrusted files:
// a detached signature given to --attach-signature, and the certificate
// table of an installer signed by an outside command. Each input is taken
// both as a PKCS#7 structure and as a certificate table.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/sea_build/image_writer/authenticode_signature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    std::wstring error;
    SignedDigest digest;
    if (ReadSignedDigest(bytes, digest, error)) {
        // What was read lies inside the input.
        if (digest.value.size() > size || digest.signed_content.size() > size) __builtin_trap();
    }
    std::vector<uint8_t> pkcs7;
    if (SignatureOfTable(bytes, pkcs7, error)) {
        // A table that passes gives back its signature, and writing that
        // signature into a table again gives the same bytes. Only the entry's
        // length may differ: signers write it with or without the padding,
        // and the builder always counts the padding in.
        if (pkcs7.size() + 8 > size) __builtin_trap();
        const std::vector<uint8_t> again = CertificateTableOf(pkcs7);
        const size_t length = again.size() < 4 ? 0
                              : again[0] | again[1] << 8 | again[2] << 16 |
                                    static_cast<size_t>(again[3]) << 24;
        if (again.size() != size || length != size ||
            !std::equal(again.begin() + 4, again.end(), bytes.begin() + 4))
            __builtin_trap();
    }
    return 0;
}
