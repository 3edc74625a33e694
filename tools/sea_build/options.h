// The command line of sea-build.
#pragma once

#include <string>
#include <vector>

enum class BuildAction { Build, List, Test, Verify, ExtractSignature, Help };

// How the files are compressed (ZIP methods 8, 14 and 93).
enum class CompressionMethod { Deflate, Lzma, Zstd };

// The name -m takes and the summary shows: "deflate", "lzma", "zstd".
const wchar_t* MethodName(CompressionMethod method);

struct BuildOptions {
    BuildAction action = BuildAction::Build;
    std::wstring source_dir;     // Build: the tree to pack
    std::wstring output;         // Build: the installer to write
    std::wstring installer;      // List, Test, Verify, ExtractSignature: the installer to read
    std::wstring stub;           // empty: the default stub (see --help)
    std::wstring launcher;       // empty: "Windows\" + the output's file name
    int level = 6;               // 0 stores every file
    CompressionMethod method = CompressionMethod::Deflate;
    bool allow_pe32plus = false; // accept a 64-bit (test) stub
    std::wstring certificate;    // both set: sign the result
    std::wstring key;
    std::wstring pkcs11_module;  // set: KEY (and CERT) of --sign are pkcs11: URIs on a token
    std::wstring sign_command;   // a signing command run on the finished installer ({} its path)
    std::wstring attach_signature;  // a detached signature (PKCS#7, DER) made for these bytes
    std::wstring pkcs12;         // set: sign with the key and certificate of this file
    std::wstring password_file;  // the key's password is the first line of this file,
    std::wstring password_env;   // or the value of this environment variable
    std::wstring timestamp;      // RFC 3161 time stamp server URL
    int timestamp_timeout = 120; // seconds the signing may take with a time stamp
    std::wstring sign_name;      // description and URL recorded in the signature
    std::wstring sign_url;
    std::wstring ca;             // Verify: the CA certificates to trust
    bool quiet = false;          // no progress bar, no summary
    bool skip_unreadable = false;  // unreadable and special files are warnings, not errors
    std::wstring icon;           // --icon: the installer's application icon
    std::vector<std::wstring> version_info;  // --version-info KEY=VALUE, as given

    // Signing through osslsigncode with a key of ours (files or a token).
    bool signing() const { return !certificate.empty() || !pkcs12.empty(); }
    // Any way of signing the result.
    bool any_signing() const {
        return signing() || !sign_command.empty() || !attach_signature.empty();
    }
};

// True for a key or certificate named by a PKCS#11 URI ("pkcs11:...").
inline bool IsPkcs11Uri(const std::wstring& name) { return name.compare(0, 7, L"pkcs11:") == 0; }

// Parses the arguments after the program name. False with a one-line
// message in error when they make no sense.
bool ParseBuildOptions(const std::vector<std::wstring>& arguments, BuildOptions& options,
                       std::wstring& error);

// The usage text of --help.
const wchar_t* UsageText();
