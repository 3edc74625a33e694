#include <gtest/gtest.h>

#include <string>

#include "archive/status.h"
#include "sea/run_state.h"
#include "sea/status_text.h"
#include "test_support.h"

TEST(StatusBlock, FreshBlockHasNoErrors) {
    ALStatusBlock block;
    EXPECT_EQ(block.GetStatusCode(), AL_NO_ERRORS);
    EXPECT_STREQ(block.GetStatusDetail(), L"No errors");
    EXPECT_EQ(block.GetDetailText(), nullptr);
}

TEST(StatusBlock, SetErrorRecordsFormattedDetail) {
    ALStatusBlock block;
    int32_t result = block.SetError(AL_CANT_OPEN_FILE,
                                    L"File open failure.  Open of %s returned errno = %d",
                                    L"dir/data.txt", 2);
    EXPECT_EQ(result, AL_CANT_OPEN_FILE);
    EXPECT_EQ(block.GetStatusCode(), AL_CANT_OPEN_FILE);
    EXPECT_STREQ(block.GetStatusDetail(), L"File open failure.  Open of dir/data.txt returned errno = 2");
}

TEST(StatusBlock, LongDetailIsCutAt128Characters) {
    ALStatusBlock block;
    const std::wstring text(200, L'x');
    block.SetError(AL_READ_ERROR, L"%s", text.c_str());
    EXPECT_EQ(std::wstring(block.GetStatusDetail()), std::wstring(128, L'x'));
}

TEST(StatusBlock, NamesLongerThanTheWorkAreaAreCutNotOverrun) {
    ALStatusBlock block;
    const std::wstring name(1000, L'n');
    block.SetError(AL_WRITE_ERROR, L"Write failure on %s.  result = %d, errno = %d", name.c_str(), -1, 28);
    const std::wstring detail = block.GetStatusDetail();
    ASSERT_EQ(detail.size(), 128u);
    EXPECT_EQ(detail.substr(0, 17), L"Write failure on ");
}

TEST(StatusBlock, NullFormatRemovesDetail) {
    ALStatusBlock block;
    block.SetError(AL_CANT_OPEN_FILE, L"some cause");
    EXPECT_EQ(block.SetError(AL_READ_ERROR, nullptr), AL_READ_ERROR);
    EXPECT_EQ(block.GetDetailText(), nullptr);
    EXPECT_STREQ(block.GetStatusDetail(), L"Unable to allocate memory for error detail message");
}

TEST(StatusBlock, SecondErrorOverwritesFirst) {
    ALStatusBlock block;
    block.SetError(AL_CANT_OPEN_FILE, L"first %d", 1);
    block.SetError(AL_CRC_ERROR, L"second");
    EXPECT_EQ(block.GetStatusCode(), AL_CRC_ERROR);
    EXPECT_STREQ(block.GetStatusDetail(), L"second");
}

TEST(StatusBlock, SetStatusFromCopiesCodeAndSeparateText) {
    ALStatusBlock source;
    source.SetError(AL_WRITE_ERROR, L"Write failure on %s.  result = %d, errno = %d", L"f", -1, 28);
    ALStatusBlock copy;
    copy.SetStatusFrom(source);
    EXPECT_EQ(copy.GetStatusCode(), AL_WRITE_ERROR);
    EXPECT_STREQ(copy.GetStatusDetail(), source.GetStatusDetail());
    EXPECT_NE(copy.GetDetailText(), source.GetDetailText());
    source.SetError(AL_READ_ERROR, L"changed");
    EXPECT_STREQ(copy.GetStatusDetail(), L"Write failure on f.  result = -1, errno = 28");
}

TEST(StatusBlock, SetStatusFromBlockWithoutDetailRemovesText) {
    ALStatusBlock target;
    target.SetError(AL_CRC_ERROR, L"old detail");
    ALStatusBlock source;
    source.SetError(AL_SEEK_ERROR, nullptr);
    target.SetStatusFrom(source);
    EXPECT_EQ(target.GetStatusCode(), AL_SEEK_ERROR);
    EXPECT_EQ(target.GetDetailText(), nullptr);
    ALStatusBlock fresh;
    target.SetStatusFrom(fresh);
    EXPECT_EQ(target.GetStatusCode(), AL_NO_ERRORS);
    EXPECT_STREQ(target.GetStatusDetail(), L"No errors");
}

