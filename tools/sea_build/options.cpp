#include "tools/sea_build/options.h"

#include "platform/path.h"

namespace {

bool IsLevelOption(const std::wstring& argument) {
    return argument.size() == 2 && argument[0] == L'-' && argument[1] >= L'0' && argument[1] <= L'9';
}

// Takes the value of an option that needs one; false (with error) when the
// arguments end first.
bool TakeValue(const std::vector<std::wstring>& arguments, size_t& i, std::wstring& value,
               std::wstring& error) {
    if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
        error = arguments[i] + L" needs a value";
        return false;
    }
    value = arguments[++i];
    return true;
}

// Options that take one value, stored as given.
struct ValueOption {
    const wchar_t* name;
    std::wstring BuildOptions::*field;
};
const ValueOption kValueOptions[] = {
    {L"-o", &BuildOptions::output},
    {L"--output", &BuildOptions::output},
    {L"--stub", &BuildOptions::stub},
    {L"--launcher", &BuildOptions::launcher},
    {L"--pkcs12", &BuildOptions::pkcs12},
    {L"--pkcs11-module", &BuildOptions::pkcs11_module},
    {L"--sign-command", &BuildOptions::sign_command},
    {L"--attach-signature", &BuildOptions::attach_signature},
    {L"--password-file", &BuildOptions::password_file},
    {L"--password-env", &BuildOptions::password_env},
    {L"--timestamp", &BuildOptions::timestamp},
    {L"--sign-name", &BuildOptions::sign_name},
    {L"--sign-url", &BuildOptions::sign_url},
    {L"--ca", &BuildOptions::ca},
};

const ValueOption* FindValueOption(const std::wstring& argument) {
    for (const ValueOption& option : kValueOptions) {
        if (argument == option.name) return &option;
    }
    return nullptr;
}

const CompressionMethod kMethods[] = {CompressionMethod::Deflate, CompressionMethod::Lzma,
                                     CompressionMethod::Zstd};

bool ParseMethod(const std::wstring& text, CompressionMethod& method) {
    for (CompressionMethod candidate : kMethods) {
        if (text == MethodName(candidate)) {
            method = candidate;
            return true;
        }
    }
    return false;
}

bool ParseSeconds(const std::wstring& text, int& seconds) {
    if (text.empty() || text.size() > 5) return false;
    seconds = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        seconds = seconds * 10 + (c - L'0');
    }
    return seconds > 0;
}

wchar_t AsciiLower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }

int HexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    c = AsciiLower(c);
    return c >= L'a' && c <= L'f' ? c - L'a' + 10 : -1;
}

// An attribute name of a pkcs11: URI, percent-decoded and in lower case.
std::wstring AttributeName(const std::wstring& text) {
    std::wstring name;
    for (size_t i = 0; i < text.size(); ++i) {
        const int high = text[i] == L'%' && i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
        const int low = high >= 0 ? HexValue(text[i + 2]) : -1;
        if (low >= 0) {
            name.push_back(AsciiLower(static_cast<wchar_t>(high * 16 + low)));
            i += 2;
        } else {
            name.push_back(AsciiLower(text[i]));
        }
    }
    return name;
}

// True when a pkcs11: URI carries the PIN itself or names where to read
// it (pin-value, pin-source): the PIN would stand on osslsigncode's
// command line, readable by every local user, and in our messages.
bool UriCarriesPin(const std::wstring& uri) {
    if (!IsPkcs11Uri(uri)) return false;
    size_t start = 7;
    while (start <= uri.size()) {
        size_t end = uri.find_first_of(L";?&", start);
        if (end == std::wstring::npos) end = uri.size();
        const std::wstring attribute = uri.substr(start, end - start);
        const std::wstring name = AttributeName(attribute.substr(0, attribute.find(L'=')));
        if (name == L"pin-value" || name == L"pin-source") return true;
        start = end + 1;
    }
    return false;
}

bool IsQuote(wchar_t c) { return c == L'"' || c == L'\''; }

