// Storage throughput: a 256 MiB file copied through ALFile buffers with the
// running CRC on, against a plain 4096-byte read(2)/write(2) loop with
// zlib's crc32, and a byte-wise ReadChar/WriteChar copy.
//
// Files live on tmpfs (/dev/shm when present) so that the figures measure
// the library, not a disk. Each figure is the time for the whole 256 MiB
// (268.4 MB): MB/s = 268.4 / seconds. Run: build/<dir>/bin/storage_bench
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/file.h"
#include "platform/text.h"

namespace {

constexpr int64_t kFileSize = int64_t(256) << 20;
constexpr size_t kBlock = 4096;

std::string g_input;
std::string g_output;

std::wstring Wide(const std::string& path) { return Utf8ToWide(path); }

bool MakeInputFile() {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    const std::string prefix = std::string(dir) + "/al_storage_bench_" + std::to_string(getpid());
    g_input = prefix + "_in.bin";
    g_output = prefix + "_out.bin";
    int fd = open(g_input.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return false;
    std::vector<unsigned char> block(1 << 20);
    uint32_t x = 88172645u;
    for (int64_t done = 0; done < kFileSize; done += static_cast<int64_t>(block.size())) {
        for (auto& byte : block) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            byte = static_cast<unsigned char>(x);
        }
        if (write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) {
            close(fd);
            return false;
        }
    }
    return close(fd) == 0;
}

void RemoveFiles() {
    unlink(g_input.c_str());
    unlink(g_output.c_str());
}

// The reference: what a hand-written extractor loop costs.
void BM_PlainReadWriteCrc(benchmark::State& state) {
    std::vector<unsigned char> buffer(kBlock);
    for (auto _ : state) {
        int in = open(g_input.c_str(), O_RDONLY);
        int out = open(g_output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        uLong crc = crc32(0L, Z_NULL, 0);
        ssize_t n;
        while ((n = read(in, buffer.data(), kBlock)) > 0) {
            crc = crc32(crc, buffer.data(), static_cast<uInt>(n));
            if (write(out, buffer.data(), static_cast<size_t>(n)) != n) state.SkipWithError("write");
        }
        close(in);
        close(out);
        benchmark::DoNotOptimize(crc);
    }
}

// Whole buffers moved between two ALFile objects, the way the engines do:
// load the input buffer, hand its bytes to the output, CRC on the output.
void BM_ALFileBufferCopyCrc(benchmark::State& state) {
    const std::wstring input_name = Wide(g_input);
    const std::wstring output_name = Wide(g_output);
    for (auto _ : state) {
        ALFile input(input_name.c_str());
        ALFile output(output_name.c_str());
        input.Open();
        output.Create();
        output.StartCrc32(0xFFFFFFFFu);
        while (input.LoadBuffer(input.file_position) > 0) {
            output.WriteBuffer(input.buffer + input.read_index, input.read_limit - input.read_index);
            input.read_index = input.read_limit;
        }
        benchmark::DoNotOptimize(output.GetCrc32());
        output.Close();
        input.Close();
        if (output.status.GetStatusCode() < 0 || output.GetSize() != kFileSize) {
            state.SkipWithError("copy failed");
        }
    }
}

// One byte at a time through the inline ReadChar/WriteChar; with crc set,
// the output's CRC is on as in the stored-entry copy of an extraction.
void ByteCopy(benchmark::State& state, bool crc) {
    const std::wstring input_name = Wide(g_input);
    const std::wstring output_name = Wide(g_output);
    for (auto _ : state) {
        ALFile input(input_name.c_str());
        ALFile output(output_name.c_str());
        input.Open();
        output.Create();
        if (crc) output.StartCrc32(0xFFFFFFFFu);
        for (int c; (c = input.ReadChar()) >= 0;) output.WriteChar(c);
        benchmark::DoNotOptimize(output.GetCrc32());
        output.Close();
        input.Close();
        if (output.status.GetStatusCode() < 0 || output.GetSize() != kFileSize) {
            state.SkipWithError("copy failed");
        }
    }
}

// The machine these run on is shared: the fastest of several repetitions
// is the figure that measures the code rather than its neighbours.
double Fastest(const std::vector<double>& values) {
    double best = values.empty() ? 0.0 : values[0];
    for (double v : values) best = v < best ? v : best;
    return best;
}

void Configure(benchmark::internal::Benchmark* bench) {
    bench->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(2)
        ->Repetitions(7)
        ->ComputeStatistics("min", Fastest)
        ->ReportAggregatesOnly(true);
}

void BM_ALFileByteCopy(benchmark::State& state) { ByteCopy(state, false); }
void BM_ALFileByteCopyCrc(benchmark::State& state) { ByteCopy(state, true); }

BENCHMARK(BM_PlainReadWriteCrc)->Apply(Configure);
BENCHMARK(BM_ALFileBufferCopyCrc)->Apply(Configure);
BENCHMARK(BM_ALFileByteCopy)->Apply(Configure);
BENCHMARK(BM_ALFileByteCopyCrc)->Apply(Configure);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!MakeInputFile()) {
        std::fprintf(stderr, "cannot create the benchmark input file\n");
        RemoveFiles();
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    RemoveFiles();
    return 0;
}
