// Signatures made outside sea-build: a vendor's own signing command run on
// the finished installer, and detached signatures moved between a signed
// installer and a rebuild of the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class OutputFile;

// Runs the signing command on a copy of the finished unsigned installer
// unsigned_path, a temporary file of scratch: every "{}" of command
// becomes that file's path quoted for the shell. Then copies what the
// command left there into another temporary file, result, and checks
// that result is unsigned_path and a signature made for it and nothing
// else (CheckSignedCopy), that the signature itself verifies
// (CheckSignature), and sets the checksum a signer should have set.
// False with a one-line reason.
bool SignWithCommand(const std::wstring& command, const std::wstring& unsigned_path,
                     OutputFile& scratch, uint32_t timeout_ms, std::wstring& result,
                     std::wstring& error);

// Reads a detached signature file (PKCS#7, DER) and checks that it is an
// Authenticode signature. False with a one-line reason.
bool ReadDetachedSignature(const std::wstring& path, std::vector<uint8_t>& pkcs7,
                           std::wstring& error);

// Checks with openssl that the signer's signature covers what the
// signature says it signs (not whom it comes from: that takes the trusted
// CAs of --verify), with two temporary files of scratch. True without a
// check when openssl is not on PATH. False with a one-line reason.
bool CheckSignature(const std::vector<uint8_t>& pkcs7, OutputFile& scratch, std::wstring& error);

// sea-build --extract-signature: writes the signature of installer to
// output (replaced only when complete). Returns the exit code, 0 or 1
// after a one-line error.
int ExtractSignatureFile(const std::wstring& installer, const std::wstring& output);
