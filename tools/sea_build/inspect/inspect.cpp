#include "tools/sea_build/inspect/inspect.h"

#include <cstdint>
#include <cstring>
#include <set>

#include "archive/codecs/lzma_decompressor.h"
#include "archive/codecs/zstd_decompressor.h"
#include "archive/decompressors.h"
#include "archive/entry_list.h"
#include "archive/file.h"
#include "archive/pk_archive.h"
#include "archive/prototype_set.h"
#include "archive/storage.h"
#include "pe/signed_storage.h"
#include "platform/console.h"
#include "platform/format.h"
#include "tools/sea_build/inspect/crc_storage.h"
#include "tools/sea_build/pack/payload.h"
#include "tools/sea_build/progress.h"
#include "tools/sea_build/tree/shown_name.h"
#include "tools/sea_build/tree/windows_names.h"

namespace {

// Every line names an installer or an entry: printed as ShownLine.
void Print(const std::wstring& line) { WriteConsoleText(ConsoleStream::Output, ShownLine(line)); }

int Failure(const std::wstring& text) {
    WriteConsoleText(ConsoleStream::Error, L"sea-build: " + ShownName(text) + L"\n");
    return 1;
}

// The archive is read as the self-extractor reads it: a signed file's only
// up to its certificate table, and none from a table that breaks the rules.
std::wstring DamageText(const std::wstring& damage) {
    return L"the certificate table is damaged: " + damage;
}

// Reads the directory of path into list; false with the reason printed.
bool ReadInstaller(const std::wstring& path, ALPkArchive& archive, ALEntryList& list) {
    if (archive.ReadDirectory(list) >= 0) return true;
    Failure(path + L": " + archive.status.GetStatusDetail());
    return false;
}

// The payload header in front of the ZIP data, when it is one: the ZIP
// data starts at the lowest local-header offset.
std::wstring LauncherName(const std::wstring& path, ALEntryList& list) {
    int64_t zip_start = -1;
    for (ALEntry* e = list.GetFirstEntry(); e; e = list.GetNextEntry(e)) {
        if (zip_start < 0 || e->local_header_offset < zip_start) zip_start = e->local_header_offset;
    }
    if (zip_start < static_cast<int64_t>(kPayloadHeaderSize)) return std::wstring();
    ALFile file(path.c_str());
    uint8_t header[kPayloadHeaderSize];
    if (file.Open() < 0 || file.Seek(static_cast<int32_t>(zip_start - kPayloadHeaderSize)) < 0 ||
        file.ReadBuffer(header, kPayloadHeaderSize) != kPayloadHeaderSize ||
        memcmp(header, kPayloadMagic, sizeof kPayloadMagic) != 0) {
        return std::wstring();
    }
    std::wstring name;
    for (size_t i = sizeof kPayloadMagic; i < kPayloadHeaderSize && header[i]; ++i) {
        name.push_back(static_cast<wchar_t>(header[i]));
    }
    return name;
}

// The entry's method by the engine that reads it; "other" when no engine
// of this program reads it (the name cannot tell which).
const wchar_t* MethodText(const ALEntry& e) {
    if (!e.decompressor) return L"other";
    const int32_t type = e.decompressor->engine_type;
    if (type >= AL_ENGINE_ZIP_DEFLATE && type <= AL_ENGINE_ZIP_DEFLATE + 3) return L"deflate";
    if (type == AL_ENGINE_ZIP_LZMA) return L"lzma";
    if (type == AL_ENGINE_ZIP_ZSTD) return L"zstd";
    return L"stored";
}

std::wstring EntryLine(const ALEntry& e) {
    const ALStorage& s = *e.storage;
    const ALFileAttributes& a = s.attributes;
    wchar_t attributes[5] = {a.ReadOnly() ? L'R' : L'-', a.Hidden() ? L'H' : L'-',
                             a.System() ? L'S' : L'-', a.Directory() ? L'D' : L'-', 0};
    const ALTimeDate& t = s.time_date;
    return FormatString(600, L"%10ld %10ld %-7s %04d-%02d-%02d %02d:%02d:%02d %s  %s\n", s.size,
                        e.compressed_size, MethodText(e),
                        static_cast<int32_t>(t.year), static_cast<int32_t>(t.month),
                        static_cast<int32_t>(t.day), static_cast<int32_t>(t.hour),
                        static_cast<int32_t>(t.minute), static_cast<int32_t>(t.second), attributes,
                        s.GetName());
}

void AddReadPrototypes(ALPrototypeSet& prototypes, const ALStorage& storage) {
    prototypes.AddDecompressor(ALPkDecompressor());
    prototypes.AddDecompressor(ALCopyDecompressor());
    prototypes.AddDecompressor(ALLzmaDecompressor());
    prototypes.AddDecompressor(ALZstdDecompressor());
    prototypes.AddStorage(storage);
}

// Prints the name findings: problems as errors, the rest as warnings.
// Returns the number of problems.
size_t ReportNames(ALEntryList& list) {
    size_t problems = 0;
    for (const NameFinding& finding : EntryNameFindings(list)) {
        if (!finding.warning) ++problems;
        Failure((finding.warning ? L"warning: " : L"") + finding.path + L": " + finding.reason);
    }
    return problems;
}

}  // namespace

