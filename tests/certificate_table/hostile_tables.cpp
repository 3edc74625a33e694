#include "certificate_table/hostile_tables.h"

#include "certificate_table/signed_file.h"
#include "pe/le_bytes.h"
#include "zip/zip_builder.h"

using namespace signed_file;

std::string SmuggledZip() {
    return BuildZip({"", {Member("Windows/install.exe", "evil"), Member("smuggled.txt", "x")}, "", ""});
}

namespace {

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

}  // namespace

const std::vector<HostileCase>& HostileCases() {
    static const std::vector<HostileCase> cases = {
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
         "lies inside the image, which ends at 1049088"},
        {"SectionTablePastTheEnd", [](std::vector<uint8_t>& f) { Put16(f, 0x80 + 6, 0xFFFF); },
         "the PE section table runs past the end of the file"},
    };
    return cases;
}

