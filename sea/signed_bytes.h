// The self-extractor's own file, read only as far as its signature covers.
#pragma once

#include <string>

#include "archive/storage.h"
#include "pe/certificate_table.h"

// A ByteSource over an open storage (its position moves).
class StorageByteSource : public ByteSource {
public:
    explicit StorageByteSource(ALStorage& storage) : storage_(storage) {}
    bool Read(uint64_t offset, size_t count, uint8_t* out) override;

private:
    ALStorage& storage_;
};

// Opens own (unless it is open) and applies the certificate-table rules to
// it through the same descriptor the archive then reads. Signed or
// unsigned: bounds own's reads to the signed bytes (all of an unsigned
// file) and returns true. Damaged: false with the cause in damage. A file
// that cannot be opened or sized returns true with its failure left in
// the storage's status, for the archive to report as before.
bool LimitToSignedBytes(ALStorage& own, std::wstring& damage);

// The failure of a damaged certificate table, at the point where the
// archive would be read: the cause logged, then the error panel of an
// own file that cannot be extracted from (string 9, "Please get another
// copy of the installer" beneath it). The caller restores and removes.
void ReportDamagedSignature(const std::wstring& damage);
