// Branding a self-extractor stub: its application icon and its version
// information replaced inside the image, before anything is appended.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/sea_build/image_writer/icon_file.h"
#include "tools/sea_build/image_writer/version_info.h"

struct Branding {
    std::vector<IconImage> icon;           // empty: the icons stay
    std::vector<VersionSetting> version;   // empty: the version stays
};

// Rewrites the resource section of image: the icon images become the
// application icon, both as the group the window class loads under its
// name and as icon group 108 (the stub's other icons stay), and the
// version settings go into every string table of the version information
// and its fixed part. All other resources keep their bytes, names and
// languages. False with a reason, image untouched, when image is not a
// stub this can rewrite.
bool BrandImage(std::vector<uint8_t>& image, const Branding& branding, std::wstring& error);
