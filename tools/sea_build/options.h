// The command line of sea-build.
#pragma once

#include <string>
#include <vector>

enum class BuildAction { Build, List, Test, Help };

struct BuildOptions {
    BuildAction action = BuildAction::Build;
    std::wstring source_dir;     // Build: the tree to pack
    std::wstring output;         // Build: the installer to write
    std::wstring installer;      // List, Test: the installer to read
    std::wstring stub;           // empty: sea.exe beside this program
    std::wstring launcher;       // empty: "Windows\" + the output's file name
    int level = 6;               // 0 stores every file
    bool allow_pe32plus = false; // accept a 64-bit (test) stub
    std::wstring certificate;    // both set: sign the result
    std::wstring key;
    bool quiet = false;          // no progress bar, no summary
    std::wstring icon;           // --icon: the installer's application icon
    std::vector<std::wstring> version_info;  // --version-info KEY=VALUE, as given
};

// Parses the arguments after the program name. False with a one-line
// message in error when they make no sense.
bool ParseBuildOptions(const std::vector<std::wstring>& arguments, BuildOptions& options,
                       std::wstring& error);

// The usage text of --help.
const wchar_t* UsageText();
