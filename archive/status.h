// Status codes of the archive library and the status block that every
// library object carries.
//
// Result convention of every library operation: 0 is success, a negative
// value is one of the codes below (recorded in the object's status block as
// well), a positive value is a count or a byte value. Test results with
// "< 0", never with "!= 0". AL_END_OF_FILE is a return value only and is
// never stored in a block.
#pragma once

#include <cstdint>

constexpr int32_t AL_NO_ERRORS = 0;
constexpr int32_t AL_END_OF_FILE = -1;
constexpr int32_t AL_CANT_ALLOCATE_BUFFER = -1200;
constexpr int32_t AL_MEMORY_ALLOCATION_FAILURE = -1999;
constexpr int32_t AL_CANT_CREATE_COMPRESSION_ENGINE = -1998;
constexpr int32_t AL_CANT_CREATE_STORAGE_OBJECT = -1997;
constexpr int32_t AL_ERROR_RENAMING_FILE = -1996;
constexpr int32_t AL_CANT_OPEN_FILE = -1995;
constexpr int32_t AL_SEEK_ERROR = -1994;
constexpr int32_t AL_READ_ERROR = -1993;
constexpr int32_t AL_WRITE_ERROR = -1992;
constexpr int32_t AL_FILE_DELETION_ERROR = -1991;
constexpr int32_t AL_ILLEGAL_PARAMETER = -1990;
constexpr int32_t AL_INTERNAL_ERROR = -1989;
constexpr int32_t AL_USER_ABORT = -1988;
constexpr int32_t AL_SERVER_NOT_PRESENT = -1987;
constexpr int32_t AL_MISMATCH_IN_COMPRESSION_TYPE = -1986;
constexpr int32_t AL_MISSING_LENGTH_PARAMETER = -1985;
constexpr int32_t AL_CRC_ERROR = -1984;
// -1983 and -1982 are unused and have no text.
constexpr int32_t AL_UNKNOWN_TYPE_OF_STORAGE_OBJECT = -1981;
constexpr int32_t AL_INVALID_ARCHIVE = -1980;
constexpr int32_t AL_LOGIC_ERROR = -1979;
constexpr int32_t AL_COULD_NOT_CREATE_BACKUP = -1978;
constexpr int32_t AL_ERROR_GETTING_SELECTIONS_FROM_LIST_BOX = -1977;
constexpr int32_t AL_DUPLICATE_ENTRY = -1976;
constexpr int32_t AL_INVALID_KEY = -1975;
constexpr int32_t AL_MISSING_CRYPTO_ENGINE = -1974;

// A status code plus an optional detail text naming the object and the
// cause. The detail buffer holds at most 128 characters (capacity 129 with
// the terminator) and is allocated on the first failure that has a text.
//
// Nothing in the library resets a block: owners treat a negative code as
// sticky (a storage refuses further I/O once it has failed).
class ALStatusBlock {
public:
    static constexpr int32_t kDetailCapacity = 129;

    ALStatusBlock() = default;
    ~ALStatusBlock();
    ALStatusBlock(const ALStatusBlock&) = delete;
    ALStatusBlock& operator=(const ALStatusBlock&) = delete;

    // Records code and, unless format is null, the detail text formatted
    // with FormatBounded rules (%s a wide string, %d/%ld a 32-bit int) and
    // cut at 128 characters. A null format removes the detail. Returns code,
    // so that operations can end with "return status.SetError(...)".
    int32_t SetError(int32_t code, const wchar_t* format, ...);

    // Copies the code and the detail text (a separate copy) of other.
    ALStatusBlock& SetStatusFrom(const ALStatusBlock& other);

    // The detail text; without one, "No errors" for code 0 and "Unable to
    // allocate memory for error detail message" otherwise.
    const wchar_t* GetStatusDetail() const;

    int32_t GetStatusCode() const { return code_; }
    // The recorded detail text, or null when there is none.
    const wchar_t* GetDetailText() const { return detail_; }

private:
    // Allocates the detail buffer unless it exists; false when that failed.
    bool EnsureDetailBuffer();
    void ReleaseDetail();

    int32_t code_ = AL_NO_ERRORS;
    int32_t detail_capacity_ = kDetailCapacity;
    wchar_t* detail_ = nullptr;
};
