// Unicode's simple upper-case mapping of the Basic Multilingual Plane, as
// the generated table upcase_table.cpp holds it (scripts/gen-upcase-table.py).
// Windows compares file names by upper-casing each UTF-16 unit with such a
// table; the C library's towupper depends on the locale (the Turkish one
// maps 'i' to U+0130) and is never used for names.
#pragma once

#include <cstddef>
#include <cstdint>

// Every step-th code point from first to last maps to itself plus delta.
struct UpcaseRun {
    uint16_t first;
    uint16_t last;
    uint16_t step;
    int32_t delta;
};

extern const UpcaseRun kUpcaseRuns[];
extern const size_t kUpcaseRunCount;
