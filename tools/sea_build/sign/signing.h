// Signing a finished installer with osslsigncode, and the checks that the
// signed file still works as a self-extractor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/sea_build/options.h"

// The signing time recorded in the signature: the moment of signing, or a
// fixed one (seconds since 1970-01-01 UTC), which makes the signature of
// the same file with the same key the same bytes.
struct SigningTime {
    bool fixed = false;
    int64_t seconds = 0;
};

// Everything signing needs, gathered and checked before the installer is
// written, so that a signing failure costs no build. The password is held
// only in memory and reaches the helper programs through their standard
// input, never through a command line or a file of ours.
class Signer {
public:
    Signer() = default;
    Signer(const Signer&) = delete;
    Signer& operator=(const Signer&) = delete;
    ~Signer();

    // Finds osslsigncode (and openssl for the checks), reads the password,
    // and checks the key files and the certificate: readable with that
    // password, valid now, meant for code signing. Without openssl, or for
    // a certificate file openssl cannot read, the certificate checks are
    // skipped with a warning in warning. False with
    // a one-line reason that never contains the password.
    bool Prepare(const BuildOptions& options, std::wstring& warning, std::wstring& error);

    // Runs "osslsigncode sign ... -in IN -out OUT"; the certificate table
    // lands behind everything in the file, the payload included. With a
    // time stamp server the run is limited to the time-out of the options.
    // A fixed time is recorded as the signing time. OUT is removed again on
    // failure. False with a one-line reason.
    bool Sign(const std::wstring& in_path, const std::wstring& out_path, const SigningTime& time,
              std::wstring& error) const;

    // The files of the key, its certificate and its password, which must
    // not be packed.
    const std::vector<std::wstring>& secret_files() const { return secret_files_; }

private:
    bool ReadPassword(const BuildOptions& options, std::wstring& error);
    // What a failed token signing means, from osslsigncode's output; empty
    // when it is none of the token's faults.
    std::wstring TokenReason(const std::string& output) const;
    bool CheckKeys(const BuildOptions& options, std::wstring& warning, std::wstring& error) const;

    std::wstring osslsigncode_;
    std::vector<std::wstring> key_arguments_;  // -certs/-key or -pkcs12, -n, -i, -ts
    std::string password_;
    bool have_password_ = false;
    std::wstring token_;  // the PKCS#11 module, when the key is on a token
    std::wstring certificate_, key_;
    std::wstring timestamp_;
    uint32_t timeout_ms_ = 0;
    std::vector<std::wstring> secret_files_;
};

// Checks path: shorter than 2 GiB, the ZIP end record signature still at
// end_record_offset, a certificate table (if any) that the stub accepts,
// and that offset within the last 66,000 bytes before the table (or the
// end of the file) where the stub searches for it. False with a one-line
// reason.
bool CheckFinishedInstaller(const std::wstring& path, int64_t end_record_offset,
                            std::wstring& error);
