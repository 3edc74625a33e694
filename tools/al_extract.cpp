// al-extract ARCHIVE DESTDIR
//
// Reads the ZIP directory of ARCHIVE (found from the end of the file, so a
// ZIP appended to other data works too) and extracts every entry into
// DESTDIR, which is created (with its parents) when missing, through the same library calls and
// prototypes as the self-extractor. Prints the entry count, the result code
// and the status detail; exits 0 only when every entry was extracted.
#include <cstdio>
#include <string>

#include "archive/codecs/lzma_decompressor.h"
#include "archive/codecs/zstd_decompressor.h"
#include "archive/decompressors.h"
#include "archive/entry_list.h"
#include "archive/file.h"
#include "archive/monitor.h"
#include "archive/pk_archive.h"
#include "platform/directory.h"
#include "platform/text.h"

namespace {

int last_job_ratio = -1;

// The self-extractor's callback updates a progress bar; this one only keeps
// the job percentage, so that the monitor costs what it costs there.
int KeepRatio(const wchar_t*, int32_t, int32_t job_ratio) {
    if (job_ratio > 0) last_job_ratio = job_ratio;
    return 0;
}

std::wstring Wide(const char* text) { return AnsiToWide(text, std::char_traits<char>::length(text)); }

// Creates path and any missing directories above it.
void CreateDirectories(const std::wstring& path) {
    for (size_t at = path.find(L'/', 1); at != std::wstring::npos; at = path.find(L'/', at + 1)) {
        CreateDir(path.substr(0, at));
    }
    CreateDir(path);
}

void Print(const char* label, int32_t count, int32_t code, const wchar_t* detail) {
    std::printf("%s: entries %d, result %d, %s\n", label, static_cast<int>(count),
                static_cast<int>(code), WideToUtf8(detail).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: al-extract ARCHIVE DESTDIR\n");
        return 2;
    }
    const std::wstring archive_path = Wide(argv[1]);
    const std::wstring destination = Wide(argv[2]);
    CreateDirectories(destination);
    std::wstring start_dir;
    if (!GetCurrentDir(start_dir)) return 2;

    ALSimpleMonitor monitor(KeepRatio);
    ALPrototypeSet prototypes;
    prototypes.AddDecompressor(ALPkDecompressor());
    prototypes.AddDecompressor(ALCopyDecompressor());
    prototypes.AddDecompressor(ALLzmaDecompressor());
    prototypes.AddDecompressor(ALZstdDecompressor());
    prototypes.AddStorage(ALFile());
    ALEntryList list(&monitor, prototypes);
    // The archive stays open across the change of directory, so a relative
    // archive path keeps working.
    ALFile archive_file(archive_path.c_str());
    archive_file.Open();
    ALPkArchive archive(archive_file);
    const int32_t count = archive.ReadDirectory(list);
    if (!SetCurrentDir(destination)) {
        std::fprintf(stderr, "al-extract: cannot enter %s\n", argv[2]);
        return 2;
    }
    const int32_t result = archive.Extract(list);
    SetCurrentDir(start_dir);
    archive_file.Close();
    Print("al-extract", count, result, archive.status.GetStatusDetail());
    return result >= 0 ? 0 : 1;
}
