// Checks on the signing certificate before anything is built, with the
// openssl program: valid now, meant for code signing, readable with the
// password given.
#pragma once

#include <cstdint>
#include <string>

// What openssl reports of a certificate.
struct CertificateFacts {
    std::wstring subject;
    int64_t not_before = 0;  // seconds since 1970-01-01 00:00 UTC
    int64_t not_after = 0;
    std::wstring not_before_text, not_after_text;  // as openssl prints them
    bool has_key_usage = false, digital_signature = false;
    bool has_extended_key_usage = false, code_signing = false;
};

// Reads the output of "openssl x509 -noout -subject -startdate -enddate
// -ext keyUsage,extendedKeyUsage". False when the dates are missing.
bool ParseCertificateFacts(const std::string& output, CertificateFacts& facts);

// "Feb  1 00:00:00 2020 GMT" as seconds since 1970 (UTC); false when the
// text has another form.
bool ParseOpensslTime(const std::string& text, int64_t& seconds);

// Why a certificate with these facts cannot sign code at moment now
// (seconds since 1970); empty when it can. A certificate without key usage
// extensions may be used for anything.
std::wstring CertificateProblem(const CertificateFacts& facts, int64_t now);

// The certificate facts of the signing key: for a PKCS#12 file (password
// given in password, empty for none) its own certificate, else the
// certificate file (PEM or DER). openssl is the program found on PATH.
// False with a one-line reason, which names a wrong password as such.
bool ReadPkcs12Certificate(const std::wstring& openssl, const std::wstring& pkcs12,
                           const std::string& password, CertificateFacts& facts,
                           std::wstring& error);
bool ReadCertificateFile(const std::wstring& openssl, const std::wstring& certificate,
                         CertificateFacts& facts, std::wstring& error);

// Checks that the private key file opens (with the password when one is
// given). False with a one-line reason.
bool CheckPrivateKey(const std::wstring& openssl, const std::wstring& key,
                     const std::string& password, std::wstring& error);
