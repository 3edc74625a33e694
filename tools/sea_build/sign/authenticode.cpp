#include "tools/sea_build/sign/authenticode.h"

#include <cstdio>
#include <cstring>

#include "pe/le_bytes.h"
#include "pe/pe_image.h"
#include "platform/file_stream.h"
#include "platform/stream_seek.h"
#include "tools/sea_build/brand/branding_step.h"
#include "tools/sea_build/sign/signed_extent.h"

namespace {

constexpr size_t kHeadSize = 4096;
constexpr size_t kChunk = 1 << 16;

// The file's first bytes (its headers) and its size.
bool ReadHead(const std::wstring& path, std::vector<uint8_t>& head, int64_t& size) {
    FILE* f = OpenStream(path, "rb");
    if (!f) return false;
    head.resize(kHeadSize);
    head.resize(fread(head.data(), 1, head.size(), f));
    const bool ok = !ferror(f) && StreamSeek(f, 0, SEEK_END) && (size = StreamTell(f)) >= 0;
    fclose(f);
    return ok;
}

bool ReadRange(const std::wstring& path, int64_t at, size_t count, std::vector<uint8_t>& bytes) {
    FILE* f = OpenStream(path, "rb");
    if (!f) return false;
    bytes.resize(count);
    const bool ok = StreamSeek(f, at, SEEK_SET) && fread(bytes.data(), 1, count, f) == count;
    fclose(f);
    return ok;
}

// Calls span(offset, count) for the parts of the n bytes at file position
// `position` that lie outside the checksum and the security directory
// entry (in this order in every PE header).
template <typename Span>
void ForEachSignedSpan(int64_t position, size_t n, const SigningFields& fields, Span span) {
    const uint64_t start = static_cast<uint64_t>(position), end = start + n;
    const uint64_t skipped[2][2] = {{fields.checksum_offset, fields.checksum_offset + 4},
                                    {fields.security_entry_offset, fields.security_entry_offset + 8}};
    uint64_t cursor = start;
    for (const auto& range : skipped) {
        if (range[1] <= cursor || range[0] >= end) continue;
        if (range[0] > cursor) span(static_cast<size_t>(cursor - start), static_cast<size_t>(range[0] - cursor));
        cursor = range[1] < end ? range[1] : end;
    }
    if (cursor < end) span(static_cast<size_t>(cursor - start), static_cast<size_t>(end - cursor));
}

// Feeds the Authenticode-hashed bytes of the first `end` bytes of path to
// the digest: all but the checksum and the security directory entry, then
// zeros up to an 8-byte boundary (the padding a signer adds).
bool HashSignedBytes(const std::wstring& path, const SigningFields& fields, int64_t end,
                     Digest& digest) {
    FILE* f = OpenStream(path, "rb");
    if (!f) return false;
    std::vector<uint8_t> chunk(kChunk);
    int64_t position = 0;
    while (position < end) {
        const size_t want = static_cast<size_t>(end - position < int64_t{kChunk} ? end - position : kChunk);
        const size_t n = fread(chunk.data(), 1, want, f);
        if (n == 0) break;
        ForEachSignedSpan(position, n, fields,
                          [&](size_t at, size_t count) { digest.Add(&chunk[at], count); });
        position += static_cast<int64_t>(n);
    }
    fclose(f);
    const uint8_t zeros[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    digest.Add(zeros, static_cast<size_t>(AlignUp(static_cast<uint64_t>(end), 8) - end));
    return position == end;
}

std::wstring Hex(const std::vector<uint8_t>& bytes) {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text;
    for (uint8_t b : bytes) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 15]);
    }
    return text;
}

// The self-extractor's verdict on the certificate table of path: empty
// when it is signed as signers sign, else why not.
std::wstring TableFault(const std::wstring& path) {
    CertificateTableCheck check;
    uint64_t size = 0;
    if (!CheckFileCertificateTable(path, check, size)) return L"cannot read " + path;
    if (check.state == SignatureState::kUnsigned) return L"the file is not signed";
    if (check.state == SignatureState::kDamaged) return check.reason;
    return std::wstring();
}

