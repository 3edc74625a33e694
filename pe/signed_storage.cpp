#include "pe/signed_storage.h"

#include <cstdint>

namespace {
constexpr uint64_t kMaxStoragePosition = INT32_MAX;
}  // namespace

bool StorageByteSource::Read(uint64_t offset, size_t count, uint8_t* out) {
    if (offset > kMaxStoragePosition || count > kMaxStoragePosition - offset) return false;
    if (storage_.Seek(static_cast<int32_t>(offset)) < 0) return false;
    return storage_.ReadBuffer(out, static_cast<int32_t>(count)) == static_cast<int32_t>(count);
}

bool LimitToSignedBytes(ALStorage& storage, std::wstring& damage) {
    if (!storage.buffer && storage.Open() < 0) return true;
    if (storage.GetSize() < 0) return true;
    StorageByteSource source(storage);
    const CertificateTableCheck check =
        CheckCertificateTable(static_cast<uint64_t>(storage.GetSize()), source);
    if (check.state == SignatureState::kDamaged) {
        damage = check.reason;
        return false;
    }
    storage.LimitReads(static_cast<int32_t>(check.signed_end));
    return true;
}
