// Writing the location file "sea_loc".
#include "sea/location_file.h"

#include <cstdio>

#include "platform/file_stream.h"
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
    FILE* file = OpenStream(ctx.work_dir_path + kLocationFileName, "wb");
    if (!file) {
        WriteLog(L"*** FAILURE: Unable to create the sea_loc file: asking to find a new location");
        RestoreStartingDir(ctx);
        RemoveWorkDir(ctx);
        AskForAnotherLocation(LoadText(IDS_CANNOT_CREATE_SEA_LOC));
        return 0;
    }
    std::string bytes = LocationFileBytes(own_path);
    bool written = !bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    // The bytes may sit in the stream's buffer until it is closed: a failing
    // close is a failed write too.
    written = std::fclose(file) == 0 && written;
    if (!written) {
        RestoreStartingDir(ctx);
        RemoveWorkDir(ctx);
        AskForAnotherLocation(LoadText(IDS_CANNOT_CREATE_SEA_LOC));
        WriteLog(L"*** FAILURE: We ran out of space while creating the compressed file.");
        return 0;
    }
    return 1;
}
