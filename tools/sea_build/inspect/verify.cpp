#include "tools/sea_build/inspect/verify.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "pe/le_bytes.h"
#include "platform/console.h"
#include "platform/file_stream.h"
#include "platform/process_capture.h"
#include "platform/stream_seek.h"
#include "platform/text.h"
#include "tools/sea_build/sign/helper_programs.h"
#include "tools/sea_build/inspect/inspect.h"
#include "tools/sea_build/pack/payload.h"
#include "tools/sea_build/sign/signed_extent.h"
#include "tools/sea_build/tree/shown_name.h"

namespace {

constexpr size_t kEndRecordSize = 22;
// How far back the end record is looked for, to tell "too far back" from
// "not there".
constexpr int64_t kSearchLength = 4 * 1024 * 1024;

uint32_t Le16(const uint8_t* p) { return static_cast<uint32_t>(p[0] | (p[1] << 8)); }

// The parts of the file the checks read: its size, the first 4 KiB
// (headers) and up to kSearchLength bytes at its end.
struct FileView {
    int64_t size = 0;
    std::vector<uint8_t> head;
    int64_t tail_start = 0;
    std::vector<uint8_t> tail;
};

bool ReadView(const std::wstring& path, FileView& view) {
    FILE* f = OpenStream(path, "rb");
    if (!f) return false;
    bool ok = StreamSeek(f, 0, SEEK_END) && (view.size = StreamTell(f)) >= 0;
    view.head.resize(static_cast<size_t>(view.size < 4096 ? view.size : 4096));
    ok = ok && StreamSeek(f, 0, SEEK_SET) &&
         fread(view.head.data(), 1, view.head.size(), f) == view.head.size();
    view.tail_start = view.size > kSearchLength ? view.size - kSearchLength : 0;
    view.tail.resize(static_cast<size_t>(view.size - view.tail_start));
    ok = ok && StreamSeek(f, view.tail_start, SEEK_SET) &&
         fread(view.tail.data(), 1, view.tail.size(), f) == view.tail.size();
    fclose(f);
    return ok;
}

// Empty when the file starts as a PE image does, else why not.
std::wstring ImageFault(const FileView& view) {
    const ByteReader in(view.head);
    uint32_t pe = 0, signature = 0;
    uint16_t magic = 0;
    if (view.head.size() < 64 || view.head[0] != 'M' || view.head[1] != 'Z') {
        return L"not a Windows executable (no MZ header)";
    }
    if (!in.U32(0x3C, pe) || !in.U32(pe, signature) || signature != 0x00004550) {
        return L"not a Windows executable (no PE header)";
    }
    if (!in.U16(uint64_t{pe} + 24, magic) || (magic != 0x10B && magic != 0x20B)) {
        return L"the optional header is neither PE32 nor PE32+";
    }
    return std::wstring();
}

// The verdict on the certificate table by the self-extractor's rules;
// empty when the file is unsigned or signed as signers sign.
std::wstring TableFault(const FileView& view, const CertificateTableCheck& check) {
    if (check.state != SignatureState::kDamaged) return std::wstring();
    const uint64_t size = static_cast<uint64_t>(view.size);
    const uint64_t end = check.table_offset + check.table_size;
    if (check.table_offset % 8 == 0 && check.table_offset < size && end > size &&
        check.table_offset != 0) {
        return L"the file is truncated: its signature should end " + std::to_wstring(end - size) +
               L" bytes after the end of the file";
    }
    return L"tampered after signing: " + check.reason;
}

// A ZIP end record in the certificate table or across its start: data the
// signature does not cover, dressed as the archive. Empty when none.
std::wstring EndRecordInTable(const FileView& view, const CertificateTableCheck& check) {
    const int64_t table = static_cast<int64_t>(check.table_offset);
    const int64_t from = table - static_cast<int64_t>(kEndRecordSize) + 1;
    if (check.state != SignatureState::kSigned || from < view.tail_start) return std::wstring();
    for (int64_t at = from; at + 4 <= view.size; ++at) {
        if (memcmp(&view.tail[static_cast<size_t>(at - view.tail_start)], "PK\x05\x06", 4) != 0) {
            continue;
        }
        return at < table ? L"tampered after signing: a ZIP end record straddles the start of the "
                            L"certificate table"
                          : L"tampered after signing: a ZIP end record lies inside the certificate "
                            L"table, " + std::to_wstring(at - table) + L" bytes into it";
    }
    return std::wstring();
}

// The position of the last end-record signature that starts before limit;
// -1 when the searched end of the file holds none.
int64_t FindEndRecord(const FileView& view, int64_t limit) {
    for (int64_t at = limit - static_cast<int64_t>(kEndRecordSize); at >= view.tail_start; --at) {
        if (memcmp(&view.tail[static_cast<size_t>(at - view.tail_start)], "PK\x05\x06", 4) == 0) {
            return at;
        }
    }
    return -1;
}

// The layout behind the ZIP data: end record, trailer, then the
// certificate table or the end of the file. Empty when it holds.
std::wstring CheckLayout(const FileView& view, int64_t payload_end, bool is_signed,
                         int64_t& end_record) {
    end_record = FindEndRecord(view, payload_end);
    if (end_record < 0) return L"the file is truncated or is no installer: no ZIP end record found";
    const uint8_t* record = &view.tail[static_cast<size_t>(end_record - view.tail_start)];
    const int64_t trailer = end_record + static_cast<int64_t>(kEndRecordSize) + Le16(record + 20);
    int64_t expected_end = trailer + static_cast<int64_t>(sizeof kPayloadTrailer);
    if (payload_end < expected_end) {
        return L"the file is truncated: it ends " + std::to_wstring(expected_end - payload_end) +
               L" bytes before the end of its payload";
    }
    if (memcmp(&view.tail[static_cast<size_t>(trailer - view.tail_start)], kPayloadTrailer,
               sizeof kPayloadTrailer) != 0) {
        return L"the payload trailer behind the ZIP end record is damaged";
    }
    // Signing pads the file with up to seven zero bytes: the certificate
    // table starts on an 8-byte boundary.
    int64_t padding = 0;
    while (is_signed && padding < 8 && expected_end + padding < payload_end &&
           view.tail[static_cast<size_t>(expected_end + padding - view.tail_start)] == 0) {
        ++padding;
    }
    if (padding < 8) expected_end += padding;
    if (payload_end > expected_end) {
        return std::to_wstring(payload_end - expected_end) +
               L" unexpected bytes follow the payload" +
               (is_signed ? L" (before the signature)" : L"");
    }
    if (payload_end - end_record > kEndRecordWindow) {
        const wchar_t* before = is_signed ? L" bytes before the certificate table"
                                          : L" bytes before the end of the file";
        return L"the ZIP end record lies " + std::to_wstring(payload_end - end_record) + before +
               L"; the self-extractor searches only the last 66000";
    }
    return std::wstring();
}

std::string LineWith(const std::string& output, const char* text) {
    for (const std::string& line : OutputLines(output)) {
        if (line.find(text) != std::string::npos) return line;
    }
    return std::string();
}

std::string After(const std::string& line, const char* text) {
    const size_t at = line.find(text);
    if (at == std::string::npos) return std::string();
    const size_t start = line.find_first_not_of(" \t", at + strlen(text));
    return start == std::string::npos ? std::string() : line.substr(start);
}

// Why osslsigncode's verification failed, from what it printed.
std::wstring SignatureReason(const std::string& output, const std::wstring& ca,
                             const std::wstring& signer) {
    const std::wstring by = signer.empty() ? L"" : L" (signed by " + signer + L")";
    if (output.find("MISMATCH") != std::string::npos) {
        return L"the signature does not match the file: it was changed after signing" + by;
    }
    if (output.find("Unsupported Signer's certificate purpose") != std::string::npos) {
        return L"the signer's certificate is not meant for code signing" + by;
    }
    std::string reason = After(LineWith(output, "Verify error:"), "Verify error:");
    if (reason.empty()) reason = After(LineWith(output, "Error:"), "Error:");
    if (!reason.empty()) {
        return L"the signature's certificate does not verify against " +
               (ca.empty() ? std::wstring(L"the system's CA certificates") : ca) + L": " +
               Utf8ToWide(reason) + by;
    }
    return L"the signature does not verify: " + ReasonLine(output) + by;
}

std::wstring SignerOf(const std::string& output) {
    return Utf8ToWide(After(LineWith(output, "Subject:"), "Subject:"));
}

int Verdict(const std::wstring& path, const std::wstring& fault) {
    WriteConsoleText(ConsoleStream::Error,
                     L"sea-build: FAILED: " + ShownName(path + L": " + fault) + L"\n");
    return 1;
}

// The verdict on entry names Windows cannot create: the first, and how many
// more there are.
std::wstring NamesFault(const EntryCheck& check) {
    std::wstring more;
    if (check.names.size() > 1) more = L" (and " + std::to_wstring(check.names.size() - 1) + L" more)";
    return L"an entry name Windows cannot create: " + check.names[0] + more;
}

}  // namespace