// True when signed_path holds the bytes of unsigned_path (but for the
// checksum and the security directory entry) and zeros up to table.
bool SignedBytesMatch(const std::wstring& unsigned_path, const std::wstring& signed_path,
                      const SigningFields& before, uint64_t table) {
    FILE* a = OpenStream(unsigned_path, "rb");
    FILE* b = a ? OpenStream(signed_path, "rb") : nullptr;
    bool same = a && b;
    std::vector<uint8_t> x(kChunk), y(kChunk);
    int64_t position = 0;
    while (same && position < before.file_size) {
        const size_t n = fread(x.data(), 1, x.size(), a);
        if (n == 0 || fread(y.data(), 1, n, b) != n) break;
        ForEachSignedSpan(position, n, before, [&](size_t at, size_t count) {
            same = same && memcmp(&x[at], &y[at], count) == 0;
        });
        position += static_cast<int64_t>(n);
    }
    uint8_t pad[8];
    const size_t padding = static_cast<size_t>(table - static_cast<uint64_t>(before.file_size));
    same = same && position == before.file_size && fread(pad, 1, padding, b) == padding;
    for (size_t i = 0; same && i < padding; ++i) same = pad[i] == 0;
    if (a) fclose(a);
    if (b) fclose(b);
    return same;
}

}  // namespace

bool ReadSigningFields(const std::wstring& path, SigningFields& fields, std::wstring& error) {
    std::vector<uint8_t> head;
    if (!ReadHead(path, head, fields.file_size)) {
        error = L"cannot read " + path;
        return false;
    }
    PeLayout layout;
    if (!ReadPeHeaders(ByteReader(head), static_cast<uint64_t>(fields.file_size), layout, error)) {
        error = path + L": " + error;
        return false;
    }
    if (layout.directories.size() <= kSecurityDirectory) {
        error = path + L": the PE header has no security directory entry";
        return false;
    }
    fields.checksum_offset = layout.ChecksumOffset();
    fields.security_entry_offset = layout.DirectoryOffset(kSecurityDirectory);
    fields.table_offset = layout.directories[kSecurityDirectory].rva;
    fields.table_size = layout.directories[kSecurityDirectory].size;
    const int64_t table_end = int64_t{fields.table_offset} + fields.table_size;
    if (fields.table_size != 0 && table_end < fields.file_size) {
        error = std::to_wstring(fields.file_size - table_end) + L" bytes follow the certificate table";
        return false;
    }
    if (fields.table_size != 0 && table_end > fields.file_size) {
        error = L"the certificate table reaches past the end of the file";
        return false;
    }
    return true;
}

bool ExtractSignature(const std::wstring& path, std::vector<uint8_t>& pkcs7, std::wstring& error) {
    SigningFields fields;
    if (!ReadSigningFields(path, fields, error)) return false;
    if (fields.table_size == 0) {
        error = path + L" is not signed";
        return false;
    }
    const std::wstring fault = TableFault(path);
    if (!fault.empty()) {
        error = path + L": " + fault;
        return false;
    }
    std::vector<uint8_t> table;
    if (!ReadRange(path, fields.table_offset, fields.table_size, table)) {
        error = L"cannot read the certificate table of " + path;
        return false;
    }
    if (!SignatureOfTable(table, pkcs7, error)) {
        error = path + L": " + error;
        return false;
    }
    return true;
}

bool SignatureFits(const std::wstring& unsigned_path, const std::vector<uint8_t>& pkcs7,
                   std::wstring& error) {
    SignedDigest recorded;
    if (!ReadSignedDigest(pkcs7, recorded, error)) return false;
    const std::wstring algorithm(recorded.algorithm.begin(), recorded.algorithm.end());
    if (!recorded.known) {
        error = L"the signature's digest is " + algorithm +
                L", which cannot be checked (SHA-1, SHA-256, SHA-384 or SHA-512)";
        return false;
    }
    SigningFields fields;
    if (!ReadSigningFields(unsigned_path, fields, error)) return false;
    Digest digest(recorded.kind);
    if (!HashSignedBytes(unsigned_path, fields, fields.file_size, digest)) {
        error = L"cannot read " + unsigned_path;
        return false;
    }
    const std::vector<uint8_t> computed = digest.Finish();
    if (computed != recorded.value) {
        error = L"the signature was made for other bytes (it signs " + algorithm + L" " +
                Hex(recorded.value) +
                L", the installer built is " + Hex(computed) + L")";
        return false;
    }
    return true;
}

