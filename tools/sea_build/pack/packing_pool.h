// Compression on every core: worker threads compress the files of the tree
// ahead of the archive writer, each file on one thread with one
// single-threaded encoder, the largest first within the bound on bytes
// read ahead (pack_schedule.h), and the writer takes the results in its
// fixed order. A file's compressed bytes depend only on its contents and the
// compressor's settings, so the installer is the same whatever the number
// of threads or the order in which they finish.
//
// The writer meets the pool through PackedCompressor: the entry's
// compressor, of the real engine's class (the ZIP writer reads the method
// and the flag bits from it), whose Compress hands over what a worker made.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/engine.h"
#include "archive/storage.h"
#include "platform/file_identity.h"
#include "tools/sea_build/pack/pack_schedule.h"
#include "tools/sea_build/tree/entry_stamp.h"

// One file to compress: where it is, what the walk saw, and a compressor
// of its own.
struct PackJob {
    std::wstring path;  // as the writer opens it (relative to the current directory)
    FileFacts expected;
    std::unique_ptr<ALCompressor> compressor;
};

// A finished job: the compressed bytes, or a failure.
struct PackedFile {
    int32_t code = 0;             // < 0: the failure (detail: its text)
    std::wstring detail;
    uint32_t crc_register = 0;    // the input's CRC register after the last byte
    int32_t size = 0;             // bytes read
    std::vector<uint8_t> bytes;   // the compressed data
};

class PackingPool {
public:
    // Workers run ahead of the writer by at most ahead_bytes of input (the
    // job the writer waits for always runs).
    PackingPool(const StampRule& rule, int32_t buffer_size, int64_t ahead_bytes)
        : rule_(rule), buffer_size_(buffer_size), ahead_bytes_(ahead_bytes) {}
    ~PackingPool() { Stop(); }
    PackingPool(const PackingPool&) = delete;
    PackingPool& operator=(const PackingPool&) = delete;

    // Starts threads workers (at least 1) on jobs, taken in the schedule's
    // order; the paths are opened as they are, so the current directory must stay
    // until Stop.
    void Start(std::vector<PackJob> jobs, int threads);
    // Stops the workers after their current job and waits for them.
    void Stop();

    // Waits for job index and hands its result over (once per job, in any
    // order the writer likes; the writer takes them in job order).
    PackedFile Take(size_t index);

    // The number of worker threads: SEA_BUILD_THREADS when set to 1..64,
    // else one per processor; at most jobs, and on a 32-bit system at most
    // as many as 1 GiB holds encoders of encoder_bytes each.
    static int ThreadCount(size_t jobs, int64_t encoder_bytes);

private:
    void Work();
    PackedFile Run(PackJob& job) const;

    std::vector<PackJob> jobs_;
    std::vector<PackedFile> results_;
    std::vector<bool> done_;
    const StampRule rule_;
    const int32_t buffer_size_;
    const int64_t ahead_bytes_;
    std::mutex mutex_;
    std::condition_variable changed_;
    PackSchedule schedule_{{}};  // which job a worker starts next
    size_t next_taken_ = 0;     // the job the writer takes next
    int64_t running_ahead_ = 0; // input bytes of jobs started but not taken
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

// Replays a pool's result into the archive: Compress writes the bytes a
// worker made for job `index` and leaves the input as a Compress of Base
// would (read to its end, CRC register set), so the ZIP writer goes on as
// after a compression of its own (a member that came out no smaller is
// stored from the file, as always).
int32_t ReplayPacked(PackingPool& pool, size_t index, ALStatusBlock& status, ALStorage& input,
                     ALStorage& output);

template <class Base>
class PackedCompressor : public Base {
public:
    template <class... Settings>
    PackedCompressor(PackingPool& pool, size_t index, Settings... settings)
        : Base(settings...), pool_(pool), index_(index) {}
    int32_t Compress(ALStorage& input, ALStorage& output) override {
        return ReplayPacked(pool_, index_, this->status, input, output);
    }

private:
    PackingPool& pool_;
    size_t index_;
};
