// The installer's file on disk: written under a temporary name beside the
// output and moved over the output only when it is complete (and signed),
// so that a failed build leaves no file behind, and an installer that was
// already at that name stays as it was. The temporary files are
// registered with platform/interrupt.h: an interrupted build removes them
// too, and once the output is in place an interrupt says so.
#pragma once

#include <string>
#include <vector>

class OutputFile {
public:
    explicit OutputFile(const std::wstring& output) : output_(output) {}
    // Removes every temporary file that was not committed.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates a new empty file "<output>.~N.tmp" (N from 0 to 999, the
    // first name not taken) and sets path to it. False with a reason in
    // error when none can be created.
    bool NewTemporary(std::wstring& path, std::wstring& error);
    // Moves the temporary file path over the output. False with a reason in
    // error when the output cannot be replaced (path is then removed with
    // the others).
    bool Commit(const std::wstring& path, std::wstring& error);

    // The temporary files of output that exist now (such as ones left
    // behind by a build that was killed), by their paths.
    static std::vector<std::wstring> ExistingTemporaries(const std::wstring& output);

private:
    const std::wstring output_;
    std::vector<std::wstring> temporaries_;
};
