#include "archive/monitor.h"

#include <cstdarg>

#include "archive/entry.h"
#include "archive/storage.h"
#include "platform/format.h"

namespace {

// Longest text a monitor message carries, without the terminator.
constexpr size_t kMessageLength = 256;

const wchar_t* MessagePattern(int32_t message_number) {
    switch (message_number) {
        case DirectoryEntryText: return L"Directory entry: %s";
        case WildcardMatchText: return L"Wild card match: %s";
        case SortBeginText: return L"Sorting entries";
        case SortEndText: return L"Done sorting entries";
        case SortProgressText: return L"Sorting is %s complete";
        default: return L"Bad monitor message type!!!";
    }
}

}  // namespace

ALMonitor::ALMonitor(int32_t mode_and_flags)
    : flags((mode_and_flags & 0xFF00) ? kTextMessages : 0), mode(mode_and_flags & 0xFF) {}

int32_t ALMonitor::Percentage(uint32_t done, uint32_t total) {
    if (total == 0) return -1;
    if (total < 1000000u) return static_cast<int32_t>(done * 100u / total);
    return static_cast<int32_t>(done / (total / 100u));
}

void ALMonitor::UpdateProgress(int32_t position, ALStorage& storage) {
    bytes_done = static_cast<int32_t>(static_cast<uint32_t>(position) -
                                      static_cast<uint32_t>(object_start));
    if (object_size == -1) object_size = storage.GetSize();
    if (IsJobLevel()) {
        bytes_done = static_cast<int32_t>(static_cast<uint32_t>(bytes_done) + job_done);
        ratio = Percentage(static_cast<uint32_t>(bytes_done), job_total);
    } else {
        ratio = Percentage(static_cast<uint32_t>(bytes_done), static_cast<uint32_t>(object_size));
    }
}

void ALMonitor::NotifyOperation(ALMonitorEvent, ALArchive*, ALEntry*) {}

void ALMonitor::ShowMessage(int32_t, const wchar_t*, ...) {}

ALSimpleMonitor::ALSimpleMonitor(ALMonitorCallback callback)
    : ALMonitor(AL_MONITOR_JOB), callback(callback) {}

void ALSimpleMonitor::UpdateProgress(int32_t position, ALStorage& storage) {
    ALMonitor::UpdateProgress(position, storage);
    const int32_t object_ratio =
        Percentage(static_cast<uint32_t>(position) - static_cast<uint32_t>(object_start),
                   static_cast<uint32_t>(object_size));
    if (callback) callback(nullptr, object_ratio, ratio);
}

void ALSimpleMonitor::NotifyOperation(ALMonitorEvent event, ALArchive*, ALEntry* entry) {
    if (event != 2 && event != 4 && event != 6) return;
    if (!callback || !entry || !entry->storage) return;
    callback(entry->storage->GetName(), -1, -1);
}

void ALSimpleMonitor::ShowMessage(int32_t message_number, const wchar_t* format, ...) {
    if (!SendsTextMessages()) return;
    wchar_t first[kMessageLength + 1];
    va_list args;
    va_start(args, format);
    FormatBoundedV(first, kMessageLength + 1, format ? format : L"", args);
    va_end(args);
    // The formatted text is an argument of the pattern, never a format.
    wchar_t message[kMessageLength + 1];
    FormatBounded(message, kMessageLength + 1, MessagePattern(message_number), first);
    if (callback) callback(message, -1, -1);
}

ALMonitor& DefaultMonitor() {
    static ALMonitor monitor(AL_MONITOR_OBJECT);
    return monitor;
}