std::vector<NameFinding> EntryNameFindings(ALEntryList& list) {
    std::vector<NameEntry> names;
    for (ALEntry* e = list.GetFirstEntry(); e; e = list.GetNextEntry(e)) {
        names.push_back({e->storage->GetName(), e->storage->attributes.Directory()});
    }
    return CheckWindowsNames(names);
}

int ListInstaller(const std::wstring& path) {
    ALPrototypeSet prototypes;
    AddReadPrototypes(prototypes, ALCrcOnlyStorage());
    ALEntryList list(nullptr, prototypes);
    ALFile file(path.c_str());
    ALPkArchive archive(file);
    std::wstring damage;
    if (!LimitToSignedBytes(file, damage)) return Failure(path + L": " + DamageText(damage));
    if (!ReadInstaller(path, archive, list)) return 1;
    const std::wstring launcher = LauncherName(path, list);
    if (!launcher.empty()) Print(L"Launcher: " + launcher + L"\n");
    Print(L"      Size     Packed Method  Date       Time     Attr  Name\n");
    int64_t size = 0, packed = 0;
    for (ALEntry* e = list.GetFirstEntry(); e; e = list.GetNextEntry(e)) {
        Print(EntryLine(*e));
        size += e->storage->size;
        packed += e->compressed_size;
    }
    Print(FormatString(200, L"%10lld %10lld         %ld entries\n", static_cast<long long>(size),
                       static_cast<long long>(packed), list.EntryCount()));
    const size_t problems = ReportNames(list);
    if (problems == 0) return 0;
    return Failure(FormatString(200, L"%ld %s cannot be created on Windows",
                                static_cast<int32_t>(problems),
                                problems == 1 ? L"entry name" : L"entry names"));
}

bool CheckEntries(const std::wstring& path, bool progress, EntryCheck& check) {
    ALPrototypeSet prototypes;
    AddReadPrototypes(prototypes, ALCrcOnlyStorage());
    ProgressBar bar(progress);
    CheckMonitor monitor(bar);
    ALEntryList list(&monitor, prototypes);
    ALFile file(path.c_str());
    ALPkArchive archive(file);
    std::wstring damage;
    if (!LimitToSignedBytes(file, damage)) {
        check.archive_error = DamageText(damage);
        return false;
    }
    if (archive.ReadDirectory(list) < 0) {
        check.archive_error = archive.status.GetStatusDetail();
        return false;
    }
    const int32_t result = archive.Extract(list);
    bar.Finish();
    check.entries = list.EntryCount();
    // A name Windows cannot create fails for that reason, not for what the
    // library says when it refuses to create it.
    std::set<std::wstring> named;
    for (const NameFinding& finding : EntryNameFindings(list)) {
        if (finding.warning) continue;
        named.insert(finding.path);
        check.names.push_back(finding.path + L": " + finding.reason);
    }
    for (ALEntry* e = list.GetFirstEntry(); e; e = list.GetNextEntry(e)) {
        if (e->storage->status.GetStatusCode() >= 0 || named.count(e->storage->GetName())) continue;
        check.failures.push_back(std::wstring(e->storage->GetName()) + L": " +
                                 e->storage->status.GetStatusDetail());
    }
    if (result < 0 && check.failures.empty() && check.names.empty()) {
        check.archive_error = archive.status.GetStatusDetail();
    }
    return check.failures.empty() && check.names.empty() && check.archive_error.empty();
}

int TestInstaller(const std::wstring& path, bool progress) {
    EntryCheck check;
    if (CheckEntries(path, progress, check)) {
        Print(FormatString(600, L"OK: %ld entries, every CRC-32 matches (%s)\n", check.entries,
                           path.c_str()));
        return 0;
    }
    for (const std::wstring& failure : check.failures) Failure(failure);
    for (const std::wstring& name : check.names) Failure(name);
    if (!check.archive_error.empty()) return Failure(path + L": " + check.archive_error);
    if (check.failures.empty()) {
        return Failure(FormatString(200, L"%ld of %ld entry names cannot be created on Windows",
                                    static_cast<int32_t>(check.names.size()), check.entries));
    }
    return Failure(FormatString(200, L"%ld of %ld entries failed",
                                static_cast<int32_t>(check.failures.size()), check.entries));
}
