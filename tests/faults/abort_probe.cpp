// The program with a test probe: the same entry point and front end as the
// shipped program, plus a static initializer that, when the environment
// variable SEA_TEST_ABORT_AT holds a number N, raises the abort flag
// (ExitInEffect) just before the driver's Nth abort test, as a Cancel click
// would. When SEA_TEST_SNAPSHOT names a file, the probe also writes into it,
// just before the entry function removes the working directory after the
// abort, the current directory and what the working directory then holds.
// Used only by the fault tests; the shipped program has no probe.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "platform/directory.h"
#include "platform/environment.h"
#include "platform/text.h"
#include "sea/extract_context.h"
#include "sea/run_state.h"

namespace {

namespace fs = std::filesystem;

int g_abort_at = 0;
int g_abort_tests = 0;
std::wstring g_snapshot;

void CountAbortTest() {
    if (++g_abort_tests == g_abort_at) g_run.ExitInEffect = 1;
}

// Line 1: "cwd=" and the current directory. Then "tree=missing", or one
// line per entry below the working directory ("/"-separated, sorted), with
// a file's bytes after " = " when they are short.
void WriteSnapshot() {
    std::string text;
    std::wstring current;
    GetCurrentDir(current);
    text += "cwd=" + WideToUtf8(current) + "\n";
    const fs::path root(g_run.work_dir_path);
    std::error_code error;
    if (!fs::is_directory(root, error)) {
        text += "tree=missing\n";
    } else {
        std::vector<std::string> lines;
        for (const auto& item : fs::recursive_directory_iterator(root, error)) {
            std::string line = item.path().lexically_relative(root).generic_u8string();
            if (item.is_regular_file(error) && item.file_size(error) < 200) {
                std::ifstream in(item.path(), std::ios::binary);
                std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
                line += " = " + bytes.substr(0, bytes.find_first_of("\r\n"));
            }
            lines.push_back(line);
        }
        std::sort(lines.begin(), lines.end());
        for (const std::string& line : lines) text += line + "\n";
    }
    std::ofstream out(fs::path(g_snapshot), std::ios::binary | std::ios::trunc);
    out << text;
}

struct InstallProbe {
    InstallProbe() {
        std::wstring value;
        if (!GetEnvVar(L"SEA_TEST_ABORT_AT", 32, value)) return;
        g_abort_at = static_cast<int>(std::wcstol(value.c_str(), nullptr, 10));
        if (g_abort_at > 0) g_abort_test_probe = CountAbortTest;
        if (GetEnvVar(L"SEA_TEST_SNAPSHOT", 4096, g_snapshot) && !g_snapshot.empty()) {
            g_abort_cleanup_probe = WriteSnapshot;
        }
    }
};
InstallProbe install_probe;

}  // namespace
