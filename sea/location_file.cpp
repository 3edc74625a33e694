// Writing the location file "sea_loc".
#include "sea/location_file.h"

#include <cstdio>

#include "platform/dir_handle.h"
#include "platform/file_io.h"
#include "platform/module.h"
#include "platform/text.h"
#include "resources/resource_ids.h"
#include "sea/dialog_state.h"
#include "sea/log.h"

namespace {

const wchar_t kLocationFileName[] = L"sea_loc";

}  // namespace

std::string LocationFileBytes(const std::wstring& own_path) {
    std::wstring text = own_path + L"\n";
    std::string bytes = WideToUtf8(text);
    if (bytes.empty()) return bytes;
    bytes.push_back('\0');
    return bytes;
}

int WriteLocationFile(ExtractContext& ctx) { return WriteLocationFileFor(ctx, GetOwnModulePath()); }

int WriteLocationFileFor(ExtractContext& ctx, const std::wstring& own_path) {
    // Made in the held working directory, never through a link.
    int error = 0;
    const int file = ctx.work_dir ? CreateChildFile(ctx.work_dir, kLocationFileName, &error) : -1;
    if (file < 0) {
        WriteLog(L"*** FAILURE: Unable to create the sea_loc file: asking to find a new location");
        RestoreStartingDir(ctx);
        RemoveWorkDir(ctx);
        AskForAnotherLocation(LoadText(IDS_CANNOT_CREATE_SEA_LOC));
        return 0;
    }
    std::string bytes = LocationFileBytes(own_path);
    const int32_t count = static_cast<int32_t>(bytes.size());
    bool written = !bytes.empty() && FileWrite(file, bytes.data(), static_cast<uint32_t>(count), &error) == count;
    written = FileClose(file) && written;
    if (!written) {
        RestoreStartingDir(ctx);
        RemoveWorkDir(ctx);
        AskForAnotherLocation(LoadText(IDS_CANNOT_CREATE_SEA_LOC));
        WriteLog(L"*** FAILURE: We ran out of space while creating the compressed file.");
        return 0;
    }
    return 1;
}
