// LZMA and Zstandard data for tests, as ZIP members carry them: an LZMA
// member's 4-byte header (version, properties size 5), properties and
// stream; a Zstandard frame. Made with the encoders of the LZMA SDK and
// libzstd, which the tests link and the stub never does.
#pragma once

#include <LzmaEnc.h>
#include <zstd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace codec_bytes {

inline void* SdkAlloc(void*, size_t size) { return malloc(size); }
inline void SdkFree(void*, void* address) { free(address); }

// dictionary 0: the level's own; lc 3, lp 0, pb 2 unless given.
inline std::string LzmaMember(const std::string& data, bool end_marker, uint32_t dictionary = 0,
                              int level = 5, int lc = 3, int lp = 0) {
    ISzAlloc alloc = {SdkAlloc, SdkFree};
    CLzmaEncProps props;
    LzmaEncProps_Init(&props);
    props.level = level;
    if (dictionary) props.dictSize = dictionary;
    props.lc = lc;
    props.lp = lp;
    std::string out(data.size() + data.size() / 2 + 1024, '\0');
    SizeT out_size = out.size();
    Byte encoded[LZMA_PROPS_SIZE];
    SizeT encoded_size = LZMA_PROPS_SIZE;
    if (LzmaEncode(reinterpret_cast<Byte*>(&out[0]), &out_size,
                   reinterpret_cast<const Byte*>(data.data()), data.size(), &props, encoded,
                   &encoded_size, end_marker ? 1 : 0, nullptr, &alloc, &alloc) != SZ_OK) {
        return std::string();
    }
    out.resize(out_size);
    return std::string("\x09\x14\x05\x00", 4) +
           std::string(reinterpret_cast<const char*>(encoded), encoded_size) + out;
}

// A frame with the content checksum and the content size as asked; without
// the size it has a Window_Descriptor (byte 5).
inline std::string ZstdFrame(const std::string& data, int level = 3, bool checksum = true,
                             bool content_size = true, int window_log = 0) {
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, level);
    ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, checksum ? 1 : 0);
    ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, content_size ? 1 : 0);
    if (window_log) ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, window_log);
    std::string out(ZSTD_compressBound(data.size()), '\0');
    const size_t size = ZSTD_compress2(context, &out[0], out.size(), data.data(), data.size());
    ZSTD_freeCCtx(context);
    out.resize(ZSTD_isError(size) ? 0 : size);
    return out;
}

}  // namespace codec_bytes