// True when a {} of a --sign-command stands inside quotes of the shell
// (sh: '...' and "..." with backslash escapes; cmd: "..."), right beside a
// quote, or behind an escape character. The path goes in quoted for the
// shell already; inside the vendor's own quotes that quoting would end
// theirs, and $(...), `...` or & in the path would run.
bool PlaceholderQuoted(const std::wstring& command) {
    const bool sh = kPathSeparator == L'/';
    wchar_t open = 0;
    bool escaped = false;
    for (size_t i = 0; i < command.size(); ++i) {
        const wchar_t c = command[i];
        if (command.compare(i, 2, L"{}") == 0) {  // every {} the substitution replaces
            const bool before = i > 0 && (IsQuote(command[i - 1]) || command[i - 1] == L'\\' ||
                                          command[i - 1] == L'^');
            const bool after = i + 2 < command.size() && IsQuote(command[i + 2]);
            if (open != 0 || before || after) return true;
            ++i;
            escaped = false;
        } else if (escaped) {
            escaped = false;
        } else if (sh && c == L'\\' && open != L'\'') {
            escaped = true;
        } else if (open != 0) {
            if (c == open) open = 0;
        } else if (c == L'"' || (sh && c == L'\'')) {
            open = c;
        }
    }
    return false;
}

// The signing options fit together: one way of signing, one kind of key,
// one password source, and nothing that only signing uses without a key.
bool CheckSigningOptions(const BuildOptions& options, std::wstring& error) {
    const int ways = options.signing() + !options.sign_command.empty() +
                     !options.attach_signature.empty();
    if (!options.certificate.empty() && !options.pkcs12.empty()) {
        error = L"--sign and --pkcs12 cannot be combined";
    } else if (ways > 1) {
        error = L"--sign, --pkcs12, --sign-command and --attach-signature cannot be combined";
    } else if (!options.password_file.empty() && !options.password_env.empty()) {
        error = L"--password-file and --password-env cannot be combined";
    } else if (!options.signing() &&
               !(options.password_file + options.password_env + options.timestamp +
                 options.sign_name + options.sign_url).empty()) {
        error = L"--password-file, --password-env, --timestamp, --sign-name and --sign-url "
                L"need --sign or --pkcs12";
    } else if (UriCarriesPin(options.key) || UriCarriesPin(options.certificate)) {
        error = L"a PIN is never taken from the command line: remove pin-value and pin-source "
                L"from the pkcs11: URI and use --password-file FILE or --password-env NAME";
    } else if (!options.pkcs11_module.empty() && options.certificate.empty()) {
        error = L"--pkcs11-module needs --sign CERT KEY with KEY a pkcs11: URI";
    } else if (!options.pkcs11_module.empty() && !IsPkcs11Uri(options.key)) {
        error = L"with --pkcs11-module the key must be a pkcs11: URI (pkcs11:token=...;object=...)";
    } else if (options.pkcs11_module.empty() &&
               (IsPkcs11Uri(options.key) || IsPkcs11Uri(options.certificate))) {
        error = L"a pkcs11: URI needs --pkcs11-module LIB (the token's PKCS#11 library)";
    } else if (!options.sign_command.empty() &&
               options.sign_command.find(L"{}") == std::wstring::npos) {
        error = L"--sign-command needs {} where the installer's path goes";
    } else if (PlaceholderQuoted(options.sign_command)) {
        error = L"--sign-command: write {} without quotes or an escape around it; sea-build "
                L"puts the installer's path in quoted for the shell itself";
    } else if (!options.ca.empty() && options.action != BuildAction::Verify) {
        error = L"--ca belongs to --verify";
    } else if (options.action != BuildAction::Build && ways > 0) {
        error = L"signing options belong to a build";
    } else {
        return true;
    }
    return false;
}

bool Finish(BuildOptions& options, std::vector<std::wstring>& positional, std::wstring& error) {
    if (options.action == BuildAction::Help) return true;
    if (!CheckSigningOptions(options, error)) return false;
    if (options.action == BuildAction::ExtractSignature) {
        if (!positional.empty() || options.output.empty()) {
            error = L"--extract-signature SIGNED.exe takes -o FILE and nothing else";
            return false;
        }
        return true;
    }
    if (options.action != BuildAction::Build) {
        if (positional.size() != 1) {
            error = L"--list, --test and --verify take exactly one installer to read";
            return false;
        }
        options.installer = positional[0];
        return true;
    }
    if (positional.size() != 1) {
        error = positional.empty() ? L"no directory to pack given (see --help)"
                                   : L"more than one directory given: " + positional[1];
        return false;
    }
    options.source_dir = positional[0];
    if (options.output.empty()) {
        error = L"no output file given (-o OUT.exe)";
        return false;
    }
    return true;
}

