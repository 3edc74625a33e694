// The builder's branding step: the --icon and --version-info options
// applied to the stub in memory, and the image checksum of the finished
// installer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/sea_build/options.h"

// Reads options.icon and checks options.version_info, then rewrites the
// resources of stub (read from stub_path). Does nothing without either
// option. False with a one-line message naming the file and the cause.
bool BrandStub(const BuildOptions& options, const std::wstring& stub_path,
               std::vector<uint8_t>& stub, std::wstring& error);

// Sets the image checksum in the PE header of the installer at path to
// the checksum of the whole file, payload included; stub is the image at
// its start. False with a reason.
// The same for a file whose checksum field lies at checksum_at.
bool StampFileChecksum(const std::wstring& path, uint64_t checksum_at, std::wstring& error);
bool StampInstallerChecksum(const std::wstring& path, const std::vector<uint8_t>& stub,
                            std::wstring& error);
