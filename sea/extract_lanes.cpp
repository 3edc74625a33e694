#include "sea/extract_lanes.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cwctype>
#include <map>

#include "archive/codecs/decoder_memory.h"
#include "archive/codecs/lzma_decompressor.h"
#include "archive/codecs/zstd_decompressor.h"
#include "archive/engine.h"
#include "archive/entry.h"
#include "archive/entry_list.h"
#include "archive/monitor.h"
#include "archive/pk_archive.h"
#include "archive/storage.h"
#include "platform/message_pump.h"
#include "platform/thread.h"

// Below some 10 ms of decoding a second thread costs more than it saves.
uint64_t g_lanes_least_cost = 100u << 20;

namespace {

// Decoding time per byte in tenths of nanoseconds, roughly, as measured on
// the benchmark tree: LZMA's time follows its compressed bytes more than
// what they expand to.
uint64_t CostOf(const ALEntry& entry) {
    const uint64_t produced = static_cast<uint32_t>(entry.storage->GetSize());
    const uint64_t consumed = static_cast<uint32_t>(entry.compressed_size);
    switch (entry.decompressor->engine_type) {
        case AL_ENGINE_COPY:
        case AL_ENGINE_ZIP_STORED: return 8 * produced;
        case AL_ENGINE_ZIP_LZMA: return 50 * produced + 400 * consumed;
        case AL_ENGINE_ZIP_ZSTD: return 25 * produced;
        default: return 45 * produced;
    }
}

// What the entry's decoder will hold; for LZMA and Zstandard read from the
// first bytes of its data (reader: the worker's archive, which is not in
// use yet). False when the member's header cannot be read.
bool MemoryOf(ALEntry& entry, ALPkArchive& reader, uint64_t& memory) {
    const uint64_t size = static_cast<uint32_t>(entry.storage->GetSize());
    const int32_t type = entry.decompressor->engine_type;
    if (type == AL_ENGINE_COPY || type == AL_ENGINE_ZIP_STORED) {
        memory = 0;
        return true;
    }
    if (type != AL_ENGINE_ZIP_LZMA && type != AL_ENGINE_ZIP_ZSTD) {
        memory = 64u << 10;  // inflate's window and state
        return true;
    }
    ALStorage& storage = reader.GetStorage();
    uint8_t head[16] = {};
    storage.Seek(entry.local_header_offset);
    reader.SkipLocalHeader(entry);
    const int32_t count = storage.ReadBuffer(
        head, static_cast<int32_t>(std::min<uint32_t>(sizeof head, static_cast<uint32_t>(entry.compressed_size))));
    if (storage.status.GetStatusCode() < 0 || reader.GetStatusCode() < 0 || count < 0) return false;
    memory = type == AL_ENGINE_ZIP_LZMA ? ALLzmaDecompressor::MemoryFor(head, static_cast<size_t>(count), size)
                                        : ALZstdDecompressor::MemoryFor(head, static_cast<size_t>(count), size);
    return true;
}

// A name as Windows compares it: one separator, one letter case, and no
// trailing dots or spaces in a component; its components.
std::vector<std::wstring> Components(const std::wstring& name) {
    std::vector<std::wstring> parts(1);
    for (wchar_t c : name) {
        if (c == L'/' || c == L'\\') {
            if (!parts.back().empty()) parts.emplace_back();
        } else {
            parts.back() += static_cast<wchar_t>(towlower(static_cast<wint_t>(c)));
        }
    }
    for (std::wstring& part : parts) {
        while (!part.empty() && (part.back() == L'.' || part.back() == L' ')) part.pop_back();
    }
    if (parts.back().empty()) parts.pop_back();
    return parts;
}

std::wstring Joined(const std::vector<std::wstring>& parts, size_t count) {
    std::wstring path;
    for (size_t i = 0; i < count; ++i) path += (i ? L"/" : L"") + parts[i];
    return path;
}

// The marked entries in list order, when every one of them is an ordinary
// one that both lanes can extract alike.
bool CollectEntries(ALEntryList& list, std::vector<ALEntry*>& entries) {
    for (ALEntry* entry = list.GetFirstEntry(); entry; entry = list.GetNextEntry(entry)) {
        if (!entry->storage || !entry->IsMarked()) continue;
        if (!entry->decompressor || entry->IsEncrypted() || entry->compressed_size < 0 ||
            entry->storage->GetSize() < 0) {
            return false;
        }
        entries.push_back(entry);
    }
    return true;
}

// The worker's share and what both lanes tell each other.
struct Lanes {
    ALPkArchive* worker_archive;
    std::vector<size_t> worker_entries;  // list positions, ascending
    const std::vector<ALEntry*>* entries;
    std::atomic<uint32_t> worker_bytes{0};  // compressed bytes the worker has read
    int32_t worker_count = 0;               // entries the worker processed
};

// The worker's monitor: its progress, in compressed bytes, for the
// driver's thread to show.
class LaneMonitor : public ALMonitor {
public:
    explicit LaneMonitor(std::atomic<uint32_t>& bytes) : ALMonitor(AL_MONITOR_JOB), bytes_(bytes) {}
    void UpdateProgress(int32_t position, ALStorage& storage) override {
        ALMonitor::UpdateProgress(position, storage);
        bytes_.store(static_cast<uint32_t>(bytes_done));
    }

private:
    std::atomic<uint32_t>& bytes_;
};

// Extracts one lane's entry. Only entries that ExtractEntry cannot refuse
// reach a lane (CollectEntries), so every failure is the entry's own, kept
// in its storage for CollectEntryErrors; false would mean the lane's
// archive failed all the same, and the lane stops.
bool ExtractOne(const Lanes& lanes, ALArchive& archive, size_t position, ALMonitor& monitor) {
    ALEntry& entry = *(*lanes.entries)[position];
    // Progress within the entry counts from its header, wherever this
    // lane's previous entry was.
    monitor.object_start = entry.local_header_offset;
    return archive.ExtractEntry(entry, monitor) && archive.GetStatusCode() >= 0;
}

void RunWorker(void* argument) {
    Lanes& lanes = *static_cast<Lanes*>(argument);
    LaneMonitor monitor(lanes.worker_bytes);
    for (size_t position : lanes.worker_entries) {
        ++lanes.worker_count;
        const bool go_on = ExtractOne(lanes, *lanes.worker_archive, position, monitor);
        lanes.worker_bytes.store(monitor.job_done);
        if (!go_on) break;
    }
}

// The driver's progress while the worker still runs: both lanes' bytes.
void ShowBothLanes(ALArchive& archive, ALMonitor& monitor, uint32_t own_bytes, const Lanes& lanes) {
    monitor.job_done = own_bytes + lanes.worker_bytes.load();
    const int32_t position = archive.GetStorage().Tell();
    monitor.object_start = position;
    monitor.UpdateProgress(position, archive.GetStorage());
    PumpPendingMessages();
}

// The driver's lane, then the wait for the worker.
int32_t RunBothLanes(ALPkArchive& archive, ALEntryList& list, const std::vector<bool>& to_worker,
                     Lanes& lanes, WorkThread* worker) {
    ALMonitor& monitor = list.GetMonitor();
    monitor.NotifyOperation(ExtractBegin, &archive, nullptr);
    if (monitor.IsJobLevel()) monitor.job_total = static_cast<uint32_t>(JobTotalSize(list));
    const std::vector<ALEntry*>& entries = *lanes.entries;
    uint32_t own_bytes = 0;
    int32_t count = 0;
    for (size_t position = 0; position < entries.size(); ++position) {
        if (to_worker[position]) continue;
        ++count;
        monitor.job_done = own_bytes + lanes.worker_bytes.load();
        const bool go_on = ExtractOne(lanes, archive, position, monitor);
        own_bytes += static_cast<uint32_t>(entries[position]->compressed_size);
        if (!go_on) break;
    }
    while (!WaitWorkThread(worker, 50)) ShowBothLanes(archive, monitor, own_bytes, lanes);
    JoinWorkThread(worker);
    ShowBothLanes(archive, monitor, own_bytes, lanes);
    count += lanes.worker_count;
    // A failure of the worker's archive is never lost.
    if (archive.GetStatusCode() >= 0 && lanes.worker_archive->GetStatusCode() < 0) {
        archive.status.SetStatusFrom(lanes.worker_archive->status);
    }
    monitor.NotifyOperation(ExtractEnd, &archive, nullptr);
    archive.CollectEntryErrors(list);
    return archive.GetStatusCode() < 0 ? archive.GetStatusCode() : count;
}

}  // namespace