// --list, --test, --verify and --extract-signature each select what to do with one installer.
bool SetAction(const std::wstring& argument, BuildOptions& options, std::wstring& error) {
    const BuildAction wanted = argument == L"--list"     ? BuildAction::List
                               : argument == L"--test"   ? BuildAction::Test
                               : argument == L"--verify" ? BuildAction::Verify
                                                         : BuildAction::ExtractSignature;
    if (options.action != BuildAction::Build && options.action != wanted &&
        options.action != BuildAction::Help) {
        error = L"--list, --test, --verify and --extract-signature cannot be combined";
        return false;
    }
    if (options.action != BuildAction::Help) options.action = wanted;
    return true;
}

}  // namespace

bool ParseBuildOptions(const std::vector<std::wstring>& arguments, BuildOptions& options,
                       std::wstring& error) {
    std::vector<std::wstring> positional;
    bool options_end = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& a = arguments[i];
        if (options_end || a.empty() || a[0] != L'-' || a == L"-") {
            positional.push_back(a);
        } else if (a == L"--") {
            options_end = true;
        } else if (a == L"-h" || a == L"--help") {
            options.action = BuildAction::Help;
        } else if (const ValueOption* option = FindValueOption(a)) {
            if (!TakeValue(arguments, i, options.*(option->field), error)) return false;
        } else if (a == L"--timestamp-timeout") {
            std::wstring value;
            if (!TakeValue(arguments, i, value, error)) return false;
            if (!ParseSeconds(value, options.timestamp_timeout)) {
                error = L"--timestamp-timeout needs a number of seconds (1 to 99999)";
                return false;
            }
        } else if (a == L"-m" || a == L"--method") {
            std::wstring value;
            if (!TakeValue(arguments, i, value, error)) return false;
            if (!ParseMethod(value, options.method)) {
                error = a + L" takes deflate, lzma or zstd, not " + value;
                return false;
            }
        } else if (a == L"--password" || a == L"-pass" || a == L"--pass") {
            error = L"a password is never taken from the command line: use --password-file FILE "
                    L"or --password-env NAME";
            return false;
        } else if (a == L"--sign") {
            if (!TakeValue(arguments, i, options.certificate, error) ||
                !TakeValue(arguments, i, options.key, error)) {
                error = L"--sign needs a certificate file and a key file";
                return false;
            }
        } else if (a == L"--icon") {
            if (!TakeValue(arguments, i, options.icon, error)) return false;
        } else if (a == L"--version-info") {
            std::wstring setting;
            if (!TakeValue(arguments, i, setting, error)) return false;
            options.version_info.push_back(setting);
        } else if (a == L"--allow-pe32plus") {
            options.allow_pe32plus = true;
        } else if (a == L"--skip-unreadable") {
            options.skip_unreadable = true;
        } else if (a == L"-q" || a == L"--quiet") {
            options.quiet = true;
        } else if (a == L"--list" || a == L"--test" || a == L"--verify") {
            if (!SetAction(a, options, error)) return false;
        } else if (a == L"--extract-signature") {
            if (!SetAction(a, options, error) || !TakeValue(arguments, i, options.installer, error)) {
                return false;
            }
        } else if (IsLevelOption(a)) {
            options.level = a[1] - L'0';
        } else {
            error = L"unknown option " + a + L" (see --help)";
            return false;
        }
    }
    return Finish(options, positional, error);
}

const wchar_t* MethodName(CompressionMethod method) {
    switch (method) {
        case CompressionMethod::Lzma: return L"lzma";
        case CompressionMethod::Zstd: return L"zstd";
        default: return L"deflate";
    }
}

