#include "tools/sea_build/image_writer/branding.h"

#include <algorithm>
#include <set>

#include "resources/resource_ids.h"
#include "pe/le_bytes.h"
#include "pe/pe_image.h"
#include "tools/sea_build/image_writer/resource_tree.h"

namespace {

constexpr size_t kGroupHeaderSize = 6;
constexpr size_t kGroupEntrySize = 14;

bool Refuse(std::wstring& error, const std::wstring& reason) {
    error = reason;
    return false;
}

std::u16string Upper(std::u16string text) {
    for (char16_t& unit : text) {
        if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - u'a' + u'A');
    }
    return text;
}

// The application icon: the group named after the window class, and 108.
bool IsApplicationGroup(const Resource& r) {
    if (!(r.type == ResourceKey{kResourceGroupIcon, {}})) return false;
    if (r.name.IsNamed()) return Upper(r.name.text) == Upper(ToUtf16(IDI_SEA_WINDOW_CLASS));
    return r.name.id == IDI_SEA_APPLICATION;
}

std::set<uint16_t> GroupMembers(const Resource& group) {
    std::set<uint16_t> ids;
    const ByteReader in(group.data);
    uint16_t count = 0;
    in.U16(4, count);
    for (uint16_t i = 0; i < count; ++i) {
        uint16_t id = 0;
        if (in.U16(kGroupHeaderSize + i * kGroupEntrySize + 12, id)) ids.insert(id);
    }
    return ids;
}

bool ReplaceIcon(std::vector<Resource>& resources, const std::vector<IconImage>& images,
                 std::wstring& error) {
    std::set<uint16_t> replaced, kept;
    const Resource* application = nullptr;
    for (const Resource& r : resources) {
        if (!(r.type == ResourceKey{kResourceGroupIcon, {}})) continue;
        const bool ours = IsApplicationGroup(r);
        for (uint16_t id : GroupMembers(r)) (ours ? replaced : kept).insert(id);
        if (ours && !r.name.IsNamed()) application = &r;
    }
    if (!application) return Refuse(error, L"it has no application icon (icon group 108)");
    const uint16_t language = application->language;
    // Images only the replaced groups used go; the new ones take the
    // lowest free numbers.
    std::set<uint16_t> taken;
    resources.erase(std::remove_if(resources.begin(), resources.end(),
                                   [&](const Resource& r) {
                                       return r.type == ResourceKey{kResourceIcon, {}} &&
                                              !r.name.IsNamed() && replaced.count(r.name.id) &&
                                              !kept.count(r.name.id);
                                   }),
                    resources.end());
    for (const Resource& r : resources) {
        if (r.type == ResourceKey{kResourceIcon, {}} && !r.name.IsNamed()) taken.insert(r.name.id);
    }
    std::vector<uint16_t> ids;
    for (uint32_t id = 1; id <= 0xFFFF && ids.size() < images.size(); ++id) {
        if (!taken.count(static_cast<uint16_t>(id))) ids.push_back(static_cast<uint16_t>(id));
    }
    if (ids.size() < images.size()) return Refuse(error, L"it has no room for more icon images");
    const std::vector<uint8_t> group = IconGroupData(images, ids);
    for (Resource& r : resources) {
        if (IsApplicationGroup(r)) r.data = group;
    }
    for (size_t i = 0; i < images.size(); ++i) {
        Resource icon;
        icon.type.id = kResourceIcon;
        icon.name.id = ids[i];
        icon.language = language;
        icon.data = images[i].data;
        resources.push_back(std::move(icon));
    }
    return true;
}

bool ReplaceVersion(std::vector<Resource>& resources, const std::vector<VersionSetting>& settings,
                    std::wstring& error) {
    bool found = false;
    for (Resource& r : resources) {
        if (!(r.type == ResourceKey{kResourceVersion, {}})) continue;
        found = true;
        VersionBlock root;
        if (!ReadVersionInfo(r.data, root, error) || !ApplyVersionSettings(root, settings, error) ||
            !WriteVersionInfo(root, r.data, error)) {
            error = L"its version information: " + error;
            return false;
        }
    }
    if (found) return true;
    Resource r;
    r.type.id = kResourceVersion;
    r.name.id = 1;
    VersionBlock root = NewVersionInfo();
    if (!ApplyVersionSettings(root, settings, error) || !WriteVersionInfo(root, r.data, error)) {
        return false;
    }
    resources.push_back(std::move(r));
    return true;
}

}  // namespace

bool BrandImage(std::vector<uint8_t>& image, const Branding& branding, std::wstring& error) {
    PeLayout layout;
    if (!ReadPeLayout(image, layout, error)) return false;
    if (layout.directories.size() <= kResourceDirectory ||
        layout.directories[kResourceDirectory].size == 0) {
        return Refuse(error, L"it has no resources");
    }
    const int index = layout.SectionOfRva(layout.directories[kResourceDirectory].rva);
    if (index < 0) return Refuse(error, L"its resource directory lies in no section");
    const PeSection& section = layout.sections[static_cast<size_t>(index)];
    if (layout.directories[kResourceDirectory].rva != section.virtual_address) {
        return Refuse(error, L"its resource directory does not start its section");
    }
    const std::vector<uint8_t> raw(image.begin() + section.raw_offset,
                                   image.begin() + section.raw_offset + section.raw_size);
    std::vector<Resource> resources;
    if (!ReadResourceDirectory(raw, section.virtual_address, resources, error)) return false;
    if (!branding.icon.empty() && !ReplaceIcon(resources, branding.icon, error)) return false;
    if (!branding.version.empty() && !ReplaceVersion(resources, branding.version, error)) return false;
    return ReplaceResourceSection(image, layout, static_cast<size_t>(index),
                                  WriteResourceDirectory(resources, section.virtual_address), error);
}