bool CopyFileBytes(const std::wstring& from, const std::wstring& to) {
    FILE* in = OpenStream(from, "rb");
    FILE* out = in ? OpenStream(to, "wb") : nullptr;
    bool ok = in && out;
    std::vector<uint8_t> chunk(kChunk);
    size_t n;
    while (ok && (n = fread(chunk.data(), 1, chunk.size(), in)) > 0) {
        ok = fwrite(chunk.data(), 1, n, out) == n;
    }
    ok = ok && !ferror(in);
    if (in) fclose(in);
    if (out) ok = fclose(out) == 0 && ok;
    return ok;
}

bool AttachSignature(const std::wstring& unsigned_path, const std::vector<uint8_t>& pkcs7,
                     const std::wstring& out_path, std::wstring& error) {
    SigningFields fields;
    if (!ReadSigningFields(unsigned_path, fields, error)) return false;
    if (fields.table_size != 0) {
        error = unsigned_path + L" is signed already";
        return false;
    }
    const uint64_t table_offset = AlignUp(static_cast<uint64_t>(fields.file_size), 8);
    const std::vector<uint8_t> table = CertificateTableOf(pkcs7);
    std::vector<uint8_t> entry;
    Append32(entry, static_cast<uint32_t>(table_offset));
    Append32(entry, static_cast<uint32_t>(table.size()));
    const uint8_t zeros[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    const size_t padding = static_cast<size_t>(table_offset - static_cast<uint64_t>(fields.file_size));
    FILE* out = CopyFileBytes(unsigned_path, out_path) ? OpenStream(out_path, "r+b") : nullptr;
    bool ok = out && StreamSeek(out, 0, SEEK_END) && fwrite(zeros, 1, padding, out) == padding &&
              fwrite(table.data(), 1, table.size(), out) == table.size() &&
              StreamSeek(out, static_cast<int64_t>(fields.security_entry_offset), SEEK_SET) &&
              fwrite(entry.data(), 1, entry.size(), out) == entry.size();
    if (out) ok = fclose(out) == 0 && ok;
    if (!ok) {
        error = L"cannot write " + out_path;
        return false;
    }
    return StampFileChecksum(out_path, fields.checksum_offset, error);
}

bool CheckSignedCopy(const std::wstring& unsigned_path, const std::wstring& signed_path,
                     std::wstring& error) {
    SigningFields before, after;
    if (!ReadSigningFields(unsigned_path, before, error)) return false;
    if (!ReadSigningFields(signed_path, after, error)) return false;
    // The table must pass the self-extractor's own rules, which refuse
    // data smuggled into or after it.
    const std::wstring fault = after.table_size == 0 ? std::wstring() : TableFault(signed_path);
    if (!fault.empty()) {
        error = fault;
        return false;
    }
    const uint64_t expected_table = AlignUp(static_cast<uint64_t>(before.file_size), 8);
    if (after.table_size == 0) {
        error = after.file_size == before.file_size ? L"the file was not signed"
                                                    : L"the file was changed but not signed";
        return false;
    }
    if (after.table_offset != expected_table) {
        error = L"the certificate table starts at " + std::to_wstring(after.table_offset) +
                L" instead of right after the installer's bytes (" + std::to_wstring(expected_table) +
                L")";
        return false;
    }
    const bool same = SignedBytesMatch(unsigned_path, signed_path, before, expected_table);
    if (!same) {
        error = L"the signed file differs from the installer built in more than its signature";
        return false;
    }
    std::vector<uint8_t> table, pkcs7;
    if (!ReadRange(signed_path, after.table_offset, after.table_size, table)) {
        error = L"cannot read the certificate table";
        return false;
    }
    return SignatureOfTable(table, pkcs7, error) && SignatureFits(unsigned_path, pkcs7, error);
}
