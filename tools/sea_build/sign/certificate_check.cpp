#include "tools/sea_build/sign/certificate_check.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/format.h"
#include "platform/process_capture.h"
#include "platform/text.h"
#include "tools/sea_build/sign/helper_programs.h"

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t year_of_era = year - era * 400;
    const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

std::string AfterPrefix(const std::string& line, const char* prefix) {
    const size_t n = strlen(prefix);
    return line.compare(0, n, prefix) == 0 ? line.substr(n) : std::string();
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

// Runs "openssl x509 -noout ..." on pem (or on the file when pem is empty).
bool DescribeCertificate(const std::wstring& openssl, const std::wstring& file,
                         const std::string& pem, const wchar_t* format, CertificateFacts& facts,
                         std::string& output) {
    std::vector<std::wstring> arguments = {L"x509",
                                           L"-noout",
                                           L"-subject",
                                           L"-startdate",
                                           L"-enddate",
                                           L"-ext",
                                           L"keyUsage,extendedKeyUsage",
                                           L"-inform",
                                           format};
    if (!file.empty()) {
        arguments.push_back(L"-in");
        arguments.push_back(file);
    }
    const CapturedRun run = RunCaptured(openssl, arguments, pem, 0);
    output = run.output;
    return run.started && run.exit_code == 0 && ParseCertificateFacts(run.output, facts);
}

// The password argument of openssl: "stdin" with the password as input, or
// an empty password given inline (never a prompt on the terminal).
std::wstring PassSource(const std::string& password) {
    return password.empty() ? L"pass:" : L"stdin";
}

std::string PassInput(const std::string& password) {
    return password.empty() ? std::string() : password + "\n";
}

bool LooksLikeWrongPassword(const std::string& output) {
    return output.find("mac verify") != std::string::npos ||
           output.find("Mac verify") != std::string::npos ||
           output.find("bad decrypt") != std::string::npos ||
           output.find("invalid password") != std::string::npos;
}

}  // namespace

bool ParseOpensslTime(const std::string& text, int64_t& seconds) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char month[4] = {0, 0, 0, 0};
    char zone[4] = {0, 0, 0, 0};
    int day = 0, hour = 0, minute = 0, second = 0, year = 0;
    if (sscanf(text.c_str(), "%3s %d %d:%d:%d %d %3s", month, &day, &hour, &minute, &second, &year,
               zone) != 7 ||
        strcmp(zone, "GMT") != 0) {
        return false;
    }
    int number = 0;
    while (number < 12 && strcmp(month, kMonths[number]) != 0) ++number;
    if (number == 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 ||
        hour < 0 || minute < 0 || second < 0) {
        return false;
    }
    seconds = DaysFromCivil(year, number + 1, day) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

bool ParseCertificateFacts(const std::string& output, CertificateFacts& facts) {
    bool have_start = false, have_end = false;
    enum class Section { None, KeyUsage, ExtendedKeyUsage } section = Section::None;
    for (const std::string& line : OutputLines(output)) {
        std::string value;
        if (!(value = AfterPrefix(line, "subject=")).empty()) {
            facts.subject = Utf8ToWide(Trimmed(value));
        } else if (!(value = AfterPrefix(line, "notBefore=")).empty()) {
            facts.not_before_text = Utf8ToWide(value);
            have_start = ParseOpensslTime(value, facts.not_before);
        } else if (!(value = AfterPrefix(line, "notAfter=")).empty()) {
            facts.not_after_text = Utf8ToWide(value);
            have_end = ParseOpensslTime(value, facts.not_after);
        } else if (line.rfind("X509v3 Key Usage", 0) == 0) {
            facts.has_key_usage = true;
            section = Section::KeyUsage;
        } else if (line.rfind("X509v3 Extended Key Usage", 0) == 0) {
            facts.has_extended_key_usage = true;
            section = Section::ExtendedKeyUsage;
        } else if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            if (section == Section::KeyUsage &&
                line.find("Digital Signature") != std::string::npos) {
                facts.digital_signature = true;
            }
            if (section == Section::ExtendedKeyUsage &&
                (line.find("Code Signing") != std::string::npos ||
                 line.find("Any Extended Key Usage") != std::string::npos)) {
                facts.code_signing = true;
            }
        } else {
            section = Section::None;
        }
    }
    return have_start && have_end;
}

std::wstring CertificateProblem(const CertificateFacts& facts, int64_t now) {
    const std::wstring who = L"the certificate " + facts.subject;
    if (now > facts.not_after) return who + L" expired on " + facts.not_after_text;
    if (now < facts.not_before) return who + L" is not valid before " + facts.not_before_text;
    if (facts.has_extended_key_usage && !facts.code_signing) {
        return who + L" is not meant for code signing (its extended key usage lacks Code Signing)";
    }
    if (facts.has_key_usage && !facts.digital_signature) {
        return who + L" is not meant for signing (its key usage lacks Digital Signature)";
    }
    return std::wstring();
}

bool ReadPkcs12Certificate(const std::wstring& openssl, const std::wstring& pkcs12,
                           const std::string& password, CertificateFacts& facts,
                           std::wstring& error) {
    std::vector<std::wstring> arguments = {
        L"pkcs12", L"-in", pkcs12, L"-nokeys", L"-clcerts", L"-passin", PassSource(password)};
    CapturedRun run = RunCaptured(openssl, arguments, PassInput(password), 0);
    if (run.started && run.exit_code != 0 && !LooksLikeWrongPassword(run.output)) {
        // Files written with the old RC2 and 3DES ciphers need the legacy provider.
        arguments.push_back(L"-legacy");
        run = RunCaptured(openssl, arguments, PassInput(password), 0);
    }
    if (!run.started || run.exit_code != 0) {
        if (LooksLikeWrongPassword(run.output)) {
            error = pkcs12 + (password.empty() ? L": the file needs a password (--password-file "
                                                 L"or --password-env)"
                                               : L": wrong password");
        } else {
            error = L"cannot read " + pkcs12 + L" as a PKCS#12 file: " + ReasonLine(run.output);
        }
        return false;
    }
    const size_t begin = run.output.find("-----BEGIN CERTIFICATE-----");
    std::string output;
    if (begin == std::string::npos ||
        !DescribeCertificate(openssl, std::wstring(), run.output.substr(begin), L"PEM", facts,
                             output)) {
        error = pkcs12 + L" holds no certificate for its key";
        return false;
    }
    return true;
}

bool ReadCertificateFile(const std::wstring& openssl, const std::wstring& certificate,
                         CertificateFacts& facts, std::wstring& error) {
    std::string output;
    if (DescribeCertificate(openssl, certificate, std::string(), L"PEM", facts, output) ||
        DescribeCertificate(openssl, certificate, std::string(), L"DER", facts, output)) {
        return true;
    }
    error = L"cannot read the certificate " + certificate + L": " + ReasonLine(output);
    return false;
}

bool CheckPrivateKey(const std::wstring& openssl, const std::wstring& key,
                     const std::string& password, std::wstring& error) {
    const CapturedRun run =
        RunCaptured(openssl, {L"pkey", L"-in", key, L"-noout", L"-passin", PassSource(password)},
                    PassInput(password), 0);
    if (run.started && run.exit_code == 0) return true;
    if (!LooksLikeWrongPassword(run.output)) {
        error = L"cannot read the private key " + key + L" (not a PEM or DER key)";
    } else if (password.empty()) {
        error =
            L"the private key " + key + L" needs a password (--password-file or --password-env)";
    } else {
        error = L"the private key " + key + L": wrong password";
    }
    return false;
}
