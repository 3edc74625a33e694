// The visible states of the progress dialog, in one place.
//
// Every operation changes the dialog of the run state (g_run.dialog) and
// writes its log lines. In the silent and console run modes there is no
// dialog: the control changes then do nothing and the log lines are still
// written, so the same driver code runs in every mode.
#pragma once

#include <string>

// Initialisation of the dialog: progress range 0..100 with step 1, second
// text empty, normal icon shown, error and warning icons hidden.
void ShowInitialState();

// The three state icons (normal 108, error 111, warning 110) loaded in the
// image made for the dialog's current scale; their visibility is left as
// it is. Called at initialisation and whenever the scale changes.
void ShowScaledIcons();

// Preparing state, set at the start of every extraction attempt: logs
// "Dialog: Preparing to install...", main text string 5, second text empty,
// activity label, percentage, normal icon, progress bar and second text
// shown; Choose... and the error and warning icons hidden.
void ShowPreparing();

// Error panel for string id `id`: main text string `id`, logged as
// "*** Error %ld: '%s' ***"; the space errors (2, 14, 17) offer Choose...
// with string 3 as second text, every other id hides it and shows string 1.
void ShowError(int id);

// Request for a temporary location (not enough room, working directory not
// created or entered): main text string 2, second text string 3, Choose...
void AskForTempLocation();

// Request for another location with main text `text` (extraction or the
// location file failed): second text string 4, Choose..., warning icon.
void AskForAnotherLocation(const std::wstring& text);

// Percentage text "n%" and progress bar position n.
void UpdatePercent(int percent);

// String-table entry `id` of the run state's module (256 characters).
std::wstring LoadText(int id);