const wchar_t* UsageText() {
    return L"Usage: sea-build [options] DIR -o OUT.exe\n"
           L"       sea-build --list INSTALLER.exe\n"
           L"       sea-build --test INSTALLER.exe\n"
           L"       sea-build --verify INSTALLER.exe [--ca CA.pem]\n"
           L"       sea-build --extract-signature SIGNED.exe -o SIGNATURE.p7\n"
           L"\n"
           L"Builds a self-extracting installer: the stub program, a payload header\n"
           L"naming the launcher, a ZIP archive of everything in DIR, and a trailer.\n"
           L"\n"
           L"Options:\n"
           L"  -o, --output FILE     the installer to write\n"
           L"  --stub PATH           the self-extractor stub (default: sea.exe beside\n"
           L"                        this program, else ../lib/quillora-sea/sea.exe\n"
           L"                        from its folder); a 32-bit (PE32) image without\n"
           L"                        anything appended to it\n"
           L"  --allow-pe32plus      accept a 64-bit (PE32+) stub, such as a test build\n"
           L"  --launcher NAME       the launcher path recorded in the payload header\n"
           L"                        (default: Windows\\ + the output's file name)\n"
           L"  -m, --method METHOD   deflate (the default; every ZIP tool reads it),\n"
           L"                        lzma (smaller; 7-Zip, bsdtar, WinZip, Python) or\n"
           L"                        zstd (smaller, fast to unpack; 7-Zip, bsdtar 3.6,\n"
           L"                        WinZip); see the manual page for what each needs\n"
           L"  -0 ... -9             compression level (default 6; -0 stores only),\n"
           L"                        each method's own settings from fast to small;\n"
           L"                        a file is stored when the method does not make it\n"
           L"                        smaller, and archives named *.zip *.Z *.zoo *.arc\n"
           L"                        *.lzh *.arj are stored without trying, as zip does\n"
           L"  --sign CERT KEY       sign the result with osslsigncode (PEM or DER\n"
           L"                        certificate and private key)\n"
           L"  --pkcs11-module LIB   sign with a key on a hardware token or HSM: KEY\n"
           L"                        of --sign is a pkcs11: URI, CERT a file or a\n"
           L"                        pkcs11: URI; the PIN as the password below\n"
           L"  --sign-command CMD    sign with any signing tool: CMD runs through the\n"
           L"                        shell (sh -c; cmd /c on Windows) with {} replaced\n"
           L"                        by the finished installer's quoted path (write {}\n"
           L"                        bare, never in quotes), within\n"
           L"                        --timestamp-timeout; the result is checked\n"
           L"  --attach-signature FILE\n"
           L"                        attach a detached signature (PKCS#7, DER) made\n"
           L"                        for exactly the installer being built\n"
           L"  --icon FILE.ico       the installer's icon: every image of FILE.ico\n"
           L"                        replaces the stub's application icon\n"
           L"  --version-info KEY=VALUE\n"
           L"                        version information shown by Explorer and the\n"
           L"                        elevation prompt (repeatable); keys: ProductName,\n"
           L"                        CompanyName, FileDescription, FileVersion,\n"
           L"                        ProductVersion, LegalCopyright, OriginalFilename,\n"
           L"                        InternalName, Comments; the versions are a.b.c.d\n"
           L"  --pkcs12 FILE         sign with the key and certificates of a PKCS#12\n"
           L"                        file (.pfx, .p12)\n"
           L"  --password-file FILE  the key's password: the first line of FILE\n"
           L"  --password-env NAME   the key's password: the environment variable NAME\n"
           L"                        (a password is never taken from the command line)\n"
           L"  --timestamp URL       add an RFC 3161 time stamp from this server\n"
           L"  --timestamp-timeout S give up signing (a time stamp, --sign-command)\n"
           L"                        after S seconds (default 120)\n"
           L"  --sign-name TEXT      the description recorded in the signature\n"
           L"  --sign-url URL        the web address recorded in the signature\n"
           L"  --skip-unreadable     leave out unreadable files and folders, broken links,\n"
           L"                        named pipes, sockets and devices with a warning\n"
           L"                        (by default each of them fails the build)\n"
           L"  -q, --quiet           no progress bar and no summary\n"
           L"  --list                list the entries of an installer\n"
           L"  --test                check every entry of an installer against its CRC-32\n"
           L"                        without writing anything\n"
           L"  --verify              check every CRC-32, the end record's place and the\n"
           L"                        signature (osslsigncode); one verdict line\n"
           L"  --ca FILE             with --verify: trust the CA certificates in FILE\n"
           L"  --extract-signature SIGNED.exe -o FILE\n"
           L"                        write the signature of a signed installer as a\n"
           L"                        detached PKCS#7 file (DER)\n"
           L"  -h, --help            this text\n"
           L"\n"
           L"Exit codes: 0 success, 1 failure, 2 bad command line.\n";
}
