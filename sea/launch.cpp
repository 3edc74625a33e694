// Launcher choice, its command line and the launch.
#include "sea/launch.h"

#include <cstdio>
#include <vector>

#include "platform/directory.h"
#include "platform/directory_search.h"
#include "platform/module.h"
#include "platform/path.h"
#include "platform/process_start.h"
#include "resources/resource_ids.h"
#include "sea/dialog_state.h"
#include "sea/held_tree.h"
#include "sea/launcher_config.h"
#include "sea/log.h"
#include "sea/run_marker.h"
#include "sea/own_file.h"
#include "sea/run_state.h"

namespace {

// Cuts the line into words: each space ends a word, and the spaces after it
// are skipped, so a run of spaces separates like one and a leading space
// yields one empty word.
std::vector<std::wstring> CutIntoWords(const std::wstring& line) {
    std::vector<std::wstring> words;
    std::wstring rest = line + L" ";
    size_t pos = 0;
    while (rest.size() - pos > 1) {
        size_t space = rest.find(L' ', pos);
        if (space == std::wstring::npos) break;
        words.push_back(rest.substr(pos, space - pos));
        pos = rest.find_first_not_of(L' ', space);
        if (pos == std::wstring::npos) break;
    }
    return words;
}

bool IsHeapOption(const std::wstring& word) { return word == L"-jvmxmx" || word == L"-jvmxms"; }

// First executable in folder (with its separator) of the working directory.
bool FindExecutable(const ExtractContext& ctx, const std::wstring& folder, std::wstring& path) {
    std::wstring name;
    if (!FindFirstMatch(ctx.work_dir_path + folder + L"*.exe", name)) return false;
    path = ctx.work_dir_path + folder + name;
    return true;
}

std::wstring WithNativeSeparators(std::wstring path) {
    for (wchar_t& c : path) {
        if (IsPathSeparator(c)) c = kPathSeparator;
    }
    return path;
}

}  // namespace

void StripHeapOptions(std::wstring& command_line) {
    std::vector<std::wstring> words = CutIntoWords(command_line);
    for (size_t i = 0; i < words.size(); ++i) {
        if (!IsHeapOption(words[i])) continue;
        words[i].clear();
        if (i + 1 >= words.size()) break;
        words[++i].clear();
    }
    command_line.clear();
    for (const std::wstring& word : words) {
        if (word.empty()) continue;
        command_line += word;
        command_line += L' ';
    }
}

std::wstring BuildLaunchCommandLine(const std::wstring& launcher, const std::wstring& own_command_line) {
    size_t end;
    if (!own_command_line.empty() && own_command_line[0] == L'"') {
        end = own_command_line.find(L'"', 1);
    } else {
        end = own_command_line.find(L' ');
    }
    std::wstring rest = end == std::wstring::npos ? std::wstring() : own_command_line.substr(end + 1);
    return WithNativeSeparators(launcher) + L" " + rest;
}

std::wstring ChooseLauncher(ExtractContext& ctx) {
    std::wstring candidate = ctx.launcher;
    if (!FileExists(candidate)) {
        if (!FindExecutable(ctx, LauncherFolder64(), candidate)) {
            candidate = ctx.work_dir_path + LauncherFolder64();
        }
    }
    if (!FileExists(candidate)) {
        std::wstring found;
        bool any = FindExecutable(ctx, LauncherFolder32(), found);
        if (!any) {
            std::printf("Unable to locate 32 bit installer to execute\n");
            any = FindExecutable(ctx, LauncherFolder64(), found);
            if (!any) std::printf("Unable to locate 64 bit installer to execute\n");
        }
        if (any && FileExists(found)) candidate = found;
    }
    return candidate;
}

int LaunchInstaller(ExtractContext& ctx) { return LaunchInstallerWith(ctx, GetOwnCommandLine()); }

int LaunchInstallerWith(ExtractContext& ctx, const std::wstring& own_command_line) {
    std::wstring launcher = ChooseLauncher(ctx);
    // The launcher starts in the working directory or not at all.
    const bool entered = EnterWorkDir(ctx);
    g_run.process = ProcessInfo();

    std::wstring own = own_command_line;
    if (g_run.min_heap_given || g_run.max_heap_given) StripHeapOptions(own);
    std::wstring command_line = BuildLaunchCommandLine(launcher, own);

    // The extraction has ended: the launcher never sees the marker.
    UnmarkWorkDir(ctx);
    ReportWorkDirStep(L"unmarked");
    // What starts is the launcher of the held tree, held until it runs.
    HeldTreeEntry held;
    const bool in_tree = launcher.compare(0, ctx.work_dir_path.size(), ctx.work_dir_path) == 0 &&
                         held.Hold(ctx.work_dir, launcher.substr(ctx.work_dir_path.size()));
    if (entered && in_tree && StartProcess(WithNativeSeparators(launcher), command_line, g_run.process)) {
        g_run.launched = 1;
        WriteLog(L"Success. The extracted file execution has begun.");
        return 1;
    }
    ShowError(IDS_CANNOT_EXECUTE);
    RestoreStartingDir(ctx);
    RemoveWorkDir(ctx);
    WriteLog(L"*** FAILURE: Unable to execute the EXE program.");
    return 0;
}
