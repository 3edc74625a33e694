// The program with test probes: the same entry point and front end as the
// shipped program, plus a static initializer that installs them from the
// environment. Used only by the fault tests; the shipped program has none.
//
//   SEA_TEST_ABORT_AT=N   raises the abort flag (ExitInEffect) just before
//                         the driver's Nth abort test, as a Cancel click would.
//   SEA_TEST_PAUSE_AT=S   pauses the run at step S: "abort-N" (just before
//                         the Nth abort test) or a step of the working
//                         directory's life ("made", "created", "marked", "unmarked",
//                         "scavenging"; sea/run_marker.h), a step of the
//                         hold on the program's own file ("own-path": its
//                         path is known, nothing is open; "own-held": it is
//                         open and checked; sea/own_file.h), or "descent:NAME"
//                         (a tree removal has listed a directory named NAME
//                         and is about to enter it), or "entry:NAME" (the
//                         extraction is about to make the entry whose last
//                         name component is NAME). The probe writes
//                         S into SEA_TEST_PAUSE_DIR/paused and waits until
//                         SEA_TEST_PAUSE_DIR/resume exists (two minutes at
//                         most), so that a test can act while the run stands
//                         still, or kill it there.
//   SEA_TEST_SNAPSHOT=F   with SEA_TEST_ABORT_AT: just before the entry
//                         function removes the working directory after the
//                         abort, writes into F the current directory and
//                         what the working directory then holds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <system_error>
#include <vector>

#include "platform/directory.h"
#include "platform/environment.h"
#include "platform/file_attributes.h"
#include "platform/file_stream.h"
#include "platform/path.h"
#include "platform/text.h"
#include "sea/extract_context.h"
#include "sea/own_file.h"
#include "sea/held_tree.h"
#include "sea/run_marker.h"
#include "sea/run_state.h"
#include "sea/tree_removal.h"

namespace {

namespace fs = std::filesystem;

int g_abort_at = 0;
int g_abort_tests = 0;
std::wstring g_pause_at;
std::wstring g_pause_dir;

void PauseIfAt(const std::wstring& step) {
    if (g_pause_at.empty() || step != g_pause_at) return;
    const std::wstring dir = WithTrailingSeparator(g_pause_dir);
    if (FILE* f = OpenStream(dir + L"paused", "wb")) {
        std::string text(step.begin(), step.end());
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    for (int i = 0; i < 12000 && !PathExists(dir + L"resume"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}
std::wstring g_snapshot;

void CountAbortTest() {
    ++g_abort_tests;
    PauseIfAt(L"abort-" + std::to_wstring(g_abort_tests));
    if (g_abort_tests == g_abort_at) g_run.ExitInEffect = 1;
}

void OnWorkDirStep(const wchar_t* step) { PauseIfAt(step); }

void OnOwnFileStep(OwnFileStep step) {
    PauseIfAt(step == OwnFileStep::kPathTaken ? L"own-path" : L"own-held");
}

std::wstring LastComponent(const std::wstring& path) {
    size_t sep = path.find_last_of(L"\\/");
    return sep == std::wstring::npos ? path : path.substr(sep + 1);
}

void OnTreeDescent(const std::wstring& path) { PauseIfAt(L"descent:" + LastComponent(path)); }

void OnTreeEntry(const wchar_t* name) { PauseIfAt(L"entry:" + LastComponent(name)); }

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
        if (GetEnvVar(L"SEA_TEST_ABORT_AT", 32, value)) {
            g_abort_at = static_cast<int>(std::wcstol(value.c_str(), nullptr, 10));
        }
        if (GetEnvVar(L"SEA_TEST_PAUSE_AT", 32, g_pause_at) &&
            GetEnvVar(L"SEA_TEST_PAUSE_DIR", 4096, g_pause_dir)) {
            g_work_dir_step_probe = OnWorkDirStep;
            g_tree_descent_probe = OnTreeDescent;
            g_own_file_probe = OnOwnFileStep;
            g_tree_entry_probe = OnTreeEntry;
        } else {
            g_pause_at.clear();
        }
        if (g_abort_at > 0 || !g_pause_at.empty()) g_abort_test_probe = CountAbortTest;
        if (g_abort_at > 0 && GetEnvVar(L"SEA_TEST_SNAPSHOT", 4096, g_snapshot) &&
            !g_snapshot.empty()) {
            g_abort_cleanup_probe = WriteSnapshot;
        }
    }
};
InstallProbe install_probe;

}  // namespace
