// The launcher configuration file (*.rux): its Java heap-size lines are
// rewritten when -jvmxms or -jvmxmx was given.
#pragma once

#include <cstdio>
#include <string>

// True when the path can be queried for its status (a file or a directory).
bool FileExists(const std::wstring& path);

// Rewrites the heap-size lines of the first "*.rux" file in the launcher
// folder of work_dir_path (which ends with a separator), with the heap
// options of the run state. Prints "Unable to locate the rux file" to
// standard output when there is none, logs "Unable to open .rux file" when
// it cannot be read; neither stops the driver.
void PatchHeapSizes(const std::wstring& work_dir_path);
// The same in a held working directory: the folder, the file and its
// replacement are found, read and written relative to their held parent,
// never through a link (a link there counts as a file that cannot be
// opened).
struct DirHandle;
void PatchHeapSizesIn(const DirHandle* work_dir);

// The heap options to put into the configuration text (8-bit, as written
// into the file).
struct HeapValues {
    bool initial_given = false;
    std::string initial;
    bool max_given = false;
    std::string max;
};

// The configuration text with the given heap lines replaced. A line is
// "#..." (comment), empty, or key "=" value with the key taken before the
// first "=" exactly (no trimming, no case folding). Lines end in CR LF
// afterwards; the last line counts whether or not it ends with a line end.
std::string PatchHeapText(const std::string& text, const HeapValues& heap);

// Writes bytes into a stream; false when not all of them were written.
using StreamWriter = bool (*)(FILE* stream, const std::string& bytes);
bool WriteAllBytes(FILE* stream, const std::string& bytes);

// Replaces the contents of `path` by `bytes` without ever leaving it
// half-written: the bytes go to a temporary file beside it, which then
// replaces it. On any failure the temporary file is removed and `path`
// keeps its old contents.
bool ReplaceFileContents(const std::wstring& path, const std::string& bytes,
                         StreamWriter writer = WriteAllBytes);
