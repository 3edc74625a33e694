// The visible states of the progress dialog. Each operation names every
// control it changes, in the order the dialog shows them; controls not
// named keep their state.
#include "sea/dialog_state.h"

#include "platform/dialog_controls.h"
#include "platform/format.h"
#include "resources/resource_ids.h"
#include "sea/log.h"
#include "sea/run_state.h"

namespace {

constexpr size_t kTextCapacity = 256;

void Show(int id) { ShowControl(g_run.dialog, id, true); }
void Hide(int id) { ShowControl(g_run.dialog, id, false); }
void SetText(int id, const std::wstring& text) { SetControlText(g_run.dialog, id, text); }

// The errors that concern free space; they offer another folder.
bool IsSpaceError(int id) {
    return id == IDS_NO_TEMP_SPACE || id == IDS_NOT_ENOUGH_ROOM || id == IDS_OUT_OF_SPACE_CREATING;
}

}  // namespace

std::wstring LoadText(int id) { return LoadStringResource(g_run.instance, id, kTextCapacity); }

void ShowInitialState() {
    SetProgressRange(g_run.dialog, IDC_PROGRESS, 0, 100);
    SetProgressStep(g_run.dialog, IDC_PROGRESS, 1);
    SetText(IDC_SECOND_TEXT, L"");
    Show(IDC_ICON_NORMAL);
    Hide(IDC_ICON_ERROR);
    Hide(IDC_ICON_WARNING);
}

void ShowScaledIcons() {
    SetControlIcon(g_run.dialog, IDC_ICON_NORMAL, g_run.instance, IDI_SEA_APPLICATION);
    SetControlIcon(g_run.dialog, IDC_ICON_ERROR, g_run.instance, IDI_SEA_ERROR);
    SetControlIcon(g_run.dialog, IDC_ICON_WARNING, g_run.instance, IDI_SEA_WARNING);
}

void ShowPreparing() {
    WriteLog(L"Dialog: Preparing to install...");
    SetText(IDC_MAIN_TEXT, LoadText(IDS_PREPARING));
    SetText(IDC_SECOND_TEXT, L"");
    Show(IDC_ACTIVITY_TEXT);
    Hide(IDC_CHOOSE);
    Show(IDC_PERCENT_TEXT);
    Show(IDC_ICON_NORMAL);
    Hide(IDC_ICON_ERROR);
    Hide(IDC_ICON_WARNING);
    Show(IDC_PROGRESS);
    Show(IDC_SECOND_TEXT);
}

void ShowError(int id) {
    Hide(IDC_PERCENT_TEXT);
    Hide(IDC_ICON_NORMAL);
    Hide(IDC_ICON_WARNING);
    Hide(IDC_PROGRESS);
    Hide(IDC_ACTIVITY_TEXT);
    Show(IDC_SECOND_TEXT);

    std::wstring main_text = LoadText(id);
    SetText(IDC_MAIN_TEXT, main_text);
    WriteLog(L"*** Error %ld: '%s' ***", static_cast<int32_t>(id), main_text.c_str());

    if (IsSpaceError(id)) {
        Show(IDC_CHOOSE);
        std::wstring second = LoadText(IDS_SELECT_TEMP_LOCATION);
        SetText(IDC_SECOND_TEXT, second);
        WriteLog(L"*** Secondary error string: '%s' ***", second.c_str());
    } else {
        Hide(IDC_CHOOSE);
        std::wstring second = LoadText(IDS_GET_ANOTHER_COPY);
        WriteLog(L"*** Secondary error string: '%s' ***", second.c_str());
        SetText(IDC_SECOND_TEXT, second);
    }
    Show(IDC_ICON_ERROR);
}

void AskForTempLocation() {
    WriteLog(L"Dialog: There is not enough free disk in the temporary folder.");
    SetText(IDC_MAIN_TEXT, LoadText(IDS_NO_TEMP_SPACE));
    WriteLog(L"Dialog: Please select a temporary location to extract the installer to:");
    SetText(IDC_SECOND_TEXT, LoadText(IDS_SELECT_TEMP_LOCATION));
    Show(IDC_SECOND_TEXT);
    Hide(IDC_ACTIVITY_TEXT);
    Show(IDC_CHOOSE);
    Hide(IDC_PERCENT_TEXT);
    Hide(IDC_PROGRESS);
}

void AskForAnotherLocation(const std::wstring& text) {
    WriteLog(L"Dialog: Please select another location to extract the installer to:");
    SetText(IDC_SECOND_TEXT, LoadText(IDS_SELECT_ANOTHER_LOCATION));
    SetText(IDC_MAIN_TEXT, text);
    Show(IDC_SECOND_TEXT);
    Hide(IDC_ACTIVITY_TEXT);
    Show(IDC_CHOOSE);
    Hide(IDC_PERCENT_TEXT);
    Hide(IDC_ICON_NORMAL);
    Show(IDC_ICON_WARNING);
    Hide(IDC_PROGRESS);
}

void UpdatePercent(int percent) {
    wchar_t text[kTextCapacity];
    FormatBounded(text, kTextCapacity, L"%d%%", percent);
    SetText(IDC_PERCENT_TEXT, text);
    SetProgressPosition(g_run.dialog, IDC_PROGRESS, percent);
}
