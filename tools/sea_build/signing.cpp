#include "tools/sea_build/signing.h"

#include <cstring>
#include <vector>

#include "archive/file.h"
#include "platform/environment.h"
#include "platform/file_attributes.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/process_start.h"
#include "tools/sea_build/payload.h"

namespace {

std::wstring Quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
    return L"\"" + argument + L"\"";
}

// The first file named name in the directories of PATH; empty when none.
std::wstring FindOnPath(const std::wstring& name) {
    std::wstring path;
    if (!GetEnvVar(L"PATH", 32768, path)) return std::wstring();
    const wchar_t list_separator = kPathSeparator == L'\\' ? L';' : L':';
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(list_separator, start);
        if (end == std::wstring::npos) end = path.size();
        const std::wstring directory = path.substr(start, end - start);
        if (!directory.empty()) {
            const std::wstring candidate = WithTrailingSeparator(directory) + name;
            if (PathExists(candidate) && !IsDirectoryPath(candidate)) return candidate;
        }
        start = end + 1;
    }
    return std::wstring();
}

}  // namespace

bool SignWithOsslsigncode(const std::wstring& certificate, const std::wstring& key,
                          const std::wstring& in_path, const std::wstring& out_path,
                          const SigningTime& time, std::wstring& error) {
    const std::wstring name = kPathSeparator == L'\\' ? L"osslsigncode.exe" : L"osslsigncode";
    const std::wstring program = FindOnPath(name);
    if (program.empty()) {
        error = L"osslsigncode was not found on PATH (apt-get install osslsigncode)";
        return false;
    }
    const std::wstring command = Quoted(program) + L" sign -certs " + Quoted(certificate) +
                                 L" -key " + Quoted(key) +
                                 (time.fixed ? L" -time " + std::to_wstring(time.seconds) : L"") +
                                 L" -in " + Quoted(in_path) +
                                 L" -out " + Quoted(out_path);
    ProcessInfo process;
    if (!StartProcess(program, command, process)) {
        error = L"cannot start " + program;
        return false;
    }
    WaitForProcess(process);
    int32_t code = -1;
    const bool have_code = GetProcessExitCode(process, code);
    CloseThreadHandle(process);
    CloseProcessHandle(process);
    if (!have_code || code != 0) {
        error = L"osslsigncode failed (exit code " + std::to_wstring(code) + L")";
        return false;
    }
    return true;
}

bool CheckFinishedInstaller(const std::wstring& path, int64_t end_record_offset,
                            std::wstring& error) {
    ALFile file(path.c_str());
    uint8_t signature[4] = {0, 0, 0, 0};
    if (file.Open() < 0 || file.Seek(static_cast<int32_t>(end_record_offset)) < 0 ||
        file.ReadBuffer(signature, 4) != 4) {
        error = path + L": " + file.status.GetStatusDetail();
        return false;
    }
    const int64_t size = static_cast<uint32_t>(file.GetSize());
    file.Close();
    if (size >= kInstallerSizeLimit) {
        error = L"the installer would be 2 GiB or larger (" + std::to_wstring(size) + L" bytes)";
        return false;
    }
    if (memcmp(signature, "PK\x05\x06", 4) != 0) {
        error = L"the ZIP end record is no longer where it was written";
        return false;
    }
    if (size - end_record_offset > kEndRecordWindow) {
        error = L"the ZIP end record lies " + std::to_wstring(size - end_record_offset) +
                L" bytes before the end of the file; the stub searches only the last 66000";
        return false;
    }
    return true;
}
