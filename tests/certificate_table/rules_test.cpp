// The certificate-table rules on files made in the test: what signers
// write passes, every way of smuggling data into or behind the table, and
// every impossible claim of the security directory, is refused with its
// cause named.
#include <gtest/gtest.h>

#include <functional>

#include "certificate_table/hostile_tables.h"
#include "certificate_table/signed_file.h"
#include "pe/certificate_table.h"
#include "pe/le_bytes.h"
#include "pe/pe_image.h"
#include "zip/zip_builder.h"

namespace {

using namespace signed_file;

const std::string kPayload = "vendor payload bytes, not a multiple of eight";

// The image, the payload, and a table of one entry around a 301-byte
// PKCS#7 structure (so that three bytes of padding follow it).
std::vector<uint8_t> SignedFile() {
    std::vector<uint8_t> file = MinimalImage();
    Append(file, kPayload);
    AttachTable(file, CertificateEntry(FakePkcs7(297)));
    return file;
}

CertificateTableCheck Check(const std::vector<uint8_t>& file) {
    MemoryByteSource source(file);
    return CheckCertificateTable(file.size(), source);
}

TEST(CertificateTableRules, WhatSignersWritePasses) {
    const std::vector<uint8_t> file = SignedFile();
    const CertificateTableCheck check = Check(file);
    EXPECT_EQ(check.state, SignatureState::kSigned) << std::string(check.reason.begin(), check.reason.end());
    EXPECT_EQ(check.signed_end, TableOffset(file));
    EXPECT_EQ(check.table_offset, TableOffset(file));
    EXPECT_EQ(check.table_size, file.size() - TableOffset(file));
    EXPECT_TRUE(check.reason.empty());
}

TEST(CertificateTableRules, PaddingOfEveryLengthPasses) {
    // DER sizes 296..303 leave 0..7 bytes of padding; short and long length forms.
    for (size_t content = 292; content < 300; ++content) {
        std::vector<uint8_t> file = MinimalImage();
        AttachTable(file, CertificateEntry(FakePkcs7(content)));
        EXPECT_EQ(Check(file).state, SignatureState::kSigned) << content;
    }
    std::vector<uint8_t> file = MinimalImage();
    AttachTable(file, CertificateEntry({0x30, 0x03, 1, 2, 3}));
    EXPECT_EQ(Check(file).state, SignatureState::kSigned);
}

TEST(CertificateTableRules, FilesWithoutTableAreUnsignedToTheirEnd) {
    std::vector<uint8_t> image = MinimalImage();
    Append(image, SmuggledZip());
    std::vector<uint8_t> elf = {0x7F, 'E', 'L', 'F'};
    Append(elf, SmuggledZip());
    std::vector<uint8_t> few_directories = SignedFile();
    Put32(few_directories, 0x80 + 24 + 92, 4);  // NumberOfRvaAndSizes
    std::vector<uint8_t> mz_only = {'M', 'Z'};
    mz_only.resize(100, 0xFF);
    std::vector<uint8_t> empty;
    for (const std::vector<uint8_t>* file : {&image, &elf, &few_directories, &mz_only, &empty}) {
        const CertificateTableCheck check = Check(*file);
        EXPECT_EQ(check.state, SignatureState::kUnsigned);
        EXPECT_EQ(check.signed_end, file->size());
    }
}

TEST(CertificateTableRules, HostileTablesAreRefusedWithTheirCause) {
    for (const HostileCase& c : HostileCases()) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> file = SignedFile();
        c.attack(file);
        const CertificateTableCheck check = Check(file);
        const std::string reason(check.reason.begin(), check.reason.end());
        EXPECT_EQ(check.state, SignatureState::kDamaged) << c.name;
        EXPECT_EQ(check.signed_end, 0u) << c.name;
        EXPECT_NE(reason.find(c.cause), std::string::npos) << c.name << ": " << reason;
        EXPECT_EQ(reason.find('\n'), std::string::npos) << c.name;
    }
}

// A source that fails every read from a given offset on: a file that
// changes or breaks while it is checked.
class FailingSource : public ByteSource {
public:
    FailingSource(const std::vector<uint8_t>& bytes, uint64_t from) : inner_(bytes), from_(from) {}
    bool Read(uint64_t offset, size_t count, uint8_t* out) override {
        return offset < from_ && inner_.Read(offset, count, out);
    }

private:
    MemoryByteSource inner_;
    uint64_t from_;
};

TEST(PeHeaderErrors, SectionNamesKeepTheMessageOnOneLine) {
    std::vector<uint8_t> image = MinimalImage();
    image[0x80 + 24 + 224 + 2] = '\n';
    Put32(image, 0x80 + 24 + 224 + 16, 0x100000);
    PeLayout layout;
    std::wstring error;
    EXPECT_FALSE(ReadPeLayout(image, layout, error));
    EXPECT_EQ(error, L"section .t?xt runs past the end of the file");
}

TEST(CertificateTableRules, AFailedReadIsDamageNeverAnUnsignedFile) {
    const std::vector<uint8_t> file = SignedFile();
    FailingSource source(file, TableOffset(file));
    CertificateTableCheck check = CheckCertificateTable(file.size(), source);
    EXPECT_EQ(check.state, SignatureState::kDamaged);
    EXPECT_EQ(check.reason, L"the certificate table cannot be read");
    for (uint64_t from : {uint64_t{0}, uint64_t{0x80}}) {
        FailingSource headers(file, from);
        check = CheckCertificateTable(file.size(), headers);
        EXPECT_EQ(check.state, SignatureState::kDamaged) << from;
        EXPECT_EQ(check.reason, L"the PE headers cannot be read") << from;
    }
}

}  // namespace
