#include "sea/signed_bytes.h"

#include "resources/resource_ids.h"
#include "sea/dialog_state.h"
#include "sea/log.h"

void ReportDamagedSignature(const std::wstring& damage) {
    WriteLog(L"*** FAILURE: The installer's certificate table is damaged: %s", damage.c_str());
    ShowError(IDS_CANNOT_EXTRACT);
}
