// Checks on the self-extractor stub before anything is appended to it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct StubImage {
    bool pe32plus = false;    // optional-header magic 0x20B instead of 0x10B
    uint64_t image_end = 0;   // where the payload goes: the end of the last
                              // section's raw data (or of the symbol table)
};

// Reads the PE headers of bytes: "MZ", the "PE\0\0" signature at e_lfanew,
// the optional-header magic (0x10B PE32, 0x20B PE32+) and the section
// table; the COFF symbol table of an image that was not stripped counts as
// part of the image. Refuses a file that is not such an image, whose
// sections run past its end, that carries a certificate table (already
// signed), or that has bytes after the end of its image (a payload already
// appended). False with a one-line reason in error.
bool InspectStub(const std::vector<uint8_t>& bytes, StubImage& image, std::wstring& error);
