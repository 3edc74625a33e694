// The self-extractor's own options: the run mode, the two Java heap sizes
// and a replacement temporary directory, taken from the argument string and
// from an optional properties file beside the executable.
#pragma once

#include <string>
#include <vector>

enum class RunMode : int {
    Silent = 0,
    Gui = 1,
    Console = 2,
};

// Splits an argument string into tokens. Only the space character
// separates (a tab is part of a token); a double quote opens a quoted part
// that may hold spaces and is closed by the next double quote, which also
// ends the token, so "" yields an empty token and text right before an
// opening quote joins the quoted text. Quote characters are dropped.
std::vector<std::wstring> SplitArguments(const std::wstring& arguments);

// Built once by the entry function; construction never fails, every problem
// only leaves defaults in place. Option words and values are case-sensitive,
// each is its own token, and a later occurrence overwrites an earlier one.
class Options {
public:
    // The argument string is the command line without the program's name;
    // the properties file is looked for beside the running executable.
    explicit Options(const std::wstring& arguments);
    // Same, with the executable's path given (tests, tools).
    Options(const std::wstring& arguments, const std::wstring& executable_path);

    RunMode GetRunMode() const { return run_mode_; }
    bool MinHeapGiven() const { return min_heap_given_; }
    const std::wstring& MinHeap() const { return min_heap_; }
    bool MaxHeapGiven() const { return max_heap_given_; }
    const std::wstring& MaxHeap() const { return max_heap_; }
    // True only for an existing directory whose text does not begin with an
    // apostrophe; the text is kept either way.
    bool TempDirAccepted() const { return temp_dir_accepted_; }
    const std::wstring& TempDir() const { return temp_dir_; }
    const std::wstring& PropertiesPath() const { return properties_path_; }
    // True when the attributes of the properties-file path can be read.
    bool PropertiesFileExists() const;

private:
    // "installer.properties" beside the executable, or, when nothing exists
    // there, "<executable name>.properties" beside it.
    void LocatePropertiesFile(const std::wstring& executable_path);
    // Applies "-i", "-f", "-jvmxms", "-jvmxmx" and "-tempdir"; an option
    // without a following value token ends the parsing.
    void ParseCommandLine(const std::wstring& arguments);
    // The first line starting with "installer_ui" (lower-cased) sets the run
    // mode, unless "-i silent" was given. Lines may be of any length.
    void ReadPropertiesFile();

    // Applies "-f", "-jvmxms", "-jvmxmx" or "-tempdir" with its value.
    void ApplyValueOption(const std::wstring& word, const std::wstring& value);
    void SetTempDir(const std::wstring& value);
    void ApplyInstallerUiLine(const std::string& lower_line);

    RunMode run_mode_ = RunMode::Gui;
    std::wstring properties_path_;
    bool min_heap_given_ = false;
    std::wstring min_heap_;
    bool max_heap_given_ = false;
    std::wstring max_heap_;
    bool temp_dir_accepted_ = false;
    std::wstring temp_dir_;
};
