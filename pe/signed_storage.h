// An archive storage read only as far as a signed file's signature
// covers: the certificate-table rules (certificate_table.h) applied to the
// descriptor the archive then reads. Used by the self-extractor on its
// own file and by the builder on finished installers. (Library
// pe_storage: the PE module on top of the archive library.)
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

// Opens storage (unless it is open) and applies the rules to it. Signed or
// unsigned: bounds its reads to the signed bytes (all of an unsigned
// file, ALStorage::LimitReads) and returns true. Damaged: false with the
// cause in damage. A storage that cannot be opened or sized returns true
// with its failure left in its status, for the archive to report as it
// always has.
bool LimitToSignedBytes(ALStorage& storage, std::wstring& damage);
