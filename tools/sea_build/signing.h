// Signing a finished installer with osslsigncode, and the checks that the
// signed file still works as a self-extractor.
#pragma once

#include <cstdint>
#include <string>

// The signing time recorded in the signature: the moment of signing, or a
// fixed one (seconds since 1970-01-01 UTC), which makes the signature of
// the same file with the same key the same bytes.
struct SigningTime {
    bool fixed = false;
    int64_t seconds = 0;
};

// Runs "osslsigncode sign -certs CERT -key KEY [-time SECONDS] -in IN -out
// OUT" (the program is looked up on PATH). The certificate table lands
// behind everything that is in the file, the payload included. False with
// a one-line reason.
bool SignWithOsslsigncode(const std::wstring& certificate, const std::wstring& key,
                          const std::wstring& in_path, const std::wstring& out_path,
                          const SigningTime& time, std::wstring& error);

// Checks path: shorter than 2 GiB, the ZIP end record signature still at
// end_record_offset, and that offset within the last 66,000 bytes where the
// stub searches for it. False with a one-line reason.
bool CheckFinishedInstaller(const std::wstring& path, int64_t end_record_offset,
                            std::wstring& error);
