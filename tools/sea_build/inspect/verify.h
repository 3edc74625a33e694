// sea-build --verify: everything that makes a finished installer sound,
// checked in one step with a one-line verdict.
#pragma once

#include <string>

// Checks, in this order, and stops at the first fault: the PE headers, the
// certificate table by the self-extractor's rules (pe/certificate_table.h:
// a file cut short, or tampered after signing with data inside or after
// the table, a second entry, a bad directory), a ZIP end record inside
// the table or across its start, the ZIP end record before the table
// and the payload trailer behind it, the end record within the last
// 66,000 bytes, every entry's CRC-32, and the signature with osslsigncode
// (ca: the CA certificates to trust for the signature and its time stamp,
// empty for the system's). Prints
// "OK: ..." on standard output or "sea-build: FAILED: ..." on standard
// error, one line either way. Returns 0 when all holds, otherwise 1.
int VerifyInstaller(const std::wstring& path, const std::wstring& ca, bool progress);
