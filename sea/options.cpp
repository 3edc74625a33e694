#include "sea/options.h"

#include <cstdio>

#include "platform/file_attributes.h"
#include "platform/file_stream.h"
#include "platform/module.h"
#include "platform/path.h"

namespace {

constexpr wchar_t kDefaultPropertiesName[] = L"installer.properties";
constexpr wchar_t kPropertiesExtension[] = L".properties";
constexpr char kInstallerUiKey[] = "installer_ui";

bool IsValueOptionWord(const std::wstring& token) {
    return token == L"-f" || token == L"-jvmxms" || token == L"-jvmxmx" || token == L"-tempdir";
}

bool IsOptionWord(const std::wstring& token) {
    return token == L"-i" || IsValueOptionWord(token);
}

// Reads one whole line (without its '\n') of whatever length; false at the
// end of the file when nothing was read.
bool ReadWholeLine(FILE* file, std::string& line) {
    line.clear();
    int c;
    while ((c = std::getc(file)) != EOF) {
        if (c == '\n') return true;
        line.push_back(static_cast<char>(c));
    }
    return !line.empty();
}

void LowerAscii(std::string& text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
}

}  // namespace

std::vector<std::wstring> SplitArguments(const std::wstring& arguments) {
    std::vector<std::wstring> tokens;
    std::wstring token;
    bool in_quotes = false;
    for (wchar_t c : arguments) {
        if (c == L'"') {
            if (in_quotes) {
                tokens.push_back(token);  // even an empty one: "" is a token
                token.clear();
            }
            in_quotes = !in_quotes;
        } else if (c == L' ' && !in_quotes) {
            if (!token.empty()) tokens.push_back(token);
            token.clear();
        } else {
            token.push_back(c);
        }
    }
    if (!token.empty()) tokens.push_back(token);
    return tokens;
}

Options::Options(const std::wstring& arguments) : Options(arguments, GetOwnModulePath()) {}

Options::Options(const std::wstring& arguments, const std::wstring& executable_path) {
    LocatePropertiesFile(executable_path);
    ParseCommandLine(arguments);
    ReadPropertiesFile();
}

bool Options::PropertiesFileExists() const { return PathExists(properties_path_); }

void Options::LocatePropertiesFile(const std::wstring& executable_path) {
    const PathParts parts = SplitPath(executable_path);
    const std::wstring folder = parts.drive + parts.directory;
    properties_path_ = folder + kDefaultPropertiesName;
    if (!PathExists(properties_path_)) {
        properties_path_ = folder + parts.name + kPropertiesExtension;
    }
}

void Options::ParseCommandLine(const std::wstring& arguments) {
    const std::vector<std::wstring> tokens = SplitArguments(arguments);
    size_t i = 0;
    while (i < tokens.size()) {
        const std::wstring& word = tokens[i];
        if (!IsOptionWord(word)) {
            ++i;
            continue;
        }
        if (i + 1 >= tokens.size()) return;  // option without its value
        const std::wstring& value = tokens[++i];
        if (word != L"-i") {
            ApplyValueOption(word, value);
        } else if (value == L"silent") {
            run_mode_ = RunMode::Silent;
        } else if (value == L"console") {
            run_mode_ = RunMode::Console;
        } else if (IsValueOptionWord(value)) {
            // Not a run mode: the value counts as an option of its own.
            if (i + 1 >= tokens.size()) return;
            ApplyValueOption(value, tokens[++i]);
        }
        ++i;
    }
}

void Options::ApplyValueOption(const std::wstring& word, const std::wstring& value) {
    if (word == L"-f") {
        properties_path_ = value;
    } else if (word == L"-jvmxms") {
        min_heap_given_ = true;
        min_heap_ = value;
    } else if (word == L"-jvmxmx") {
        max_heap_given_ = true;
        max_heap_ = value;
    } else if (word == L"-tempdir") {
        SetTempDir(value);
    }
}

void Options::SetTempDir(const std::wstring& value) {
    temp_dir_ = value;
    temp_dir_accepted_ = true;
    if (!value.empty() && value[0] == L'\'') temp_dir_accepted_ = false;
    uint32_t attributes = 0;
    if (!GetPathAttributes(value, attributes) || (attributes & kAttrDirectory) == 0) {
        temp_dir_accepted_ = false;
    }
}

void Options::ReadPropertiesFile() {
    if (run_mode_ == RunMode::Silent) return;  // "-i silent" cannot be overridden
    if (!PropertiesFileExists()) return;
    FILE* file = OpenStream(properties_path_, "r");
    if (!file) return;
    std::string line;
    while (ReadWholeLine(file, line)) {
        LowerAscii(line);
        if (line.compare(0, sizeof kInstallerUiKey - 1, kInstallerUiKey) == 0) {
            ApplyInstallerUiLine(line);
            break;
        }
    }
    std::fclose(file);
}

void Options::ApplyInstallerUiLine(const std::string& lower_line) {
    if (lower_line.find("silent") != std::string::npos) {
        run_mode_ = RunMode::Silent;
    } else if (lower_line.find("console") != std::string::npos) {
        run_mode_ = RunMode::Console;
    } else {
        run_mode_ = RunMode::Gui;
    }
}
