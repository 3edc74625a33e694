#include "sea/status_text.h"

#include "archive/status.h"
#include "sea/log.h"

namespace {

// Texts of the consecutive codes -1999 .. -1974, indexed by code + 1999.
const wchar_t* const kTexts[] = {
    L"Memory allocation failure",               // -1999
    L"Can't create compression engine",         // -1998
    L"Can't create storage object",             // -1997
    L"Error renaming file",                     // -1996
    L"Can't open file",                         // -1995
    L"Seek error",                              // -1994
    L"Read error",                              // -1993
    L"Write error",                             // -1992
    L"File deletion error",                     // -1991
    L"Illegal parameter",                       // -1990
    L"Internal error",                          // -1989
    L"User abort",                              // -1988
    L"Server not present",                      // -1987
    L"Mismatch in compression type",            // -1986
    L"Missing length parameter",                // -1985
    L"CRC Error",                               // -1984
    nullptr,                                    // -1983
    nullptr,                                    // -1982
    L"Unknown type of storage object",          // -1981
    L"Invalid archive",                         // -1980
    L"Logic error",                             // -1979
    L"Could not create backup",                 // -1978
    L"Error getting selections from list box",  // -1977
    L"Duplicate entry",                         // -1976
    L"Invalid key",                             // -1975
    L"Missing Crypto engine",                   // -1974
};

static_assert(sizeof(kTexts) / sizeof(kTexts[0]) ==
                  AL_MISSING_CRYPTO_ENGINE - AL_MEMORY_ALLOCATION_FAILURE + 1,
              "one text per code of the consecutive run");

}  // namespace

const wchar_t* StatusCodeText(int32_t code) {
    if (code == AL_END_OF_FILE) return L"End of file";
    if (code == AL_CANT_ALLOCATE_BUFFER) return L"Can't allocate buffer";
    if (code < AL_MEMORY_ALLOCATION_FAILURE || code > AL_MISSING_CRYPTO_ENGINE) return nullptr;
    return kTexts[code - AL_MEMORY_ALLOCATION_FAILURE];
}

void LogStatusCodeText(int32_t code) {
    const wchar_t* text = StatusCodeText(code);
    if (text) WriteLog(L"Code %ld = '%s'", code, text);
}
