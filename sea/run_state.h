// The process-wide run state through which the entry function, the progress
// dialog and the extraction driver talk to each other. Zero at start; each
// value has one writer (named beside it).
#pragma once

#include <string>
#include <vector>

#include "platform/own_image.h"
#include "platform/process.h"

struct RunState {
    // The user asked to stop (dialog: OK/Cancel). Tested by the driver.
    volatile int ExitInEffect = 0;
    // Module instance (entry function in GUI mode; dialog at initialisation).
    void* instance = nullptr;
    // The progress dialog; null in the silent and console run modes.
    void* dialog = nullptr;
    // A launcher process exists and must be waited for (launch step).
    int launched = 0;
    ProcessInfo process;
    // Full path of the last working directory created (driver); empty if none.
    std::wstring work_dir_path;
    // Full paths of every working directory this run created (driver): a
    // later attempt's scavenging leaves them alone.
    std::vector<std::wstring> own_work_dirs;
    // Folder picked with Choose... (dialog); at most 260 characters.
    std::wstring chosen_folder;
    // Heap options copied from the command line (entry function).
    bool min_heap_given = false;
    std::wstring min_heap;
    bool max_heap_given = false;
    std::wstring max_heap;
    // The program's own file, held from start-up to the launch (entry
    // function): every read of the own file goes through it.
    OwnImage own_image;
    // The program's path as taken for that (entry function).
    std::wstring own_path;
    // Logging (entry function): switch, directory (256 chars), hold flag.
    bool logging = false;
    std::wstring log_directory;
    bool hold = false;
};

extern RunState g_run;
