// Which file a free worker compresses next. The file the archive writer
// waits for comes first; otherwise the largest file that the bound on bytes
// read ahead of the writer still holds, so that the big files of a tree
// start early instead of leaving one worker busy alone at the end. The
// writer still takes the results in archive order, so the order in which
// the files are compressed never shows in the installer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

class PackSchedule {
public:
    static constexpr size_t kNone = static_cast<size_t>(-1);
    // How many of the largest waiting files are looked at for one that fits.
    static constexpr size_t kLargestLooked = 64;

    explicit PackSchedule(std::vector<int64_t> sizes) : sizes_(std::move(sizes)), started_(sizes_.size()) {
        by_size_.resize(sizes_.size());
        for (size_t i = 0; i < by_size_.size(); ++i) by_size_[i] = i;
        std::stable_sort(by_size_.begin(), by_size_.end(),
                         [&](size_t a, size_t b) { return sizes_[a] > sizes_[b]; });
    }

    // The job to start now (kNone: none may), given the job the writer
    // takes next and the input bytes of the jobs started and not yet taken.
    size_t Next(size_t next_taken, int64_t running_ahead, int64_t ahead_bytes) {
        if (AllStarted()) return kNone;
        while (largest_ < by_size_.size() && started_[by_size_[largest_]]) ++largest_;
        if (first_waiting_ <= next_taken) return first_waiting_;
        auto fits = [&](size_t job) { return running_ahead + sizes_[job] <= ahead_bytes; };
        size_t looked = 0;
        for (size_t k = largest_; k < by_size_.size() && looked < kLargestLooked; ++k) {
            const size_t job = by_size_[k];
            if (started_[job]) continue;
            if (fits(job)) return job;
            ++looked;
        }
        return fits(first_waiting_) ? first_waiting_ : kNone;
    }

    void Start(size_t job) { started_[job] = true; }
    int64_t Size(size_t job) const { return sizes_[job]; }
    bool AllStarted() {
        while (first_waiting_ < sizes_.size() && started_[first_waiting_]) ++first_waiting_;
        return first_waiting_ >= sizes_.size();
    }

private:
    std::vector<int64_t> sizes_;
    std::vector<bool> started_;
    std::vector<size_t> by_size_;  // job indexes, largest first (ties in job order)
    size_t first_waiting_ = 0;     // no job before it waits
    size_t largest_ = 0;           // no job before it in by_size_ waits
};
