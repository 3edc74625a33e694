// The controls of the progress dialog's template as it creates them, with
// the English texts: the headless dialog builds its control store from
// this, and tests build their stand-in dialogs from it.
#pragma once

#include <cstddef>

#include "platform/dialog_controls.h"
#include "resources/resource_ids.h"

inline constexpr ControlSpec kTemplateControls[] = {
    {IDC_OK, ControlKind::kButton, L"OK", false},
    {IDC_CANCEL, ControlKind::kButton, L"Cancel", true},
    {IDC_MAIN_TEXT, ControlKind::kText, L"Quillora is preparing to install...", true},
    {IDC_ACTIVITY_TEXT, ControlKind::kText, L"Extracting...", true},
    {IDC_SECOND_TEXT, ControlKind::kText, L"", true},
    {IDC_PROGRESS, ControlKind::kProgress, L"", true},
    {IDC_PERCENT_TEXT, ControlKind::kText, L"0%", true},
    {IDC_SPACER, ControlKind::kText, L" ", true},
    {IDC_CHOOSE, ControlKind::kButton, L"&Choose...", false},
    {IDC_ICON_NORMAL, ControlKind::kIcon, L"", true},
    {IDC_ICON_ERROR, ControlKind::kIcon, L"", true},
    {IDC_ICON_WARNING, ControlKind::kIcon, L"", true},
    {IDC_FOOTER, ControlKind::kButton, L"Button1", true},
};
inline constexpr size_t kTemplateControlCount = sizeof kTemplateControls / sizeof kTemplateControls[0];
