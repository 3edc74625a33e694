#include "tools/sea_build/pack/packing_pool.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>
#include <utility>

#include "platform/environment.h"
#include "tools/sea_build/pack/memory_output.h"

void PackingPool::Start(std::vector<PackJob> jobs, int threads) {
    jobs_ = std::move(jobs);
    results_.assign(jobs_.size(), PackedFile());
    done_.assign(jobs_.size(), false);
    std::vector<int64_t> sizes;
    for (const PackJob& job : jobs_) sizes.push_back(job.expected.size);
    schedule_ = PackSchedule(std::move(sizes));
    const int count = std::max(1, std::min<int>(threads, static_cast<int>(jobs_.size())));
    if (jobs_.empty()) return;
    // A thread the system refuses is one worker fewer; with none at all
    // the writer compresses each file itself when it takes it.
    for (int i = 0; i < count; ++i) {
        try {
            workers_.emplace_back(&PackingPool::Work, this);
        } catch (const std::system_error&) {
            break;
        }
    }
}

void PackingPool::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& worker : workers_) worker.join();
    workers_.clear();
}

PackedFile PackingPool::Take(size_t index) {
    if (workers_.empty()) return Run(jobs_[index]);
    std::unique_lock<std::mutex> lock(mutex_);
    next_taken_ = index;
    changed_.notify_all();  // the job the writer waits for may start now
    changed_.wait(lock, [&] { return done_[index]; });
    running_ahead_ -= jobs_[index].expected.size;
    next_taken_ = index + 1;
    changed_.notify_all();
    return std::move(results_[index]);
}

void PackingPool::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        // A job starts when it is the writer's next one or the jobs
        // already running ahead leave room for it.
        size_t index = PackSchedule::kNone;
        changed_.wait(lock, [&] {
            if (stopping_ || schedule_.AllStarted()) return true;
            index = schedule_.Next(next_taken_, running_ahead_, ahead_bytes_);
            return index != PackSchedule::kNone;
        });
        if (stopping_ || index == PackSchedule::kNone) return;
        schedule_.Start(index);
        running_ahead_ += jobs_[index].expected.size;
        lock.unlock();
        PackedFile result = Run(jobs_[index]);
        jobs_[index].compressor.reset();
        lock.lock();
        results_[index] = std::move(result);
        done_[index] = true;
        changed_.notify_all();
    }
}

PackedFile PackingPool::Run(PackJob& job) const {
    PackedFile result;
    SourceFile input(job.path.c_str(), buffer_size_, rule_, job.expected);
    MemoryOutput output(job.path.c_str(), buffer_size_);
    ALCompressor& engine = *job.compressor;
    // Opened here, as the archive writer does, so that a failure to open
    // reads as it would there.
    if (input.Open() < 0 || engine.Compress(input, output) < 0) {
        const ALStatusBlock& failed = input.status.GetStatusCode() < 0 ? input.status : engine.status;
        result.code = failed.GetStatusCode();
        result.detail = failed.GetStatusDetail();
        return result;
    }
    result.crc_register = input.GetCrc32();
    result.size = input.Tell();
    input.Close();
    result.bytes = output.TakeBytes();
    return result;
}

int PackingPool::ThreadCount(size_t jobs, int64_t encoder_bytes) {
    int threads = static_cast<int>(std::thread::hardware_concurrency());
    std::wstring wanted;
    if (GetEnvVar(L"SEA_BUILD_THREADS", 16, wanted)) {
        const long n = std::wcstol(wanted.c_str(), nullptr, 10);
        if (n >= 1 && n <= 64) threads = static_cast<int>(n);
    }
    if (sizeof(void*) == 4 && encoder_bytes > 0) {
        threads = std::min<int64_t>(threads, std::max<int64_t>(1, (int64_t{1} << 30) / encoder_bytes));
    }
    return std::max(1, std::min<int>(threads, static_cast<int>(std::max<size_t>(jobs, 1))));
}

int32_t ReplayPacked(PackingPool& pool, size_t index, ALStatusBlock& status, ALStorage& input,
                     ALStorage& output) {
    const PackedFile packed = pool.Take(index);
    if (packed.code < 0) return status.SetError(packed.code, L"%s", packed.detail.c_str());
    if (input.status.GetStatusCode() < 0) return status.SetStatusFrom(input.status).GetStatusCode();
    output.WriteBuffer(packed.bytes.data(), static_cast<int32_t>(packed.bytes.size()));
    // The input as the compressor left it in the worker: read to its end,
    // its CRC register holding the CRC of every byte.
    input.Seek(packed.size);
    input.StartCrc32(packed.crc_register);
    input.ReportProgress();
    if (input.status.GetStatusCode() < 0) return status.SetStatusFrom(input.status).GetStatusCode();
    if (output.status.GetStatusCode() < 0) return status.SetStatusFrom(output.status).GetStatusCode();
    return status.GetStatusCode();
}
