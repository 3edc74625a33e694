// Icon files (.ico) and the icon resources made from them: each image of
// the file becomes one icon resource, byte for byte, and the file's
// directory becomes the icon group that names them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct IconImage {
    uint8_t width = 0;   // 0 stands for 256
    uint8_t height = 0;
    uint8_t colors = 0;
    uint16_t planes = 0;
    uint16_t bit_count = 0;
    std::vector<uint8_t> data;  // a BITMAPINFOHEADER image or a PNG file
};

// Decodes file, the contents of an .ico file. False with a reason when it
// is not one (a cursor file included), has no image, or an image that
// lies outside the file or is neither a bitmap nor a PNG image. Planes and
// bit count missing from the directory are taken from the image itself.
bool ReadIconFile(const std::vector<uint8_t>& file, std::vector<IconImage>& images,
                  std::wstring& error);

// The icon group resource for images whose icon resources have the ids
// given (one per image).
std::vector<uint8_t> IconGroupData(const std::vector<IconImage>& images,
                                   const std::vector<uint16_t>& ids);