int VerifyInstaller(const std::wstring& path, const std::wstring& ca, bool progress) {
    FileView view;
    if (!ReadView(path, view)) return Verdict(path, L"cannot read the file");
    std::wstring fault = ImageFault(view);
    if (!fault.empty()) return Verdict(path, fault);
    CertificateTableCheck table;
    uint64_t file_size = 0;
    if (!CheckFileCertificateTable(path, table, file_size)) return Verdict(path, L"cannot read the file");
    fault = TableFault(view, table);
    if (fault.empty()) fault = EndRecordInTable(view, table);
    if (!fault.empty()) return Verdict(path, fault);
    const bool is_signed = table.state == SignatureState::kSigned;
    int64_t end_record = 0;
    fault = CheckLayout(view, static_cast<int64_t>(table.signed_end), is_signed, end_record);
    if (!fault.empty()) return Verdict(path, fault);

    EntryCheck check;
    if (!CheckEntries(path, progress, check)) {
        if (!check.archive_error.empty()) {
            return Verdict(path, L"the ZIP directory cannot be read: " + check.archive_error);
        }
        if (check.failures.empty()) return Verdict(path, NamesFault(check));
        return Verdict(path,
                       L"the payload is damaged: entry " + check.failures[0] +
                           (check.failures.size() > 1
                                ? L" (and " + std::to_wstring(check.failures.size() - 1) + L" more)"
                                : L""));
    }
    const std::wstring sound = std::to_wstring(check.entries) + L" entries, every CRC-32 matches";
    if (!is_signed) return Verdict(path, L"not signed (" + sound + L")");
    const std::wstring osslsigncode = FindProgram(L"osslsigncode");
    if (osslsigncode.empty()) {
        return Verdict(path, L"cannot check the signature: osslsigncode was not found on PATH");
    }
    std::vector<std::wstring> arguments = {L"verify", L"-in", path};
    if (!ca.empty()) arguments.insert(arguments.end(), {L"-CAfile", ca, L"-TSA-CAfile", ca});
    const CapturedRun run = RunCaptured(osslsigncode, arguments, std::string(), 0);
    const std::wstring signer = SignerOf(run.output);
    if (!run.started) return Verdict(path, L"cannot start " + osslsigncode);
    if (run.exit_code != 0) return Verdict(path, SignatureReason(run.output, ca, signer));
    // osslsigncode 2.8 and later print "Timestamp time:", earlier ones
    // (Debian 12's 2.5) "The signature is timestamped:".
    std::wstring stamp;
    for (const char* marker : {"Timestamp time:", "The signature is timestamped:"}) {
        if (stamp.empty()) stamp = Utf8ToWide(After(LineWith(run.output, marker), marker));
    }
    WriteConsoleText(ConsoleStream::Output,
                     ShownLine(L"OK: " + path + L": " + sound + L", end record " +
                         std::to_wstring(view.size - end_record) +
                         L" bytes from the end, signature by " + signer + L" verified" +
                         (stamp.empty() ? L"" : L", time-stamped " + stamp) + L"\n"));
    return 0;
}
