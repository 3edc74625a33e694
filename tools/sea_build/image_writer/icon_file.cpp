#include "tools/sea_build/image_writer/icon_file.h"

#include "pe/le_bytes.h"

namespace {

constexpr size_t kHeaderSize = 6;
constexpr size_t kFileEntrySize = 16;
constexpr uint32_t kBitmapHeaderSize = 40;
const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool Refuse(std::wstring& error, const std::wstring& reason) {
    error = reason;
    return false;
}

bool IsPng(const std::vector<uint8_t>& data) {
    if (data.size() < 8) return false;
    for (size_t i = 0; i < 8; ++i) {
        if (data[i] != kPngSignature[i]) return false;
    }
    return true;
}

// Planes and bits per pixel of an image whose directory entry leaves them
// zero: from the bitmap header, or from the PNG header (IHDR: bit depth
// at 24, colour type at 25).
void FillFormat(IconImage& image) {
    const ByteReader in(image.data);
    if (IsPng(image.data)) {
        uint8_t depth = 0, colour_type = 0;
        in.U8(24, depth);
        in.U8(25, colour_type);
        static const uint8_t kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
        if (image.planes == 0) image.planes = 1;
        if (image.bit_count == 0 && colour_type < 7) {
            image.bit_count = static_cast<uint16_t>(depth * kChannels[colour_type]);
        }
        return;
    }
    uint16_t planes = 0, bits = 0;
    in.U16(12, planes);
    in.U16(14, bits);
    if (image.planes == 0) image.planes = planes;
    if (image.bit_count == 0) image.bit_count = bits;
}

}  // namespace

bool ReadIconFile(const std::vector<uint8_t>& file, std::vector<IconImage>& images,
                  std::wstring& error) {
    images.clear();
    const ByteReader in(file);
    uint16_t reserved = 0, type = 0, count = 0;
    if (!in.U16(0, reserved) || !in.U16(2, type) || !in.U16(4, count) || reserved != 0 ||
        (type != 1 && type != 2)) {
        return Refuse(error, L"not an icon file (no icon directory at its start)");
    }
    if (type == 2) return Refuse(error, L"a cursor file, not an icon file");
    if (count == 0) return Refuse(error, L"the icon holds no image");
    if (!in.Has(kHeaderSize, uint64_t{count} * kFileEntrySize)) {
        return Refuse(error, L"the icon directory runs past the end of the file");
    }
    for (uint16_t i = 0; i < count; ++i) {
        const uint64_t entry = kHeaderSize + uint64_t{i} * kFileEntrySize;
        IconImage image;
        uint32_t size = 0, offset = 0;
        in.U8(entry, image.width);
        in.U8(entry + 1, image.height);
        in.U8(entry + 2, image.colors);
        in.U16(entry + 4, image.planes);
        in.U16(entry + 6, image.bit_count);
        in.U32(entry + 8, size);
        in.U32(entry + 12, offset);
        const std::wstring which = L"image " + std::to_wstring(i + 1) + L" of " + std::to_wstring(count);
        if (offset < kHeaderSize + uint64_t{count} * kFileEntrySize || !in.Copy(offset, size, image.data)) {
            return Refuse(error, which + L" lies outside the file");
        }
        uint32_t header_size = 0;
        if (!IsPng(image.data) &&
            (!ByteReader(image.data).U32(0, header_size) || header_size != kBitmapHeaderSize ||
             image.data.size() <= kBitmapHeaderSize)) {
            return Refuse(error, which + L" is neither a bitmap nor a PNG image");
        }
        FillFormat(image);
        images.push_back(std::move(image));
    }
    return true;
}

std::vector<uint8_t> IconGroupData(const std::vector<IconImage>& images,
                                   const std::vector<uint16_t>& ids) {
    std::vector<uint8_t> group;
    Append16(group, 0);
    Append16(group, 1);
    Append16(group, static_cast<uint16_t>(images.size()));
    for (size_t i = 0; i < images.size(); ++i) {
        const IconImage& image = images[i];
        group.push_back(image.width);
        group.push_back(image.height);
        group.push_back(image.colors);
        group.push_back(0);
        Append16(group, image.planes);
        Append16(group, image.bit_count);
        Append32(group, static_cast<uint32_t>(image.data.size()));
        Append16(group, ids[i]);
    }
    return group;
}
