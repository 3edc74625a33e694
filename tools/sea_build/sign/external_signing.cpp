#include "tools/sea_build/sign/external_signing.h"

#include <cstdio>

#include "platform/console.h"
#include "platform/file_stream.h"
#include "platform/interrupt.h"
#include "platform/process_capture.h"
#include "tools/sea_build/sign/authenticode.h"
#include "tools/sea_build/brand/branding_step.h"
#include "tools/sea_build/sign/helper_programs.h"
#include "tools/sea_build/pack/output_file.h"
#include "tools/sea_build/tree/shown_name.h"

namespace {

bool WriteBytes(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    FILE* f = OpenStream(path, "wb");
    if (!f) return false;
    bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = fclose(f) == 0 && ok;
    return ok;
}

bool ReadBytes(const std::wstring& path, size_t limit, std::vector<uint8_t>& bytes) {
    FILE* f = OpenStream(path, "rb");
    if (!f) return false;
    uint8_t chunk[65536];
    size_t n;
    while (bytes.size() <= limit && (n = fread(chunk, 1, sizeof chunk, f)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    const bool ok = !ferror(f) && bytes.size() <= limit;
    fclose(f);
    return ok;
}

// command with every "{}" replaced by quoted.
std::wstring Substitute(const std::wstring& command, const std::wstring& quoted) {
    std::wstring result;
    for (size_t i = 0; i < command.size(); ++i) {
        if (command.compare(i, 2, L"{}") == 0) {
            result += quoted;
            ++i;
        } else {
            result.push_back(command[i]);
        }
    }
    return result;
}

}  // namespace

bool SignWithCommand(const std::wstring& command, const std::wstring& unsigned_path,
                     OutputFile& scratch, uint32_t timeout_ms, std::wstring& result,
                     std::wstring& error) {
    std::wstring signed_path, quoted;
    if (!scratch.NewTemporary(signed_path, error)) return false;
    if (!QuoteShellPath(signed_path, quoted)) {
        error = L"the path " + signed_path + L" cannot be passed to the shell safely ('\"' or '%')";
        return false;
    }
    if (!CopyFileBytes(unsigned_path, signed_path)) {
        error = L"cannot copy the installer to " + signed_path;
        return false;
    }
    const CapturedRun run = RunShellCommand(Substitute(command, quoted), timeout_ms);
    if (!run.started) {
        error = L"cannot start the shell for --sign-command";
        return false;
    }
    if (run.timed_out) {
        error = L"the signing command did not finish within " + std::to_wstring(timeout_ms / 1000) +
                L" seconds (--timestamp-timeout)";
        return false;
    }
    if (run.exit_code != 0) {
        const std::wstring reason = ReasonLine(run.output);
        error = L"the signing command failed (exit code " + std::to_wstring(run.exit_code) + L")" +
                (reason.empty() ? L"" : L": " + reason);
        return false;
    }
    // What the command left at the path may be anything, a link included:
    // it is read once, into a file of ours, and only that file is checked,
    // changed and kept.
    if (!scratch.NewTemporary(result, error) || !CopyFileBytes(signed_path, result)) {
        error = L"cannot read the signing command's result " + signed_path;
        return false;
    }
    std::vector<uint8_t> pkcs7;
    SigningFields fields;
    if (!CheckSignedCopy(unsigned_path, result, error) || !ExtractSignature(result, pkcs7, error) ||
        !CheckSignature(pkcs7, scratch, error) || !ReadSigningFields(result, fields, error)) {
        error = L"the signing command's result is refused: " + error;
        return false;
    }
    // The checksum lies outside what the signature covers: set it as a
    // signer should have.
    return StampFileChecksum(result, fields.checksum_offset, error);
}

bool ReadDetachedSignature(const std::wstring& path, std::vector<uint8_t>& pkcs7,
                           std::wstring& error) {
    if (!ReadBytes(path, 16 << 20, pkcs7)) {
        error = L"cannot read the signature file " + path;
        return false;
    }
    // osslsigncode 2.5's extract-signature writes the whole certificate
    // table entry (WIN_CERTIFICATE header, signature, padding).
    std::vector<uint8_t> inner;
    SignedDigest digest;
    if ((pkcs7.size() >= 8 && pkcs7[0] != 0x30 && !SignatureOfTable(pkcs7, inner, error)) ||
        !ReadSignedDigest(inner.empty() ? pkcs7 : inner, digest, error)) {
        error = path + L": " + error;
        return false;
    }
    if (!inner.empty()) pkcs7.swap(inner);
    return true;
}

bool CheckSignature(const std::vector<uint8_t>& pkcs7, OutputFile& scratch, std::wstring& error) {
    const std::wstring openssl = FindProgram(L"openssl");
    SignedDigest digest;
    if (openssl.empty()) return true;
    std::wstring signature_path, content_path;
    if (!ReadSignedDigest(pkcs7, digest, error) || !scratch.NewTemporary(signature_path, error) ||
        !scratch.NewTemporary(content_path, error)) {
        return false;
    }
    if (!WriteBytes(signature_path, pkcs7) || !WriteBytes(content_path, digest.signed_content)) {
        error = L"cannot write " + signature_path;
        return false;
    }
    // The signer's signature covers the SpcIndirectDataContent without its
    // tag and length, which openssl takes as detached content.
    const CapturedRun run =
        RunCaptured(openssl,
                    {L"smime", L"-verify", L"-noverify", L"-binary", L"-inform", L"DER", L"-in",
                     signature_path, L"-content", content_path},
                    std::string(), 0);
    DeleteFilePath(signature_path);
    DeleteFilePath(content_path);
    if (run.started && run.exit_code == 0) return true;
    error = L"the signature does not verify: " + ReasonLine(run.output);
    return false;
}

int ExtractSignatureFile(const std::wstring& installer, const std::wstring& output) {
    std::vector<uint8_t> pkcs7;
    std::wstring error, path;
    OutputFile file(output);
    if (ExtractSignature(installer, pkcs7, error) && file.NewTemporary(path, error)) {
        if (!WriteBytes(path, pkcs7)) error = L"cannot write " + path;
        else if (file.Commit(path, error)) return 0;
    }
    if (InterruptRequested()) AwaitInterruptEnd();  // which prints the one line
    WriteConsoleText(ConsoleStream::Error, L"sea-build: " + ShownName(error) + L"\n");
    return 1;
}
