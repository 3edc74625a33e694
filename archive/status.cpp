#include "archive/status.h"

#include <cstdarg>
#include <cwchar>
#include <new>

#include "platform/format.h"

namespace {
// Formatting happens in a work area twice the detail size, so that names of
// any length are cut, never written past a buffer.
constexpr size_t kWorkArea = 256;
}  // namespace

ALStatusBlock::~ALStatusBlock() { ReleaseDetail(); }

void ALStatusBlock::ReleaseDetail() {
    delete[] detail_;
    detail_ = nullptr;
}

bool ALStatusBlock::EnsureDetailBuffer() {
    if (!detail_) detail_ = new (std::nothrow) wchar_t[detail_capacity_];
    return detail_ != nullptr;
}

int32_t ALStatusBlock::SetError(int32_t code, const wchar_t* format, ...) {
    code_ = code;
    if (!format) {
        ReleaseDetail();
        return code;
    }
    wchar_t work[kWorkArea];
    va_list args;
    va_start(args, format);
    FormatBoundedV(work, kWorkArea, format, args);
    va_end(args);
    if (!EnsureDetailBuffer()) return code;
    const size_t limit = static_cast<size_t>(detail_capacity_ - 1);
    wcsncpy(detail_, work, limit);
    detail_[limit] = L'\0';
    return code;
}

ALStatusBlock& ALStatusBlock::SetStatusFrom(const ALStatusBlock& other) {
    if (&other == this) return *this;
    if (other.detail_) {
        if (EnsureDetailBuffer()) {
            const size_t limit = static_cast<size_t>(detail_capacity_ - 1);
            wcsncpy(detail_, other.detail_, limit);
            detail_[limit] = L'\0';
        }
    } else {
        ReleaseDetail();
    }
    code_ = other.code_;
    return *this;
}

const wchar_t* ALStatusBlock::GetStatusDetail() const {
    if (detail_) return detail_;
    if (code_ == AL_NO_ERRORS) return L"No errors";
    return L"Unable to allocate memory for error detail message";
}
