// Fuzzes the certificate-table rules and the PE header reading under them.
// Input: a whole file. Checks, besides the sanitizers: no read outside the
// file, and a verdict consistent with itself (a signed file's table ends
// the file on an 8-byte boundary after the signed bytes; a damaged one
// names its cause on one line).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pe/certificate_table.h"
#include "pe/le_bytes.h"
#include "pe/pe_image.h"

namespace {

// A source that traps on any read outside the file: the rules must check
// every claim before they read.
class StrictSource : public ByteSource {
public:
    StrictSource(const uint8_t* data, size_t size) : inner_(data, size), size_(size) {}
    bool Read(uint64_t offset, size_t count, uint8_t* out) override {
        if (offset > size_ || count > size_ - offset) abort();
        return inner_.Read(offset, count, out);
    }

private:
    MemoryByteSource inner_;
    size_t size_;
};

void Require(bool condition, int line) {
    if (condition) return;
    fprintf(stderr, "invariant of line %d broken\n", line);
    abort();
}
#define REQUIRE(condition) Require(condition, __LINE__)

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    StrictSource source(data, size);
    const CertificateTableCheck check = CheckCertificateTable(size, source);
    switch (check.state) {
    case SignatureState::kUnsigned:
        REQUIRE(check.signed_end == size && check.reason.empty());
        break;
    case SignatureState::kSigned:
        REQUIRE(check.reason.empty() && check.signed_end == check.table_offset);
        REQUIRE(check.table_offset % 8 == 0 && check.table_offset + check.table_size == size);
        REQUIRE(check.table_size >= 10);
        break;
    case SignatureState::kDamaged:
        REQUIRE(check.signed_end == 0 && !check.reason.empty());
        REQUIRE(check.reason.find(L'\n') == std::wstring::npos);
        break;
    }
    // Headers read from the first bytes agree with headers read from all.
    const std::vector<uint8_t> whole(data, data + size);
    PeLayout from_all, from_head;
    std::wstring error_all, error_head;
    const bool all = ReadPeLayout(whole, from_all, error_all);
    const bool head = ReadPeHeaders(ByteReader(data, size), size, from_head, error_head);
    REQUIRE(all == head && error_all == error_head);
    return 0;
}
