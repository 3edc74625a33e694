// Progress monitors: the archive library's channel to the outside world
// while an archive operation runs. Operations send events and text
// messages; storages report their position whenever they move a buffer
// (ALStorage::ReportProgress). A monitor turns positions into percentages of
// the current object (one archive member) or of the whole job.
//
// Virtual slots, in order:
//   0 destructor
//   1 UpdateProgress(position, storage)
//   2 NotifyOperation(event, archive, entry)
//   3 ShowMessage(message number, format, arguments...)
//
// A monitor owns nothing and cannot stop an operation.
#pragma once

#include <cstdint>

class ALArchive;
class ALEntry;
class ALStorage;

// Event and message numbers of NotifyOperation and ShowMessage.
enum ALMonitorEvent : int32_t {
    ExtractBegin = 0,          // Extract, before the first entry (archive)
    ExtractEnd = 1,            // Extract, after the last entry (archive)
    EntryExtractBegin = 2,     // Extract, before each marked entry (archive, entry)
    EntryExtractEnd = 3,       // Extract, after each marked entry (archive, entry)
    DirectoryReadBegin = 10,   // ReadDirectory, at its start (archive)
    DirectoryReadEnd = 11,     // ReadDirectory, after the walk (archive)
    DirectoryEntryText = 12,   // "Directory entry: %s"
    WildcardMatchText = 13,    // "Wild card match: %s"
    SortBeginText = 14,        // "Sorting entries"
    SortEndText = 15,          // "Done sorting entries"
    SortProgressText = 16,     // "Sorting is %s complete"
};

// The mode and flags argument of the ALMonitor constructor: the low byte is
// the mode, any of bits 8-15 switches text messages on.
constexpr int32_t AL_MONITOR_OBJECT = 0;
constexpr int32_t AL_MONITOR_JOB = 1;
constexpr int32_t AL_MONITOR_TEXT_MESSAGES = 0x0100;

// The front end's progress function: (text or null, object ratio, job
// ratio); ratios are percentages or -1. Its result is not used.
using ALMonitorCallback = int (*)(const wchar_t* text, int32_t object_ratio, int32_t job_ratio);

class ALMonitor {
public:
    // Bit 0 of the flag word.
    static constexpr int32_t kTextMessages = 0x0001;

    explicit ALMonitor(int32_t mode_and_flags);
    virtual ~ALMonitor() = default;

    // bytes done = position - object start (plus job done for a job-level
    // monitor); ratio = its percentage of the object size (taken from the
    // storage when it is -1) or of the job total.
    virtual void UpdateProgress(int32_t position, ALStorage& storage);
    virtual void NotifyOperation(ALMonitorEvent event, ALArchive* archive, ALEntry* entry);
    virtual void ShowMessage(int32_t message_number, const wchar_t* format, ...);

    bool IsJobLevel() const { return mode == AL_MONITOR_JOB; }
    bool SendsTextMessages() const { return (flags & kTextMessages) != 0; }

    // done as a percentage of total, truncated: -1 when total is 0;
    // done * 100 / total below 1000000; done / (total / 100) from there on,
    // so that the product never overflows 32 bits.
    static int32_t Percentage(uint32_t done, uint32_t total);

    uint32_t job_total = 0;
    uint32_t job_done = 0;
    int32_t object_size = -1;   // -1: taken from the storage at the next report
    int32_t object_start = 0;
    int32_t bytes_done = 0;
    int32_t ratio = 0;
    int32_t flags = 0;
    int32_t mode = AL_MONITOR_OBJECT;
};

// Forwards everything to one callback: a job-level monitor without text
// messages.
class ALSimpleMonitor : public ALMonitor {
public:
    explicit ALSimpleMonitor(ALMonitorCallback callback);

    // The base computation, then callback(null, object ratio, ratio).
    void UpdateProgress(int32_t position, ALStorage& storage) override;
    // EntryExtractBegin (and the unused events 4 and 6): callback(the entry
    // storage's name, -1, -1).
    void NotifyOperation(ALMonitorEvent event, ALArchive* archive, ALEntry* entry) override;
    // With text messages on: the message of the table above, its "%s"
    // filled with the formatted arguments, passed as callback(text, -1, -1).
    // Both texts are cut at 256 characters.
    void ShowMessage(int32_t message_number, const wchar_t* format, ...) override;

    ALMonitorCallback callback;
};

// The process-wide monitor of entry lists created without one: object
// level, no text messages.
ALMonitor& DefaultMonitor();
