// The self-extractor's answer to a damaged certificate table.
#pragma once

#include <string>

// At the point where the archive would be read: the cause logged, then
// the error panel of an own file that cannot be extracted from (string 9,
// "Please get another copy of the installer" beneath it). The caller
// restores and removes.
void ReportDamagedSignature(const std::wstring& damage);
