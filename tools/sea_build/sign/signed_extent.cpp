#include "tools/sea_build/sign/signed_extent.h"

#include "platform/file_stream.h"
#include "platform/stream_seek.h"

bool StreamByteSource::Read(uint64_t offset, size_t count, uint8_t* out) {
    if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
    return StreamSeek(stream_, static_cast<int64_t>(offset), SEEK_SET) &&
           fread(out, 1, count, stream_) == count;
}

bool CheckFileCertificateTable(const std::wstring& path, CertificateTableCheck& check,
                               uint64_t& file_size) {
    FILE* stream = OpenStream(path, "rb");
    if (!stream) return false;
    int64_t size = -1;
    const bool sized = StreamSeek(stream, 0, SEEK_END) && (size = StreamTell(stream)) >= 0;
    if (sized) {
        file_size = static_cast<uint64_t>(size);
        StreamByteSource source(stream);
        check = CheckCertificateTable(file_size, source);
    }
    fclose(stream);
    return sized;
}
