// Shared pieces of the ZIP tests: the prototype set of the extractor, a
// monitor that records what it is told, and a fixture that writes an archive
// into a scratch directory and extracts it into a subdirectory "out".
#pragma once

#include <gtest/gtest.h>

#include <cstdarg>
#include <memory>
#include <string>
#include <vector>

#include "archive/decompressors.h"
#include "archive/entry_list.h"
#include "archive/file.h"
#include "archive/monitor.h"
#include "archive/pk_archive.h"
#include "sea/extract_lanes.h"
#include "archive_core/test_support.h"
#include "platform/format.h"
#include "zip/zip_builder.h"

// What the extraction driver hands the library: inflate and copy
// decompressors and one file storage.
inline ALPrototypeSet ExtractorPrototypes() {
    ALPrototypeSet set;
    set.AddDecompressor(ALPkDecompressor());
    set.AddDecompressor(ALCopyDecompressor());
    set.AddStorage(ALFile());
    return set;
}

// Records events ("E<number>:<entry name>"), text messages and progress.
class RecordingMonitor : public ALMonitor {
public:
    explicit RecordingMonitor(int32_t mode = AL_MONITOR_JOB | AL_MONITOR_TEXT_MESSAGES)
        : ALMonitor(mode) {}

    void UpdateProgress(int32_t position, ALStorage& storage) override {
        ALMonitor::UpdateProgress(position, storage);
        ratios.push_back(ratio);
    }
    void NotifyOperation(ALMonitorEvent event, ALArchive*, ALEntry* entry) override {
        std::wstring text = L"E" + std::to_wstring(static_cast<int>(event));
        if (entry && entry->storage) text += std::wstring(L":") + entry->storage->GetName();
        events.push_back(text);
    }
    void ShowMessage(int32_t number, const wchar_t* format, ...) override {
        wchar_t text[300];
        va_list args;
        va_start(args, format);
        FormatBoundedV(text, 300, format, args);
        va_end(args);
        messages.push_back(std::to_wstring(number) + L":" + text);
    }

    std::vector<std::wstring> events;
    std::vector<std::wstring> messages;
    std::vector<int32_t> ratios;
};

// A scratch directory (current while the test runs) holding archive.zip and
// the extraction target "out".
class ZipFixture : public ScratchDirTest {
protected:
    // Writes bytes as archive.zip, reads its directory and extracts it into
    // out/. The list and archive stay for inspection.
    void Run(const std::string& bytes, const ALPrototypeSet& prototypes = ExtractorPrototypes()) {
        Read(bytes, prototypes);
        ExtractAll();
    }
    void Read(const std::string& bytes, const ALPrototypeSet& prototypes = ExtractorPrototypes()) {
        WriteFileBytes(ArchivePath(), bytes);
        list = std::make_unique<ALEntryList>(&monitor, prototypes);
        archive = std::make_unique<ALPkArchive>(ArchivePath().wstring().c_str());
        read_result = archive->ReadDirectory(*list);
    }
    // Extract with out/ as the current directory.
    void ExtractAll() {
        fs::create_directories(Out());
        std::wstring saved;
        ASSERT_TRUE(GetCurrentDir(saved));
        ASSERT_TRUE(SetCurrentDir(Out().wstring()));
        extract_result = archive->Extract(*list);
        ASSERT_TRUE(SetCurrentDir(saved));
    }

    // The same on the stub's two extraction threads, whatever the payload.
    void ExtractAllInLanes() {
        fs::create_directories(Out());
        std::wstring saved;
        ASSERT_TRUE(GetCurrentDir(saved));
        ASSERT_TRUE(SetCurrentDir(Out().wstring()));
        ALFile second(ArchivePath().wstring().c_str());
        archive->GetStorage().Open();
        const uint64_t least_cost = g_lanes_least_cost;
        g_lanes_least_cost = 0;
        extract_result = ExtractInLanes(*archive, *list, second);
        g_lanes_least_cost = least_cost;
        archive->GetStorage().Close();
        ASSERT_TRUE(SetCurrentDir(saved));
    }

    fs::path ArchivePath() const { return dir() / "archive.zip"; }
    fs::path Out() const { return dir() / "out"; }
    std::string Extracted(const std::string& relative) const {
        return ReadFileBytes(Out() / fs::u8path(relative));
    }
    bool ExistsInOut(const std::string& relative) const {
        return fs::exists(Out() / fs::u8path(relative));
    }
    std::wstring Detail() const { return archive->status.GetStatusDetail(); }
    ALEntry* EntryAt(int index) const {
        ALEntry* entry = list->GetFirstEntry();
        for (int i = 0; entry && i < index; ++i) entry = list->GetNextEntry(entry);
        return entry;
    }

    RecordingMonitor monitor;
    std::unique_ptr<ALEntryList> list;
    std::unique_ptr<ALPkArchive> archive;
    int32_t read_result = 0;
    int32_t extract_result = 0;
};