std::vector<bool> IndependentNames(const std::vector<std::wstring>& names) {
    // Per path: how many entries make it as a file (kFile each), and
    // whether one needs it as a folder (kFolder).
    constexpr unsigned kFile = 1, kFolder = 1u << 16;
    std::map<std::wstring, unsigned> uses;
    std::vector<std::vector<std::wstring>> split(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        split[i] = Components(names[i]);
        const bool folder = !names[i].empty() && (names[i].back() == L'/' || names[i].back() == L'\\');
        const size_t own = split[i].size();
        for (size_t k = 1; k < own; ++k) uses[Joined(split[i], k)] |= kFolder;
        if (own == 0) continue;
        unsigned& use = uses[Joined(split[i], own)];
        use = folder ? (use | kFolder) : use + kFile;
    }
    auto files = [&](const std::wstring& path) { return uses[path] & (kFolder - 1); };
    std::vector<bool> independent(names.size(), false);
    for (size_t i = 0; i < names.size(); ++i) {
        const std::vector<std::wstring>& parts = split[i];
        if (parts.empty() || names[i].find(L'~') != std::wstring::npos) continue;
        const std::wstring path = Joined(parts, parts.size());
        if (files(path) != 0 && uses[path] != kFile) continue;  // a file twice, or file and folder
        bool clear = true;
        for (size_t k = 1; k < parts.size() && clear; ++k) clear = files(Joined(parts, k)) == 0;
        independent[i] = clear;
    }
    return independent;
}

