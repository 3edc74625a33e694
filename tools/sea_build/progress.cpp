#include "tools/sea_build/progress.h"

#include "platform/console.h"
#include "platform/format.h"

namespace {

constexpr int kBarWidth = 30;

}  // namespace

void ProgressBar::Show(const wchar_t* label, int64_t done, int64_t total) {
    if (!enabled_ || total <= 0) return;
    if (done > total) done = total;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == last_percent_) return;
    last_percent_ = percent;
    const int filled = percent * kBarWidth / 100;
    std::wstring line = L"\r" + std::wstring(label) + L" [";
    line += std::wstring(static_cast<size_t>(filled), L'#');
    line += std::wstring(static_cast<size_t>(kBarWidth - filled), L'.');
    wchar_t tail[64];
    FormatBounded(tail, 64, L"] %3d%%  %ld MB", static_cast<int32_t>(percent),
                  static_cast<int32_t>(total >> 20));
    WriteConsoleText(ConsoleStream::Output, line + tail);
    drawn_ = true;
}

void ProgressBar::Finish() {
    if (!drawn_) return;
    WriteConsoleText(ConsoleStream::Output, L"\n");
    drawn_ = false;
    last_percent_ = -1;
}

void BuildMonitor::UpdateProgress(int32_t position, ALStorage& storage) {
    if (&storage != current_) {
        finished_ += current_position_;
        current_ = &storage;
        current_position_ = 0;
    }
    // A storage read again from its start (stored after all) counts anew.
    if (position < current_position_) finished_ += current_position_;
    current_position_ = position;
    bar_.Show(L"Packing ", finished_ + position, total_);
}

void CheckMonitor::UpdateProgress(int32_t position, ALStorage& storage) {
    ALMonitor::UpdateProgress(position, storage);
    if (ratio >= 0) bar_.Show(L"Testing ", ratio, 100);
}
