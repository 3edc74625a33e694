#include "tools/sea_build/sign/signing.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "archive/file.h"
#include "platform/environment.h"
#include "platform/file_attributes.h"
#include "platform/file_io.h"
#include "platform/file_stream.h"
#include "platform/process_capture.h"
#include "platform/text.h"
#include "tools/sea_build/sign/certificate_check.h"
#include "tools/sea_build/sign/helper_programs.h"
#include "tools/sea_build/pack/payload.h"
#include "tools/sea_build/sign/signed_extent.h"

namespace {

bool ReadFirstLine(const std::wstring& path, std::string& line) {
    FILE* f = OpenStream(path, "rb");
    if (!f) return false;
    char chunk[4096];
    size_t n;
    std::string bytes;
    while (bytes.size() < 65536 && (n = fread(chunk, 1, sizeof chunk, f)) > 0) {
        bytes.append(chunk, n);
    }
    const bool ok = !ferror(f);
    fclose(f);
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);  // a UTF-8 byte order mark
    line = bytes.substr(0, bytes.find('\n'));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    volatile char* wipe = &bytes[0];
    for (size_t i = 0; i < bytes.size(); ++i) wipe[i] = 0;
    return ok;
}

bool Readable(const std::wstring& path) {
    FILE* f = OpenStream(path, "rb");
    if (!f) return false;
    fclose(f);
    return true;
}

// The name under which osslsigncode reads its standard input: /dev/stdin
// where there is one (every osslsigncode version opens it as a file),
// else "-", which osslsigncode 2.8 and later take as standard input.
std::wstring PasswordSource() {
    const std::wstring name = StandardInputFileName();
    return name.empty() ? L"-" : name;
}

// The line of a failed time-stamped signing that names the server's fault.
std::wstring TimestampReason(const std::string& output) {
    for (const std::string& line : OutputLines(output)) {
        if (line.find("HTTP failure") != std::string::npos ||
            line.find("Failed to get") != std::string::npos) {
            return Utf8ToWide(line);
        }
    }
    return ReasonLine(output);
}

}  // namespace

Signer::~Signer() {
    volatile char* wipe = password_.empty() ? nullptr : &password_[0];
    for (size_t i = 0; i < password_.size(); ++i) wipe[i] = 0;
}

bool Signer::ReadPassword(const BuildOptions& options, std::wstring& error) {
    if (!options.password_file.empty()) {
        if (!ReadFirstLine(options.password_file, password_)) {
            error = L"cannot read the password file " + options.password_file;
            return false;
        }
        if (password_.empty()) {
            error = L"the password file " + options.password_file + L" is empty";
            return false;
        }
        secret_files_.push_back(options.password_file);
    } else if (!options.password_env.empty()) {
        std::wstring value;
        if (!GetEnvVar(options.password_env.c_str(), 32768, value) || value.empty()) {
            error = L"the environment variable " + options.password_env +
                    L" (--password-env) is not set";
            return false;
        }
        password_ = WideToUtf8(value);
        for (wchar_t& c : value) c = 0;
    } else {
        return true;
    }
    have_password_ = true;
    return true;
}

bool Signer::CheckKeys(const BuildOptions& options, std::wstring& warning,
                       std::wstring& error) const {
    const bool token = !options.pkcs11_module.empty();
    if (token && !Readable(options.pkcs11_module)) {
        error = L"cannot read the PKCS#11 module " + options.pkcs11_module + L" (--pkcs11-module)";
        return false;
    }
    std::vector<std::wstring> files =
        options.pkcs12.empty() ? std::vector<std::wstring>{options.certificate, options.key}
                               : std::vector<std::wstring>{options.pkcs12};
    // Keys and certificates on the token are checked when osslsigncode signs.
    if (token) files.pop_back();
    if (token && IsPkcs11Uri(options.certificate)) return true;
    for (const std::wstring& file : files) {
        if (!Readable(file)) {
            error = L"cannot read " + file + (file == options.key ? L" (the private key)" : L"");
            return false;
        }
    }
    const std::wstring openssl = FindProgram(L"openssl");
    if (openssl.empty()) {
        warning =
            L"openssl was not found on PATH: the certificate's dates and purpose are not checked";
        return true;
    }
    CertificateFacts facts;
    if (options.pkcs12.empty()) {
        if (!token && !CheckPrivateKey(openssl, options.key, password_, error)) return false;
        // osslsigncode also takes certificate files openssl x509 cannot read
        // (PKCS#7 .spc files): those are signed with unchecked dates.
        std::wstring unread;
        if (!ReadCertificateFile(openssl, options.certificate, facts, unread)) {
            warning = unread + L"; its dates and purpose are not checked";
            return true;
        }
    } else if (!ReadPkcs12Certificate(openssl, options.pkcs12, password_, facts, error)) {
        return false;
    }
    error = CertificateProblem(facts, static_cast<int64_t>(std::time(nullptr)));
    return error.empty();
}

