// One value from the operating system's cryptographic random generator.
#pragma once

#include <cstdint>

// BCryptGenRandom on Windows, getrandom (or /dev/urandom) on POSIX. False
// when the generator cannot be used; value is then unchanged.
bool GetCryptoRandom32(uint32_t& value);
