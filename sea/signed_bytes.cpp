#include "sea/signed_bytes.h"

#include <cstdint>

#include "resources/resource_ids.h"
#include "sea/dialog_state.h"
#include "sea/log.h"

namespace {
constexpr uint64_t kMaxStoragePosition = INT32_MAX;
}  // namespace

bool StorageByteSource::Read(uint64_t offset, size_t count, uint8_t* out) {
    if (offset > kMaxStoragePosition || count > kMaxStoragePosition - offset) return false;
    if (storage_.Seek(static_cast<int32_t>(offset)) < 0) return false;
    return storage_.ReadBuffer(out, static_cast<int32_t>(count)) == static_cast<int32_t>(count);
}

bool LimitToSignedBytes(ALStorage& own, std::wstring& damage) {
    if (!own.buffer && own.Open() < 0) return true;
    if (own.GetSize() < 0) return true;
    StorageByteSource source(own);
    const CertificateTableCheck check = CheckCertificateTable(static_cast<uint64_t>(own.GetSize()), source);
    if (check.state == SignatureState::kDamaged) {
        damage = check.reason;
        return false;
    }
    own.LimitReads(static_cast<int32_t>(check.signed_end));
    return true;
}

void ReportDamagedSignature(const std::wstring& damage) {
    WriteLog(L"*** FAILURE: The installer's certificate table is damaged: %s", damage.c_str());
    ShowError(IDS_CANNOT_EXTRACT);
}
