#include "tools/sea_build/pack/builder.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "archive/codecs/lzma_compressor.h"
#include "archive/codecs/zstd_compressor.h"
#include "archive/compressors.h"
#include "archive/entry_list.h"
#include "archive/file.h"
#include "archive/pk_archive.h"
#include "platform/console.h"
#include "platform/directory.h"
#include "platform/file_attributes.h"
#include "platform/file_identity.h"
#include "platform/file_io.h"
#include "platform/file_replace.h"
#include "platform/file_stream.h"
#include "platform/file_truncate.h"
#include "platform/format.h"
#include "platform/interrupt.h"
#include "platform/module.h"
#include "platform/path.h"
#include "platform/text.h"
#include "tools/sea_build/brand/branding_step.h"
#include "tools/sea_build/sign/authenticode.h"
#include "tools/sea_build/tree/entry_stamp.h"
#include "tools/sea_build/sign/external_signing.h"
#include "tools/sea_build/sign/helper_programs.h"
#include "tools/sea_build/pack/output_file.h"
#include "tools/sea_build/pack/packing_pool.h"
#include "tools/sea_build/pack/payload.h"
#include "tools/sea_build/progress.h"
#include "tools/sea_build/sign/signing.h"
#include "tools/sea_build/pack/stub_image.h"
#include "tools/sea_build/tree/shown_name.h"
#include "tools/sea_build/tree/tree_walk.h"
#include "tools/sea_build/tree/windows_names.h"

