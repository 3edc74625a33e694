// Extraction on two threads. The payload's marked entries are split
// between the driver's thread and one worker, each with an archive reader
// of its own over the held own file, so that a machine with two processors
// decodes two entries at once. Everything else is Extract's: the same
// files, the same checks, the first failure in list order as the result.
//
// The split keeps memory in bounds: both lanes' decoders together hold at
// most kLanesMemory (an entry's need comes from the first bytes of its data,
// see ALLzmaDecompressor::MemoryFor). An entry that needs more than half of
// it runs on the driver's thread, and the worker then takes only entries
// that fit beside the largest of those. Entries whose names meet (a file
// twice, a file where another entry needs a folder) keep their order on
// the driver's thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ALPkArchive;
class ALEntryList;
class ALStorage;

// One marked entry as the plan sees it.
struct LaneItem {
    uint64_t cost;         // about the time its decoding takes (any unit)
    uint64_t memory;       // the most its decoder holds (bytes)
    bool independent = true;  // no other entry's name meets its name (IndependentNames)
};

// For each entry name, whether extracting it touches nothing that another
// entry of the list makes: its path is the only one of its kind, it is no
// folder of another entry, and no folder on its way is another entry's
// file. Names are compared as Windows would (letter case, separators,
// trailing dots and spaces); a name with '~' may be a short alias of
// another and is never independent. Only independent entries may be
// extracted out of list order.
std::vector<bool> IndependentNames(const std::vector<std::wstring>& names);

constexpr uint64_t kLanesMemory = 18u << 20;

// For each item, whether the worker takes it; empty when one thread should
// do all (fewer than two items, less work than least_cost, nothing that fits
// beside the driver's thread). The lanes' costs are balanced, largest first.
std::vector<bool> PlanLanes(const std::vector<LaneItem>& items, uint64_t memory_budget,
                            uint64_t least_cost);

// archive.Extract(list), on two threads when the machine has two processors
// and the payload is worth it. second_reader: another storage over the
// archive's bytes (an ALFile reading the same borrowed descriptor, with the
// same read bound), opened here for the worker. Falls back to Extract for
// anything out of the ordinary: an entry without a decompressor, an
// encrypted entry, a member whose header cannot be read, no thread.
int32_t ExtractInLanes(ALPkArchive& archive, ALEntryList& list, ALStorage& second_reader);

// Test seam: payloads below this cost are extracted on one thread; 0 makes
// every payload with two entries use both lanes, on any machine.
extern uint64_t g_lanes_least_cost;
