// The progress bar sea-build draws on a terminal, and the two monitors that
// feed it: one counts the bytes read from the files being packed, the other
// follows an archive being checked.
#pragma once

#include <cstdint>
#include <string>

#include "archive/monitor.h"

class ProgressBar {
public:
    // A disabled bar draws nothing (output is not a terminal, or --quiet).
    explicit ProgressBar(bool enabled) : enabled_(enabled) {}
    ~ProgressBar() { Finish(); }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Redraws the line when the whole percentage changed.
    void Show(const wchar_t* label, int64_t done, int64_t total);
    // Ends the bar's line, when one was drawn.
    void Finish();

private:
    bool enabled_;
    bool drawn_ = false;
    int last_percent_ = -1;
};

// Counts the bytes of the input storages it is attached to as the archive
// writer reaches them: a file compressed by a worker thread counts whole
// once the writer has written it, a copied one as it is read (a file stored
// after a compression that did not pay is counted once more; the bar stops
// at 100%).
class BuildMonitor : public ALMonitor {
public:
    BuildMonitor(ProgressBar& bar, int64_t total_bytes)
        : ALMonitor(AL_MONITOR_JOB), bar_(bar), total_(total_bytes) {}

    void UpdateProgress(int32_t position, ALStorage& storage) override;

private:
    ProgressBar& bar_;
    int64_t total_;
    int64_t finished_ = 0;        // bytes of the storages done before
    const ALStorage* current_ = nullptr;
    int32_t current_position_ = 0;
};

// A job-level monitor of an archive being extracted (or checked).
class CheckMonitor : public ALMonitor {
public:
    explicit CheckMonitor(ProgressBar& bar) : ALMonitor(AL_MONITOR_JOB), bar_(bar) {}

    void UpdateProgress(int32_t position, ALStorage& storage) override;

private:
    ProgressBar& bar_;
};
