// The position of the ZIP data inside its storage is found from the
// directory itself, whatever the local headers look like.
#include <gtest/gtest.h>

#include <string>

#include "zip/zip_builder.h"
#include "zip/zip_test_support.h"

namespace {

// Members whose local records differ from what the central records alone
// would predict: the layouts other tools write.
ZipSpec UnevenMembers(const std::string& prefix) {
    ZipSpec spec;
    spec.prefix = prefix;
    ZipMember longer_local = Member("local-extra-longer.txt", "Info-ZIP writes UT and ux fields");
    longer_local.local_extra = std::string("UT\x09\x00\x03\x01\x02\x03\x04\x05\x06\x07\x08", 13);
    longer_local.central_extra = std::string("UT\x05\x00\x03\x01\x02\x03\x04", 9);
    spec.members.push_back(longer_local);
    ZipMember descriptor = Member("streamed.bin", PatternBytes(7000));
    descriptor.flags = 0x0808;  // UTF-8 name, data descriptor
    spec.members.push_back(descriptor);
    ZipMember utf8_only = Member("utf8-flag-only.txt", "no descriptor follows");
    utf8_only.flags = 0x0800;
    spec.members.push_back(utf8_only);
    ZipMember option_only = Member("option-only.txt", std::string(3000, 'o'));
    option_only.flags = 0x0002;
    option_only.level = 9;
    spec.members.push_back(option_only);
    ZipMember stored_descriptor = Member("stored-descriptor.txt", "stored, then a descriptor", 0);
    stored_descriptor.flags = 0x0008;
    spec.members.push_back(stored_descriptor);
    return spec;
}

}  // namespace

using BaseCorrection = ZipFixture;

TEST_F(BaseCorrection, UnevenLocalRecordsExtractWithAnyPrefix) {
    for (const std::string& prefix :
         {std::string(), PayloadHeader(), std::string(777, '\x7F'), PayloadHeader() + "MZ"}) {
        const ZipSpec spec = UnevenMembers(prefix);
        Run(BuildZip(spec));
        ASSERT_EQ(read_result, 5) << prefix.size();
        EXPECT_EQ(extract_result, 5) << prefix.size() << " " << Detail();
        for (const ZipMember& m : spec.members) {
            EXPECT_EQ(Extracted(m.name), m.data) << m.name << " after " << prefix.size();
        }
        fs::remove_all(Out());
    }
}

// A list read twice holds both sets of entries; each set is corrected once.
TEST_F(BaseCorrection, ReadingTwiceCorrectsOnlyTheNewEntries) {
    const ZipSpec spec = UnevenMembers(PayloadHeader());
    Read(BuildZip(spec));
    ASSERT_EQ(read_result, 5);
    const int32_t first_offset = list->GetFirstEntry()->local_header_offset;
    EXPECT_EQ(first_offset, 1028);
    EXPECT_EQ(archive->ReadDirectory(*list), 5);
    EXPECT_EQ(list->GetFirstEntry()->local_header_offset, first_offset);
    EXPECT_EQ(EntryAt(5)->local_header_offset, first_offset);
    ExtractAll();
    EXPECT_EQ(extract_result, 10) << Detail();
}
