// The payload that sea-build appends to the self-extractor stub:
//
//   offset 0      4 bytes   magic 5B 3E 4E 00
//   offset 4   1024 bytes   launcher name: ASCII, backslash separators,
//                           NUL-terminated, padded with zero bytes
//   offset 1028   n bytes   the ZIP archive (offsets relative to its start)
//   1028 + n     10 bytes   trailer 00 44 13 00 and six zero bytes
//
// A signature, when there is one, follows the trailer: the stub finds the
// ZIP end record by searching the last 66,000 bytes of its file, so
// everything behind the end record must stay shorter than that.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint8_t kPayloadMagic[4] = {0x5B, 0x3E, 0x4E, 0x00};
constexpr size_t kLauncherFieldSize = 1024;
constexpr size_t kPayloadHeaderSize = sizeof kPayloadMagic + kLauncherFieldSize;
constexpr uint8_t kPayloadTrailer[10] = {0x00, 0x44, 0x13, 0x00, 0, 0, 0, 0, 0, 0};
constexpr int64_t kEndRecordWindow = 66000;
// Sizes inside the stub are 32-bit signed: an installer stays below 2 GiB.
constexpr int64_t kInstallerSizeLimit = int64_t{1} << 31;
