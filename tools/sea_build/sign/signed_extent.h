// The certificate-table rules of the self-extractor (pe/certificate_table.h)
// applied to a file on disk, for the builder's checks of finished and
// externally signed installers.
#pragma once

#include <cstdio>
#include <string>

#include "pe/certificate_table.h"

// A ByteSource over an open stream (not owned).
class StreamByteSource : public ByteSource {
public:
    explicit StreamByteSource(FILE* stream) : stream_(stream) {}
    bool Read(uint64_t offset, size_t count, uint8_t* out) override;

private:
    FILE* stream_;
};

// Checks the certificate table of the file at path. False when the file
// cannot be opened or its size read; otherwise check holds the verdict
// (a read failure on the way counts as damage) and file_size the size.
bool CheckFileCertificateTable(const std::wstring& path, CertificateTableCheck& check,
                               uint64_t& file_size);
