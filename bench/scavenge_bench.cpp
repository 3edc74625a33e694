// How long scavenging takes for a base folder holding 1,000 unrelated
// entries (files, folders, finished runs' trees without a marker) and 20
// trees of interrupted runs, each a small installer tree of 60 files.
//
//   scavenge_bench [BASE-PARENT] [ROUNDS]
//
// Prints the time of each round (scan and removal of the 20 trees) and of
// a second pass over the same folder with nothing left to remove.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/file_lock.h"
#include "platform/path.h"
#include "sea/run_marker.h"
#include "sea/scavenge.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kUnrelated = 1000;
constexpr int kMarked = 20;
constexpr int kFilesPerTree = 60;

void WriteFile(const fs::path& path, size_t size) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << std::string(size, 'x');
}

void Populate(const fs::path& base) {
    for (int i = 0; i < kUnrelated; ++i) {
        switch (i % 4) {
        case 0: WriteFile(base / ("tmp" + std::to_string(i) + ".dat"), 100); break;
        case 1: fs::create_directories(base / ("folder" + std::to_string(i))); break;
        case 2: WriteFile(base / ("I" + std::to_string(1700000000 + i)) / "Windows" / "install.exe", 100); break;
        default: WriteFile(base / ("hsperfdata_" + std::to_string(i)), 10); break;
        }
    }
    for (int t = 0; t < kMarked; ++t) {
        const fs::path tree = base / ("I" + std::to_string(10000000 + t));
        for (int f = 0; f < kFilesPerTree; ++f) {
            WriteFile(tree / "Windows" / "resource" / ("d" + std::to_string(f % 6)) /
                          ("file" + std::to_string(f) + ".bin"),
                      4096);
        }
        ReleaseLockedFile(CreateLockedFile((tree / kRunMarkerName).wstring()), false);
    }
}

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
    const fs::path parent = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const fs::path base = parent / "scavenge_bench_base";
    for (int round = 0; round < rounds; ++round) {
        fs::remove_all(base);
        Populate(base);
        Clock::time_point start = Clock::now();
        ScavengeResult result = ScavengeInterruptedRuns(base.wstring(), {});
        Clock::time_point middle = Clock::now();
        ScavengeResult again = ScavengeInterruptedRuns(base.wstring(), {});
        Clock::time_point end = Clock::now();
        std::printf("round %d: %zu trees removed in %.1f ms (%zu candidates looked at%s); "
                    "nothing left: %.1f ms (%zu removed)\n",
                    round + 1, result.removed, Milliseconds(middle - start), result.examined,
                    result.out_of_budget ? ", stopped by a limit" : "", Milliseconds(end - middle),
                    again.removed);
    }
    fs::remove_all(base);
    return 0;
}