TEST(StatusBlock, SetStatusFromItselfKeepsText) {
    ALStatusBlock block;
    block.SetError(AL_CRC_ERROR, L"kept");
    block.SetStatusFrom(block);
    EXPECT_STREQ(block.GetStatusDetail(), L"kept");
}

TEST(StatusText, EveryCodeMapsToItsText) {
    const struct {
        int32_t code;
        const wchar_t* text;
    } kCases[] = {
        {AL_END_OF_FILE, L"End of file"},
        {AL_CANT_ALLOCATE_BUFFER, L"Can't allocate buffer"},
        {AL_MEMORY_ALLOCATION_FAILURE, L"Memory allocation failure"},
        {AL_CANT_CREATE_COMPRESSION_ENGINE, L"Can't create compression engine"},
        {AL_CANT_CREATE_STORAGE_OBJECT, L"Can't create storage object"},
        {AL_ERROR_RENAMING_FILE, L"Error renaming file"},
        {AL_CANT_OPEN_FILE, L"Can't open file"},
        {AL_SEEK_ERROR, L"Seek error"},
        {AL_READ_ERROR, L"Read error"},
        {AL_WRITE_ERROR, L"Write error"},
        {AL_FILE_DELETION_ERROR, L"File deletion error"},
        {AL_ILLEGAL_PARAMETER, L"Illegal parameter"},
        {AL_INTERNAL_ERROR, L"Internal error"},
        {AL_USER_ABORT, L"User abort"},
        {AL_SERVER_NOT_PRESENT, L"Server not present"},
        {AL_MISMATCH_IN_COMPRESSION_TYPE, L"Mismatch in compression type"},
        {AL_MISSING_LENGTH_PARAMETER, L"Missing length parameter"},
        {AL_CRC_ERROR, L"CRC Error"},
        {AL_UNKNOWN_TYPE_OF_STORAGE_OBJECT, L"Unknown type of storage object"},
        {AL_INVALID_ARCHIVE, L"Invalid archive"},
        {AL_LOGIC_ERROR, L"Logic error"},
        {AL_COULD_NOT_CREATE_BACKUP, L"Could not create backup"},
        {AL_ERROR_GETTING_SELECTIONS_FROM_LIST_BOX, L"Error getting selections from list box"},
        {AL_DUPLICATE_ENTRY, L"Duplicate entry"},
        {AL_INVALID_KEY, L"Invalid key"},
        {AL_MISSING_CRYPTO_ENGINE, L"Missing Crypto engine"},
    };
    for (const auto& c : kCases) {
        ASSERT_NE(StatusCodeText(c.code), nullptr) << c.code;
        EXPECT_STREQ(StatusCodeText(c.code), c.text) << c.code;
    }
    for (int32_t code : {0, 7, -5, -1983, -1982, -2000, -1973, -1201}) {
        EXPECT_EQ(StatusCodeText(code), nullptr) << code;
    }
}

class StatusLogTest : public ScratchDirTest {
protected:
    void SetUp() override {
        ScratchDirTest::SetUp();
        saved_logging_ = g_run.logging;
        saved_directory_ = g_run.log_directory;
        g_run.logging = true;
        g_run.log_directory = dir().wstring();
    }
    void TearDown() override {
        g_run.logging = saved_logging_;
        g_run.log_directory = saved_directory_;
        ScratchDirTest::TearDown();
    }

    std::string LogText() {
        std::string text = ReadFileBytes(dir() / "sea.log");
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    }

private:
    bool saved_logging_ = false;
    std::wstring saved_directory_;
};

TEST_F(StatusLogTest, LogsCodeLineForCodesWithText) {
    LogStatusCodeText(AL_CRC_ERROR);
    LogStatusCodeText(AL_CANT_OPEN_FILE);
    LogStatusCodeText(AL_END_OF_FILE);
    EXPECT_EQ(LogText(),
              "Code -1984 = 'CRC Error'\n"
              "Code -1995 = 'Can't open file'\n"
              "Code -1 = 'End of file'\n");
}

TEST_F(StatusLogTest, LogsNothingForCodesWithoutText) {
    for (int32_t code : {-1983, -1982, -5, 0, 7}) LogStatusCodeText(code);
    EXPECT_FALSE(fs::exists(dir() / "sea.log"));
}
