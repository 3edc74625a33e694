// Process environment variables.
#pragma once

#include <cstddef>
#include <string>

// Reads a variable as GetEnvironmentVariableW would into a buffer of
// `capacity` characters: false when it is absent or its value (with the
// terminator) does not fit.
bool GetEnvVar(const wchar_t* name, size_t capacity, std::wstring& value);

// Sets a variable for this process and the processes it starts.
bool SetEnvVar(const wchar_t* name, const std::wstring& value);
