#include "platform/directory_search.h"

#include "platform/file_attributes.h"

bool FindFirstMatch(const std::wstring& pattern, std::wstring& name) {
    DirectorySearch search(pattern);
    DirEntry entry;
    while (search.Next(entry)) {
        if (entry.attributes & kAttrDirectory) continue;
        name = entry.name;
        return true;
    }
    return false;
}
