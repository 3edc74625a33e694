// Fuzzes the LZMA decompressor (see decoder_fuzz.h for the input's form).
#include "archive/codecs/lzma_decompressor.h"
#include "decoder_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return decoder_fuzz::Run<ALLzmaDecompressor>(data, size);
}
