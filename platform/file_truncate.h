// Cutting a closed file to a given length.
#pragma once

#include <cstdint>
#include <string>

// Sets the length of the file at path to length bytes (shorter: the rest is
// dropped). False on failure, with the runtime's errno in *error.
bool TruncateFile(const std::wstring& path, uint64_t length, int* error);
