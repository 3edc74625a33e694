// The certificate-table rules on files made in the test: what signers
// write passes, every way of smuggling data into or behind the table, and
// every impossible claim of the security directory, is refused with its
// cause named.
#include <gtest/gtest.h>

#include <functional>

#include "certificate_table/signed_file.h"
#include "pe/certificate_table.h"
#include "pe/le_bytes.h"
#include "zip/zip_builder.h"

namespace {

using namespace signed_file;

const std::string kPayload = "vendor payload bytes, not a multiple of eight";

std::string SmuggledZip() { return BuildZip({"", {Member("Windows/install.exe", "evil")}, "", ""}); }

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

// Grows the first entry and the directory by extra, appended to the table.
void GrowEntry(std::vector<uint8_t>& file, const std::string& extra) {
    const uint32_t offset = TableOffset(file);
    uint32_t length = 0;
    ByteReader(file).U32(offset, length);
    Append(file, extra);
    PadTo(file, 8);
    Put32(file, offset, static_cast<uint32_t>(file.size() - offset));
    SetSecurityDirectory(file, offset, static_cast<uint32_t>(file.size() - offset));
}

void AppendEntry(std::vector<uint8_t>& file, const std::vector<uint8_t>& entry) {
    file.insert(file.end(), entry.begin(), entry.end());
    SetSecurityDirectory(file, TableOffset(file), static_cast<uint32_t>(file.size() - TableOffset(file)));
}

struct HostileCase {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> attack;
    const char* cause;  // a fragment of the reason
};

const HostileCase kHostileCases[] = {
    {"ZipInsideThePadding", [](std::vector<uint8_t>& f) { GrowEntry(f, SmuggledZip()); },
     "bytes of data follow the signature inside the certificate table"},
    {"SecondEntryCarryingAZip",
     [](std::vector<uint8_t>& f) {
         const std::string bytes = SmuggledZip();
         const std::vector<uint8_t> zip(bytes.begin(), bytes.end());
         AppendEntry(f, CertificateEntry(zip, 0x0001));
     },
     "a second certificate entry (type 0x0001"},
    {"SecondSignatureEntry",
     [](std::vector<uint8_t>& f) { AppendEntry(f, CertificateEntry(FakePkcs7(40))); },
     "a second certificate entry (type 0x0002"},
    {"DataAfterTheTable", [](std::vector<uint8_t>& f) { Append(f, SmuggledZip()); },
     "bytes follow the certificate table"},
    {"DirectoryPastTheEnd",
     [](std::vector<uint8_t>& f) { SetSecurityDirectory(f, TableOffset(f), TableSize(f) + 8); },
     "runs past the end of the file"},
    {"DirectoryFarPastTheEnd",
     [](std::vector<uint8_t>& f) { SetSecurityDirectory(f, 0xFFFFFFF8u, 0xFFFFFFF8u); },
     "runs past the end of the file"},
    {"DirectoryIntoTheImage", [](std::vector<uint8_t>& f) { SetSecurityDirectory(f, 0x200, 0x100); },
     "lies inside the image"},
    {"DirectoryIntoTheHeaders", [](std::vector<uint8_t>& f) { SetSecurityDirectory(f, 0x8, 0x100); },
     "lies inside the image"},
    {"UnalignedOffset",
     [](std::vector<uint8_t>& f) {
         const uint32_t offset = TableOffset(f);
         f.insert(f.begin() + offset, 0);
         SetSecurityDirectory(f, offset + 1, TableSize(f));
     },
     "unaligned offset"},
    {"ZeroLengthEntry", [](std::vector<uint8_t>& f) { Put32(f, TableOffset(f), 0); }, "is too small"},
    {"HugeEntryLength", [](std::vector<uint8_t>& f) { Put32(f, TableOffset(f), 0xFFFFFFF0u); },
     "runs past the certificate table"},
    {"EntryOneBlockLonger",
     [](std::vector<uint8_t>& f) { Put32(f, TableOffset(f), TableSize(f) + 8); },
     "runs past the certificate table"},
    {"OffsetWithoutSize", [](std::vector<uint8_t>& f) { SetSecurityDirectory(f, TableOffset(f), 0); },
     "half empty"},
    {"SizeWithoutOffset", [](std::vector<uint8_t>& f) { SetSecurityDirectory(f, 0, TableSize(f)); },
     "half empty"},
    {"NotASignature", [](std::vector<uint8_t>& f) { Put16(f, TableOffset(f) + 6, 0x0001); },
     "of type 0x0001, not a PKCS#7 signature"},
    {"UnknownRevision", [](std::vector<uint8_t>& f) { Put16(f, TableOffset(f) + 4, 0x0300); },
     "unknown revision (0x0300)"},
    {"NoDerSequence", [](std::vector<uint8_t>& f) { f[TableOffset(f) + 8] = 0x31; },
     "no DER-encoded PKCS#7"},
    {"IndefiniteDerLength", [](std::vector<uint8_t>& f) { f[TableOffset(f) + 9] = 0x80; },
     "no DER-encoded PKCS#7"},
    {"FiveDerLengthBytes", [](std::vector<uint8_t>& f) { f[TableOffset(f) + 9] = 0x85; },
     "no DER-encoded PKCS#7"},
    {"DerPastItsEntry", [](std::vector<uint8_t>& f) { f[TableOffset(f) + 10] = 0x7F; },
     "runs past its certificate entry"},
    {"NonZeroPadding", [](std::vector<uint8_t>& f) { f[f.size() - 1] = 'P'; },
     "padding after the signature holds data"},
    {"ShorterDerLeavesData", [](std::vector<uint8_t>& f) { f[TableOffset(f) + 11] = 0x01; },
     "bytes of data follow the signature"},
    {"TableOfOneHeader",
     [](std::vector<uint8_t>& f) {
         f.resize(TableOffset(f) + 8);
         SetSecurityDirectory(f, TableOffset(f), 8);
     },
     "too small for a signature"},
    {"FileCutShort", [](std::vector<uint8_t>& f) { f.resize(f.size() - 16); },
     "runs past the end of the file"},
    {"SectionPastTheEnd", [](std::vector<uint8_t>& f) { Put32(f, 0x80 + 24 + 224 + 16, 0x100000); },
     "the PE headers are damaged"},
    {"SectionNameBreaksTheLine",
     [](std::vector<uint8_t>& f) {
         f[0x80 + 24 + 224 + 2] = '\n';
         Put32(f, 0x80 + 24 + 224 + 16, 0x100000);
     },
     "section .t?xt runs past the end of the file"},
};

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
    for (const HostileCase& c : kHostileCases) {
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

TEST(CertificateTableRules, AFailedReadOfTheTableIsDamage) {
    const std::vector<uint8_t> file = SignedFile();
    FailingSource source(file, TableOffset(file));
    const CertificateTableCheck check = CheckCertificateTable(file.size(), source);
    EXPECT_EQ(check.state, SignatureState::kDamaged);
    EXPECT_EQ(check.reason, L"the certificate table cannot be read");
}

}  // namespace
