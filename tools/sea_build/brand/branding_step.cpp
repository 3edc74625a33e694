#include "tools/sea_build/brand/branding_step.h"

#include <cstdio>

#include "platform/file_stream.h"
#include "platform/stream_seek.h"
#include "tools/sea_build/image_writer/branding.h"
#include "pe/le_bytes.h"
#include "pe/pe_image.h"

namespace {

bool ReadIcon(const std::wstring& path, std::vector<IconImage>& images, std::wstring& error) {
    FILE* f = OpenStream(path, "rb");
    if (!f) {
        error = L"cannot read the icon " + path;
        return false;
    }
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    const bool read_ok = !ferror(f);
    fclose(f);
    if (!read_ok) {
        error = L"cannot read the icon " + path;
        return false;
    }
    if (!ReadIconFile(bytes, images, error)) {
        error = path + L": " + error;
        return false;
    }
    return true;
}

bool ParseSettings(const std::vector<std::wstring>& texts, std::vector<VersionSetting>& settings,
                   std::wstring& error) {
    for (const std::wstring& text : texts) {
        VersionSetting setting;
        if (!ParseVersionSetting(text, setting, error)) return false;
        for (const VersionSetting& earlier : settings) {
            if (earlier.key == setting.key) {
                error = L"--version-info " + text + L": the key is given twice";
                return false;
            }
        }
        settings.push_back(setting);
    }
    return true;
}

}  // namespace

bool BrandStub(const BuildOptions& options, const std::wstring& stub_path,
               std::vector<uint8_t>& stub, std::wstring& error) {
    if (options.icon.empty() && options.version_info.empty()) return true;
    Branding branding;
    if (!options.icon.empty() && !ReadIcon(options.icon, branding.icon, error)) return false;
    if (!ParseSettings(options.version_info, branding.version, error)) return false;
    if (!BrandImage(stub, branding, error)) {
        error = stub_path + L": cannot brand this stub: " + error;
        return false;
    }
    return true;
}

bool StampInstallerChecksum(const std::wstring& path, const std::vector<uint8_t>& stub,
                            std::wstring& error) {
    // The checksum field lies 64 bytes into the optional header in PE32
    // and PE32+ alike; the stub's PE header has been checked already.
    uint32_t pe_offset = 0;
    if (!ByteReader(stub).U32(0x3C, pe_offset)) {
        error = L"the stub has no PE header";
        return false;
    }
    return StampFileChecksum(path, uint64_t{pe_offset} + 24 + 64, error);
}

bool StampFileChecksum(const std::wstring& path, uint64_t checksum_at, std::wstring& error) {
    FILE* f = OpenStream(path, "r+b");
    if (!f) {
        error = L"cannot reopen " + path + L" for its checksum";
        return false;
    }
    PeChecksum checksum(checksum_at);
    std::vector<uint8_t> chunk(1 << 20);
    size_t n;
    while ((n = fread(chunk.data(), 1, chunk.size(), f)) > 0) checksum.Add(chunk.data(), n);
    const uint32_t value = checksum.Finish();
    const uint8_t field[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    bool ok = !ferror(f) && StreamSeek(f, static_cast<int64_t>(checksum_at), SEEK_SET) &&
              fwrite(field, 1, sizeof field, f) == sizeof field;
    ok = fclose(f) == 0 && ok;
    if (!ok) error = L"cannot write the checksum into " + path;
    return ok;
}
