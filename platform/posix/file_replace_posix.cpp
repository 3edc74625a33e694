#include <stdio.h>

#include "platform/file_replace.h"
#include "platform/text.h"

bool ReplaceFileWith(const std::wstring& replacement, const std::wstring& target) {
    return rename(WideToUtf8(replacement).c_str(), WideToUtf8(target).c_str()) == 0;
}