bool Signer::Prepare(const BuildOptions& options, std::wstring& warning, std::wstring& error) {
    certificate_ = options.certificate;
    key_ = options.key;
    osslsigncode_ = FindProgram(L"osslsigncode");
    if (osslsigncode_.empty()) {
        error = L"osslsigncode was not found on PATH (apt-get install osslsigncode)";
        return false;
    }
    if (!ReadPassword(options, error) || !CheckKeys(options, warning, error)) return false;
    if (!options.pkcs11_module.empty()) {
        // The engine is OpenSSL's "pkcs11" (libengine-pkcs11-openssl),
        // found by its name: osslsigncode 2.5 cannot load it by path.
        token_ = options.pkcs11_module;
        key_arguments_ = {L"-pkcs11module", options.pkcs11_module,
                          IsPkcs11Uri(options.certificate) ? L"-pkcs11cert" : L"-certs",
                          options.certificate, L"-key", options.key};
        if (!IsPkcs11Uri(options.certificate)) secret_files_.push_back(options.certificate);
    } else if (options.pkcs12.empty()) {
        key_arguments_ = {L"-certs", options.certificate, L"-key", options.key};
        secret_files_.insert(secret_files_.end(), {options.certificate, options.key});
    } else {
        key_arguments_ = {L"-pkcs12", options.pkcs12};
        secret_files_.push_back(options.pkcs12);
    }
    if (have_password_) {
        key_arguments_.insert(key_arguments_.end(), {L"-readpass", PasswordSource()});
    }
    if (!options.sign_name.empty()) {
        key_arguments_.insert(key_arguments_.end(), {L"-n", options.sign_name});
    }
    if (!options.sign_url.empty()) {
        key_arguments_.insert(key_arguments_.end(), {L"-i", options.sign_url});
    }
    if (!options.timestamp.empty()) {
        key_arguments_.insert(key_arguments_.end(), {L"-ts", options.timestamp});
        timestamp_ = options.timestamp;
        timeout_ms_ = static_cast<uint32_t>(options.timestamp_timeout) * 1000;
    }
    return true;
}

bool Signer::Sign(const std::wstring& in_path, const std::wstring& out_path,
                  const SigningTime& time, std::wstring& error) const {
    std::vector<std::wstring> arguments = {L"sign"};
    arguments.insert(arguments.end(), key_arguments_.begin(), key_arguments_.end());
    if (time.fixed) arguments.insert(arguments.end(), {L"-time", std::to_wstring(time.seconds)});
    arguments.insert(arguments.end(), {L"-in", in_path, L"-out", out_path});
    const CapturedRun run = RunCaptured(osslsigncode_, arguments,
                                        have_password_ ? password_ : std::string(), timeout_ms_);
    if (run.started && !run.timed_out && run.exit_code == 0 && PathExists(out_path)) return true;
    DeleteFilePath(out_path);
    if (!run.started) {
        error = L"cannot start " + osslsigncode_;
    } else if (run.timed_out) {
        error = L"the time stamp server " + timestamp_ + L" did not answer within " +
                std::to_wstring(timeout_ms_ / 1000) + L" seconds (--timestamp-timeout)";
    } else if (!timestamp_.empty() && (run.output.find("imestamp") != std::string::npos ||
                                       run.output.find("HTTP") != std::string::npos)) {
        error = L"the time stamp server " + timestamp_ + L" failed: " + TimestampReason(run.output);
    } else if (!token_.empty() && !(error = TokenReason(run.output)).empty()) {
    } else {
        error = L"osslsigncode cannot sign (exit code " + std::to_wstring(run.exit_code) + L"): " +
                ReasonLine(run.output);
    }
    return false;
}

std::wstring Signer::TokenReason(const std::string& output) const {
    const auto says = [&output](const char* text) { return output.find(text) != std::string::npos; };
    if (says("PIN incorrect")) {
        return L"the token refused the PIN (wrong PIN; tokens lock after a few wrong tries)";
    }
    if (says("PIN locked")) return L"the token's PIN is locked";
    if (says("UI_process") || says("while reading strings")) {
        return L"the token needs a PIN (--password-file or --password-env)";
    }
    if (says("no such engine") || says("ENGINE_by_id")) {
        return L"OpenSSL's pkcs11 engine is not installed (apt-get install "
               L"libengine-pkcs11-openssl)";
    }
    if (says("Unable to load PKCS#11 module") || says("invalid parameter")) {
        return L"cannot load the PKCS#11 module " + token_;
    }
    if (says("object not found")) {
        return says("Failed to load certificate") ? L"the token holds no certificate " + certificate_
                                                  : L"the token holds no private key " + key_;
    }
    return std::wstring();
}

bool CheckFinishedInstaller(const std::wstring& path, int64_t end_record_offset,
                            std::wstring& error) {
    ALFile file(path.c_str());
    uint8_t signature[4] = {0, 0, 0, 0};
    if (file.Open() < 0 || file.Seek(static_cast<int32_t>(end_record_offset)) < 0 ||
        file.ReadBuffer(signature, 4) != 4) {
        error = path + L": " + file.status.GetStatusDetail();
        return false;
    }
    const int64_t size = static_cast<uint32_t>(file.GetSize());
    file.Close();
    if (size >= kInstallerSizeLimit) {
        error = L"the installer would be 2 GiB or larger (" + std::to_wstring(size) + L" bytes)";
        return false;
    }
    if (memcmp(signature, "PK\x05\x06", 4) != 0) {
        error = L"the ZIP end record is no longer where it was written";
        return false;
    }
    // The stub reads a signed installer only up to its certificate table,
    // and refuses one whose table breaks its rules.
    CertificateTableCheck table;
    uint64_t file_size = 0;
    if (!CheckFileCertificateTable(path, table, file_size)) {
        error = path + L": cannot be read again";
        return false;
    }
    if (table.state == SignatureState::kDamaged) {
        error = L"the signature breaks the self-extractor's rules for certificate tables: " +
                table.reason;
        return false;
    }
    const int64_t searched_end = static_cast<int64_t>(table.signed_end);
    if (searched_end - end_record_offset > kEndRecordWindow) {
        error = L"the ZIP end record lies " + std::to_wstring(searched_end - end_record_offset) +
                L" bytes before the end of the signed data; the stub searches only the last 66000";
        return false;
    }
    return true;
}
