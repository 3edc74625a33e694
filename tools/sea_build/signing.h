// Signing a finished installer with osslsigncode, and the checks that the
// signed file still works as a self-extractor.
#pragma once

#include <cstdint>
#include <string>

// Runs "osslsigncode sign -certs CERT -key KEY -in IN -out OUT" (the program
// is looked up on PATH). The certificate table lands behind everything
// that is in the file, the payload included. False with a one-line reason.
bool SignWithOsslsigncode(const std::wstring& certificate, const std::wstring& key,
                          const std::wstring& in_path, const std::wstring& out_path,
                          std::wstring& error);

// Checks path: shorter than 2 GiB, the ZIP end record signature still at
// end_record_offset, and that offset within the last 66,000 bytes where the
// stub searches for it. False with a one-line reason.
bool CheckFinishedInstaller(const std::wstring& path, int64_t end_record_offset,
                            std::wstring& error);