std::vector<bool> PlanLanes(const std::vector<LaneItem>& items, uint64_t memory_budget,
                            uint64_t least_cost) {
    uint64_t total = 0;
    uint64_t heavy = 0;       // the largest need above half the budget
    uint64_t own_load = 0;    // the driver's share so far
    for (const LaneItem& item : items) {
        total += item.cost;
        if (item.memory > memory_budget / 2) heavy = std::max(heavy, item.memory);
        if (item.memory > memory_budget / 2 || !item.independent) own_load += item.cost;
    }
    if (items.size() < 2 || total < least_cost || heavy >= memory_budget) return {};
    const uint64_t fits_beside = heavy ? memory_budget - heavy : memory_budget / 2;
    std::vector<size_t> shared;
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].memory > memory_budget / 2 || !items[i].independent) continue;
        if (items[i].memory <= fits_beside) {
            shared.push_back(i);
        } else {
            own_load += items[i].cost;
        }
    }
    std::sort(shared.begin(), shared.end(), [&](size_t a, size_t b) {
        return items[a].cost != items[b].cost ? items[a].cost > items[b].cost : a < b;
    });
    std::vector<bool> to_worker(items.size(), false);
    uint64_t worker_load = 0;
    bool any = false;
    for (size_t i : shared) {
        if (worker_load < own_load) {
            to_worker[i] = any = true;
            worker_load += items[i].cost;
        } else {
            own_load += items[i].cost;
        }
    }
    if (!any) return {};
    return to_worker;
}

int32_t ExtractInLanes(ALPkArchive& archive, ALEntryList& list, ALStorage& second_reader) {
    const bool wanted = g_lanes_least_cost == 0 || ProcessorCount() >= 2;
    std::vector<ALEntry*> entries;
    if (!wanted || !archive.GetStorage().buffer || archive.GetStatusCode() < 0 ||
        !CollectEntries(list, entries) || entries.size() < 2) {
        return archive.Extract(list);
    }
    if (second_reader.Open() < 0) return archive.Extract(list);
    second_reader.LimitReads(archive.GetStorage().GetReadEnd());
    ALPkArchive worker_archive(second_reader);

    // The names as they will be made (Extract strips them too; twice is once).
    for (ALEntry* entry = list.GetFirstEntry(); entry; entry = list.GetNextEntry(entry)) {
        if (entry->storage && (entry->path_flags & ALEntry::kStripPathOnExtract)) entry->storage->name.StripPath();
    }
    std::vector<std::wstring> names(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) names[i] = entries[i]->storage->GetName();
    const std::vector<bool> independent = IndependentNames(names);
    std::vector<LaneItem> items(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        items[i].cost = CostOf(*entries[i]);
        items[i].independent = independent[i];
        if (!MemoryOf(*entries[i], worker_archive, items[i].memory)) return archive.Extract(list);
    }
    const std::vector<bool> to_worker = PlanLanes(items, kLanesMemory, g_lanes_least_cost);
    if (to_worker.empty()) return archive.Extract(list);

    Lanes lanes;
    lanes.worker_archive = &worker_archive;
    lanes.entries = &entries;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (to_worker[i]) lanes.worker_entries.push_back(i);
    }
    WorkThread* worker = StartWorkThread(RunWorker, &lanes);
    if (!worker) return archive.Extract(list);
    return RunBothLanes(archive, list, to_worker, lanes, worker);
}
