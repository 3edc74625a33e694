// The hostile catalogue through the self-extractor's own reading of its
// file: the certificate-table check and the archive on one descriptor.
// A refused file yields no archive at all; a signed file yields the
// vendor's payload, never an archive in or behind its table.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

#include "archive/decompressors.h"
#include "archive/entry_list.h"
#include "archive/file.h"
#include "archive/monitor.h"
#include "archive/pk_archive.h"
#include "archive_core/test_support.h"
#include "certificate_table/hostile_tables.h"
#include "certificate_table/signed_file.h"
#include "pe/le_bytes.h"
#include "pe/signed_storage.h"
#include "zip/zip_builder.h"

namespace {

using namespace signed_file;

std::string VendorZip() {
    return BuildZip({"", {Member("Windows/install.exe", "vendor"), Member("data/a.txt", "aaa")}, "", ""});
}

std::vector<uint8_t> Installer(const std::vector<uint8_t>& der) {
    std::vector<uint8_t> file = MinimalImage();
    Append(file, VendorZip());
    AttachTable(file, CertificateEntry(der));
    return file;
}

class SignedReader : public ScratchDirTest {
protected:
    // Runs the self-extractor's reading on file: true when the archive may
    // be read, with every extracted file in `extracted`.
    // after_check runs between the check and the directory read,
    // after_directory between the directory read and the extraction.
    bool Extract(const std::vector<uint8_t>& file, const std::function<void()>& after_check = {},
                 const std::function<void()>& after_directory = {}) {
        const fs::path path = dir() / "setup.exe";
        WriteFileBytes(path, std::string(file.begin(), file.end()));
        fs::create_directories(dir() / "out");
        ALFile own(path.wstring().c_str());
        ALPkArchive archive(own);
        if (!LimitToSignedBytes(own, damage)) return false;
        if (after_check) after_check();
        ALPrototypeSet prototypes;
        prototypes.AddDecompressor(ALPkDecompressor());
        prototypes.AddDecompressor(ALCopyDecompressor());
        prototypes.AddStorage(ALFile());
        ALMonitor monitor(AL_MONITOR_JOB);
        ALEntryList list(&monitor, prototypes);
        archive.ReadDirectory(list);
        if (after_directory) after_directory();
        std::wstring saved;
        GetCurrentDir(saved);
        SetCurrentDir((dir() / "out").wstring());
        result = archive.Extract(list);
        SetCurrentDir(saved);
        for (const auto& item : fs::recursive_directory_iterator(dir() / "out")) {
            if (item.is_regular_file()) {
                extracted.insert(fs::relative(item.path(), dir() / "out").generic_string() + "=" +
                                 ReadFileBytes(item.path()));
            }
        }
        return true;
    }

    std::wstring damage;
    int32_t result = 0;
    std::set<std::string> extracted;
};

const std::set<std::string> kVendorFiles = {"Windows/install.exe=vendor", "data/a.txt=aaa"};

}  // namespace

TEST_F(SignedReader, HostileTablesYieldNoArchive) {
    for (const HostileCase& c : HostileCases()) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> file = Installer(FakePkcs7(297));
        c.attack(file);
        damage.clear();
        EXPECT_FALSE(Extract(file));
        EXPECT_NE(std::string(damage.begin(), damage.end()).find(c.cause), std::string::npos);
        EXPECT_TRUE(extracted.empty());
        fs::remove_all(dir() / "out");
    }
}

TEST_F(SignedReader, ASignedFileYieldsTheVendorPayload) {
    ASSERT_TRUE(Extract(Installer(FakePkcs7(297))));
    EXPECT_EQ(result, 2);
    EXPECT_EQ(extracted, kVendorFiles);
}

TEST_F(SignedReader, AZipInsideTheSignatureStructureIsNeverRead) {
    // Well framed, so the rules pass it; the archive search ends before it.
    const std::string zip = SmuggledZip();
    std::vector<uint8_t> der(4 + zip.size());
    der[0] = 0x30;
    der[1] = 0x82;
    der[2] = static_cast<uint8_t>(zip.size() >> 8);
    der[3] = static_cast<uint8_t>(zip.size());
    std::copy(zip.begin(), zip.end(), der.begin() + 4);
    ASSERT_TRUE(Extract(Installer(der)));
    EXPECT_EQ(extracted, kVendorFiles);
}

TEST_F(SignedReader, AnEndRecordAcrossTheTablesStartIsPassedOver) {
    // The signed bytes end with the first 16 bytes of an end record, up to
    // a directory size of 0: read on into the table's header, it would
    // pass as the end record of an empty archive nearer the end than the
    // vendor's.
    std::vector<uint8_t> file = MinimalImage();
    Append(file, VendorZip());
    while ((file.size() + 16) % 8 != 0) file.push_back(0);
    Append(file, std::string("PK\5\6", 4) + std::string(12, '\0'));
    AttachTable(file, CertificateEntry(FakePkcs7(297)));
    ASSERT_EQ(TableOffset(file), file.size() - TableSize(file));
    ASSERT_TRUE(Extract(file));
    EXPECT_EQ(extracted, kVendorFiles);
}

TEST_F(SignedReader, UnsignedFilesAreReadToTheirEnd) {
    std::vector<uint8_t> elf = {0x7F, 'E', 'L', 'F'};
    Append(elf, VendorZip());
    ASSERT_TRUE(Extract(elf));
    EXPECT_EQ(extracted, kVendorFiles);
}

TEST_F(SignedReader, AFileSwappedAfterTheCheckIsNotRead) {
    // Another file put in the installer's place (as a local user racing a
    // privileged run would) after the check, or after the directory read:
    // what was checked is what is extracted. (Windows refuses to replace
    // a file that is open without delete sharing; POSIX systems let the
    // name move on to the new file.)
    std::vector<uint8_t> hostile = {0x7F, 'E', 'L', 'F'};
    Append(hostile, SmuggledZip());
    int swaps = 0;
    const auto swap = [&] {
        const fs::path other = dir() / "other.exe";
        WriteFileBytes(other, std::string(hostile.begin(), hostile.end()));
        std::error_code error;
        fs::rename(other, dir() / "setup.exe", error);
        if (!error) ++swaps;
    };
    ASSERT_TRUE(Extract(Installer(FakePkcs7(297)), swap));
    EXPECT_EQ(extracted, kVendorFiles);
    fs::remove_all(dir() / "out");
    extracted.clear();
    ASSERT_TRUE(Extract(Installer(FakePkcs7(297)), {}, swap));
    EXPECT_EQ(extracted, kVendorFiles);
#ifndef _WIN32
    EXPECT_EQ(swaps, 2);
#endif
}