namespace {

// The builder's files move data in larger blocks than the self-extractor's
// 4096-byte storages: fewer system calls and deflate calls per megabyte.
constexpr int32_t kBufferSize = 64 * 1024;

// A failure or warning line. After an interrupt the failure is its doing,
// and the cleanup prints the one line that says so.
int Failure(const std::wstring& text) {
    if (InterruptRequested()) AwaitInterruptEnd();
    WriteConsoleText(ConsoleStream::Error, L"sea-build: " + ShownName(text) + L"\n");
    return 1;
}

void Warn(const std::wstring& text) {
    if (InterruptRequested()) AwaitInterruptEnd();
    WriteConsoleText(ConsoleStream::Error, L"sea-build: warning: " + ShownName(text) + L"\n");
}

bool IsAbsolute(const std::wstring& path) {
    return (!path.empty() && IsPathSeparator(path[0])) || (path.size() >= 2 && path[1] == L':');
}

// path made absolute against the current directory, without "."
// components, doubled separators or a trailing separator.
std::wstring Absolute(const std::wstring& path) {
    std::wstring cwd;
    const std::wstring full =
        IsAbsolute(path) || !GetCurrentDir(cwd) ? path : WithTrailingSeparator(cwd) + path;
    if (full.size() >= 2 && IsPathSeparator(full[0]) && IsPathSeparator(full[1])) return full;  // UNC
    std::wstring tidy;
    size_t start = 0;
    while (start <= full.size()) {
        size_t end = start;
        while (end < full.size() && !IsPathSeparator(full[end])) ++end;
        const std::wstring part = full.substr(start, end - start);
        if (start == 0) {
            tidy = part;  // empty for a path starting at the root, or "C:"
        } else if (!part.empty() && part != L".") {
            tidy += kPathSeparator + part;
        }
        start = end + 1;
    }
    return tidy.empty() || tidy.back() == L':' ? tidy + kPathSeparator : tidy;
}

bool ReadWholeFile(const std::wstring& path, std::vector<uint8_t>& bytes) {
    FILE* f = OpenStream(path, "rb");
    if (!f) return false;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    const bool ok = !ferror(f);
    fclose(f);
    return ok;
}

// The launcher field's text: ASCII, backslash separators, at most 1023
// bytes. Empty (with error set) when name cannot be stored.
std::string LauncherField(const std::wstring& name, std::wstring& error) {
    std::string field;
    for (wchar_t c : name) {
        if (c < 0x20 || c > 0x7E) {
            error = L"the launcher name must be printable ASCII: " + name;
            return std::string();
        }
        field.push_back(c == L'/' ? '\\' : static_cast<char>(c));
    }
    if (field.empty() || field.size() >= kLauncherFieldSize) {
        error = L"the launcher name must have 1 to 1023 characters";
        return std::string();
    }
    return field;
}

// Archives that are compressed already, by the suffixes Info-ZIP's zip
// stores without trying deflate (any letter case).
bool IsCompressedArchiveName(const std::wstring& name) {
    static const wchar_t* const kSuffixes[] = {L".zip", L".z", L".zoo", L".arc", L".lzh", L".arj"};
    for (const wchar_t* suffix : kSuffixes) {
        const size_t n = wcslen(suffix);
        if (name.size() <= n) continue;
        bool same = true;
        for (size_t i = 0; i < n && same; ++i) {
            same = static_cast<wchar_t>(towlower(name[name.size() - n + i])) == suffix[i];
        }
        if (same) return true;
    }
    return false;
}

// How much the workers may read ahead of the archive writer: enough for
// the two largest files of a big tree to be compressed side by side from
// the start, less where 2 GiB of address space must also hold the encoders.
constexpr int64_t kPackAheadBytes = int64_t{sizeof(void*) == 4 ? 256 : 512} << 20;

// What the files of one build are compressed with.
struct Packing {
    CompressionMethod method;
    int level;  // 0: everything stored
};

// A compressor of the method, to run on a worker thread.
std::unique_ptr<ALCompressor> MethodCompressor(const Packing& packing) {
    switch (packing.method) {
        case CompressionMethod::Lzma: return std::make_unique<ALLzmaCompressor>(packing.level);
        case CompressionMethod::Zstd: return std::make_unique<ALZstdCompressor>(packing.level);
        default:
            return std::make_unique<ALPkCompressor>(packing.level, ALPkCompressor::kDefaultWindowBits,
                                                    ALPkCompressor::kDefaultMemoryLevel);
    }
}

// The entry's compressor, of the method's class, that writes what the
// pool's job index made.
ALCompressor* PackedFor(const Packing& packing, PackingPool& pool, size_t index) {
    switch (packing.method) {
        case CompressionMethod::Lzma:
            return new PackedCompressor<ALLzmaCompressor>(pool, index, packing.level);
        case CompressionMethod::Zstd:
            return new PackedCompressor<ALZstdCompressor>(pool, index, packing.level);
        default:
            return new PackedCompressor<ALPkCompressor>(pool, index, packing.level,
                                                        ALPkCompressor::kDefaultWindowBits,
                                                        ALPkCompressor::kDefaultMemoryLevel);
    }
}

// About what one encoder of the method takes at most (the match finder's
// tables and the window), which bounds the threads of a 32-bit builder.
int64_t EncoderBytes(const Packing& packing) {
    switch (packing.method) {
        case CompressionMethod::Lzma:
            return int64_t{12} * ALLzmaCompressor::SettingsForLevel(packing.level).dictionary_size;
        case CompressionMethod::Zstd:
            return int64_t{12} << ALZstdCompressor::WindowLogFor(packing.level);
        default: return 0;
    }
}

// One entry per tree item, named by its path relative to the tree's root
// (which is the current directory while the archive is written). Files
// that are compressed become jobs of the pool; the others (-0, archives)
// are copied by the writer itself.
void FillList(const std::wstring& root, const TreeWalk& walk, const Packing& packing,
              const StampRule& rule, ALMonitor& monitor, PackingPool& pool, ALEntryList& list,
              std::vector<PackJob>& jobs) {
    for (const TreeItem& item : walk.items) {
        FileFacts expected;
        expected.size = item.size;
        expected.identity = item.identity;
        ALFile* file = new SourceFile(item.path.c_str(), kBufferSize, rule, expected);
        ALCompressor* compressor = nullptr;
        if (item.directory) {
            StampDirectory(root + kPathSeparator + item.path, rule, *file);
        } else if (packing.level == 0 || IsCompressedArchiveName(item.path)) {
            file->SetMonitor(&monitor);
            compressor = new ALCopyCompressor();
        } else {
            file->SetMonitor(&monitor);
            compressor = PackedFor(packing, pool, jobs.size());
            jobs.push_back({item.path, expected, MethodCompressor(packing)});
        }
        list.AddEntry(file, compressor, nullptr, nullptr);
    }
}

// Sets the current directory for the lifetime of the object.
class CurrentDirectoryScope {
public:
    explicit CurrentDirectoryScope(const std::wstring& directory) {
        ok_ = GetCurrentDir(saved_) && SetCurrentDir(directory);
    }
    ~CurrentDirectoryScope() {
        if (ok_) SetCurrentDir(saved_);
    }
    bool ok() const { return ok_; }

private:
    std::wstring saved_;
    bool ok_;
};

struct Written {
    int64_t size = 0;
    int64_t end_record = 0;
    int32_t entries = 0;
    int64_t file_bytes = 0;    // the files' bytes
    int64_t member_bytes = 0;  // their bytes in the archive
};

// The files' bytes before and after compression.
void CountBytes(ALEntryList& list, Written& written) {
    for (ALEntry* e = list.GetFirstEntry(); e; e = list.GetNextEntry(e)) {
        if (!e->storage || e->storage->attributes.Directory()) continue;
        written.file_bytes += e->storage->size;
        written.member_bytes += e->compressed_size;
    }
}

// Writes stub, payload header, ZIP and trailer into path.
bool WriteInstaller(const std::wstring& path, const std::vector<uint8_t>& stub,
                    const std::string& launcher, const std::wstring& root, const TreeWalk& walk,
                    const Packing& packing, const StampRule& rule, ProgressBar& bar,
                    Written& written, std::wstring& error) {
    ALFile out(path.c_str(), kBufferSize);
    if (out.Create() < 0) {
        error = out.status.GetStatusDetail();
        return false;
    }
    out.WriteBuffer(stub.data(), static_cast<int32_t>(stub.size()));
    out.WriteBuffer(kPayloadMagic, sizeof kPayloadMagic);
    std::vector<uint8_t> field(kLauncherFieldSize, 0);
    std::copy(launcher.begin(), launcher.end(), field.begin());
    out.WriteBuffer(field.data(), static_cast<int32_t>(field.size()));

    BuildMonitor monitor(bar, walk.total_bytes);
    PackingPool pool(rule, kBufferSize, kPackAheadBytes);
    ALEntryList list;
    std::vector<PackJob> jobs;
    FillList(root, walk, packing, rule, monitor, pool, list, jobs);
    ALPkArchive archive(out);
    int32_t count;
    {
        CurrentDirectoryScope scope(root);
        if (!scope.ok()) {
            error = L"cannot enter the directory " + root;
            return false;
        }
        const int threads = PackingPool::ThreadCount(jobs.size(), EncoderBytes(packing));
        pool.Start(std::move(jobs), threads);
        count = archive.Create(list);
        pool.Stop();
    }
    bar.Finish();
    if (count < 0) {
        error = archive.status.GetStatusDetail();
        return false;
    }
    out.WriteBuffer(kPayloadTrailer, sizeof kPayloadTrailer);
    const int64_t end = out.Tell();
    out.Close();
    if (out.status.GetStatusCode() < 0) {
        error = out.status.GetStatusDetail();
        return false;
    }
    // A member stored after deflate came out larger is rewritten shorter
    // in place, which can leave stale bytes behind the logical end.
    int truncate_error = 0;
    if (static_cast<uint32_t>(out.GetSize()) > end && !TruncateFile(path, end, &truncate_error)) {
        error = L"cannot cut " + path + L" to its length (errno " +
                std::to_wstring(truncate_error) + L")";
        return false;
    }
    written.size = end;
    written.end_record = archive.end_record_position;
    written.entries = count;
    CountBytes(list, written);
    return true;
}

// A file the tree must not pack, known by its identity: the tree may
// reach it under any spelling (through a link, "..", a linked folder, a
// hard link), so its path says nothing.
struct Unpacked {
    FileIdentity identity;
    const wchar_t* reason;
};

void AddUnpacked(const std::wstring& path, const wchar_t* reason, std::vector<Unpacked>& unpacked) {
    FileFacts facts;
    int error = 0;
    if (QueryPathFacts(path, true, facts, error)) unpacked.push_back({facts.identity, reason});
}

// The signing secrets, an earlier installer at the output's name and the
// temporary files of one (left behind by a build that was killed): an
// installer must not carry its keys or be packed into itself.
std::vector<Unpacked> FilesNotToPack(const std::wstring& output,
                                     const std::vector<std::wstring>& secrets) {
    std::vector<Unpacked> unpacked;
    for (const std::wstring& secret : secrets) {
        AddUnpacked(secret, L"left out (a signing key, certificate or password): ", unpacked);
    }
    const wchar_t* const installer = L"left out (the installer being written): ";
    AddUnpacked(output, installer, unpacked);
    for (const std::wstring& temporary : OutputFile::ExistingTemporaries(output)) {
        AddUnpacked(temporary, installer, unpacked);
    }
    return unpacked;
}

void LeaveOut(TreeWalk& walk, const std::vector<Unpacked>& unpacked) {
    for (size_t i = 0; i < walk.items.size();) {
        const FileIdentity& identity = walk.items[i].identity;
        const auto match = std::find_if(unpacked.begin(), unpacked.end(),
                                        [&identity](const Unpacked& u) { return u.identity == identity; });
        if (match == unpacked.end()) {
            ++i;
            continue;
        }
        Warn(match->reason + walk.items[i].path);
        walk.total_bytes -= walk.items[i].size;
        walk.items.erase(walk.items.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

// Everything in the tree that Windows or the installer cannot hold, each
// path once (the walk's reason first), in the order of the paths; the
// warnings and the entries left out go to standard error as warnings.
// Returns the number of problems.
size_t ReportTree(const TreeWalk& walk, const std::wstring& source_dir) {
    std::vector<NameEntry> names;
    names.reserve(walk.items.size());
    for (const TreeItem& item : walk.items) names.push_back({item.path, item.directory});
    std::vector<std::pair<std::string, TreeProblem>> problems;
    std::set<std::wstring> named;
    for (const TreeProblem& problem : walk.problems) {
        if (named.insert(problem.path).second) problems.push_back({WideToUtf8(problem.path), problem});
    }
    for (const NameFinding& finding : CheckWindowsNames(names)) {
        if (finding.warning) {
            Warn(finding.path + L": " + finding.reason);
        } else if (named.insert(finding.path).second) {
            problems.push_back({WideToUtf8(finding.path), {finding.path, finding.reason}});
        }
    }
    for (const TreeProblem& skipped : walk.skipped) Warn(L"skipped " + skipped.path + L": " + skipped.reason);
    std::stable_sort(problems.begin(), problems.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& problem : problems) Failure(problem.second.path + L": " + problem.second.reason);
    if (!problems.empty()) {
        Failure(FormatString(600, L"%ld %s in %s: no installer written",
                             static_cast<int32_t>(problems.size()),
                             problems.size() == 1 ? L"problem" : L"problems", source_dir.c_str()));
    }
    return problems.size();
}

// sea.exe beside this program (a build tree, a Windows folder), else where
// an installed package keeps it: ../lib/quillora-sea/sea.exe from this
// program's folder (/usr/bin/sea-build, /usr/lib/quillora-sea/sea.exe).
std::wstring DefaultStubPath() {
    const PathParts own = SplitPath(GetOwnModulePath());
    const std::wstring beside = own.drive + own.directory + L"sea.exe";
    std::wstring parent = own.directory;
    if (!parent.empty() && IsPathSeparator(parent.back())) parent.pop_back();
    while (!parent.empty() && !IsPathSeparator(parent.back())) parent.pop_back();
    const std::wstring installed = own.drive + parent + L"lib" + kPathSeparator + L"quillora-sea" +
                                   kPathSeparator + L"sea.exe";
    return PathExists(beside) || parent.empty() || !PathExists(installed) ? beside : installed;
}

// Loads and checks the stub (default: DefaultStubPath).
bool LoadStub(const BuildOptions& options, std::wstring& path, std::vector<uint8_t>& stub,
              std::wstring& error) {
    path = options.stub;
    if (path.empty()) path = DefaultStubPath();
    if (!ReadWholeFile(path, stub)) {
        error = L"cannot read the stub " + path + (options.stub.empty() ? L" (use --stub)" : L"");
        return false;
    }
    StubImage image;
    if (!InspectStub(stub, image, error)) {
        error = path + L": " + error;
        return false;
    }
    if (image.pe32plus && !options.allow_pe32plus) {
        error = path + L" is a 64-bit (PE32+) image; the product stub is 32-bit (PE32). "
                       L"Pass --allow-pe32plus to use it anyway";
        return false;
    }
    return true;
}

// "lzma -6: files 41.3% of 123456789 bytes"
std::wstring RatioText(const BuildOptions& options, const Written& written) {
    const int64_t per_mille =
        written.file_bytes > 0 ? (written.member_bytes * 1000 + written.file_bytes / 2) / written.file_bytes
                               : 1000;
    return FormatString(200, L"%s -%ld: files %ld.%ld%% of %lld bytes", MethodName(options.method),
                        static_cast<int32_t>(options.level), static_cast<int32_t>(per_mille / 10),
                        static_cast<int32_t>(per_mille % 10), static_cast<long long>(written.file_bytes));
}

}  // namespace

int BuildInstaller(const BuildOptions& options, bool progress) {
    std::vector<uint8_t> stub;
    std::wstring stub_path, error;
    if (!LoadStub(options, stub_path, stub, error) || !BrandStub(options, stub_path, stub, error)) {
        return Failure(error);
    }
    const std::wstring output = Absolute(options.output);
    const PathParts out_parts = SplitPath(output);
    const std::wstring launcher_name = options.launcher.empty()
                                           ? L"Windows\\" + out_parts.name + out_parts.extension
                                           : options.launcher;
    const std::string launcher = LauncherField(launcher_name, error);
    if (launcher.empty()) return Failure(error);

    StampRule rule;
    if (!ReadSourceDateEpoch(rule, error)) return Failure(error);

    const std::wstring root = Absolute(options.source_dir);
    TreeWalk walk;
    if (!WalkTree(root, options.skip_unreadable, walk, error)) return Failure(error);
    const bool sign = options.signing();
    Signer signer;
    if (sign) {
        std::wstring warning;
        if (!signer.Prepare(options, warning, error)) return Failure(error);
        if (!warning.empty()) Warn(warning);
    }
    if ((!options.sign_command.empty() || !options.attach_signature.empty()) &&
        FindProgram(L"openssl").empty()) {
        Warn(L"openssl was not found on PATH: the signer's signature is not verified, only that "
             L"it was made for these bytes");
    }
    std::vector<uint8_t> detached;
    if (!options.attach_signature.empty() &&
        !ReadDetachedSignature(options.attach_signature, detached, error)) {
        return Failure(error);
    }
    LeaveOut(walk, FilesNotToPack(output, signer.secret_files()));
    if (ReportTree(walk, options.source_dir) > 0) return 1;
    if (walk.items.empty()) Warn(L"the directory " + options.source_dir + L" is empty");
    std::wstring launcher_path = launcher_name;
    for (wchar_t& c : launcher_path) {
        if (IsPathSeparator(c)) c = kPathSeparator;
    }
    if (!PathExists(WithTrailingSeparator(root) + launcher_path)) {
        Warn(L"the launcher " + launcher_name + L" is not in " + options.source_dir);
    }

    // Everything is written, signed and checked under temporary names; the
    // output appears only at the end. Failures return while `file` still
    // holds the temporary files, which it removes.
    OutputFile file(output);
    std::wstring finished;
    if (!file.NewTemporary(finished, error)) return Failure(error);
    ProgressBar bar(progress);
    Written written;
    if (!WriteInstaller(finished, stub, launcher, root, walk, {options.method, options.level}, rule,
                        bar, written, error) ||
        !StampInstallerChecksum(finished, stub, error)) {
        return Failure(error);
    }
    if (sign) {
        std::wstring signed_path;
        if (!file.NewTemporary(signed_path, error)) return Failure(error);
        DeleteFilePath(signed_path);  // osslsigncode will not write over a file
        const SigningTime time = rule.clamp ? SigningTime{true, rule.epoch} : SigningTime{};
        if (!signer.Sign(finished, signed_path, time, error)) {
            return Failure(error);
        }
        finished = signed_path;
    } else if (!options.sign_command.empty()) {
        std::wstring signed_path;
        if (!SignWithCommand(options.sign_command, finished, file,
                             static_cast<uint32_t>(options.timestamp_timeout) * 1000, signed_path,
                             error)) {
            return Failure(error);
        }
        finished = signed_path;
    } else if (!options.attach_signature.empty()) {
        std::wstring signed_path;
        if (!file.NewTemporary(signed_path, error) ||
            !SignatureFits(finished, detached, error) || !CheckSignature(detached, file, error) ||
            !AttachSignature(finished, detached, signed_path, error)) {
            return Failure(options.attach_signature + L": " + error);
        }
        finished = signed_path;
    }
    if (!CheckFinishedInstaller(finished, written.end_record, error)) return Failure(error);
    if (!file.Commit(finished, error)) return Failure(error);
    if (!options.quiet) {
        const std::wstring skipped =
            options.skip_unreadable
                ? FormatString(100, L", %ld skipped (unreadable or special files)",
                               static_cast<int32_t>(walk.skipped.size()))
                : std::wstring();
        WriteConsoleText(ConsoleStream::Output,
                         FormatString(800, L"Wrote %s: %ld entries, %lld bytes%s%s; %s\n",
                                      ShownName(output).c_str(),
                                      written.entries, static_cast<long long>(written.size),
                                      options.any_signing() ? L" before signing" : L"", skipped.c_str(),
                                      RatioText(options, written).c_str()));
    }
    return 0;
}
