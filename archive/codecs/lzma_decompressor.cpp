#include "archive/codecs/lzma_decompressor.h"

#include <LzmaDec.h>

#include <new>

#include "archive/codecs/decoder_io.h"
#include "archive/codecs/decoder_memory.h"
#include "archive/storage.h"

namespace {

using decoder_io::CompressedInput;
using decoder_io::FailDamaged;
using decoder_io::OutputBudget;

constexpr uint32_t kCrcStart = 0xFFFFFFFFu;
constexpr wchar_t kCodec[] = L"LZMA";

// The ZIP form of the header: version (2), properties size (2), properties.
constexpr unsigned kPropertiesSize = LZMA_PROPS_SIZE;  // lc/lp/pb byte + dictionary
constexpr uint32_t kSmallestDictionary = 1u << 12;     // LzmaDec's own minimum
constexpr uint32_t kFixedProbabilities = 1846;         // LzmaDec: LZMA_BASE_SIZE
constexpr uint32_t kLiteralProbabilities = 0x300;      // per literal context
// Where the decoder is pointed when there is no input (never read).
const uint8_t kNoInput = 0;

// The LZMA SDK's allocator interface over a DecoderMemory. ISzAlloc comes
// first, so the SDK's pointer to it is a pointer to the whole.
struct SdkAlloc {
    ISzAlloc sdk;
    DecoderMemory* memory;
};

void* SdkAllocate(void* p, size_t size) { return static_cast<SdkAlloc*>(p)->memory->Allocate(size); }
void SdkFree(void* p, void* address) { static_cast<SdkAlloc*>(p)->memory->Free(address); }

// The properties read from a member's header, with the dictionary cut to
// what the member can use.
struct Properties {
    uint8_t bytes[kPropertiesSize];
    uint32_t dictionary = 0;
    uint32_t need = 0;  // dictionary + probability tables, in bytes
};

uint32_t LittleEndian32(const uint8_t* p) {
    return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// Reads the 4-byte ZIP header and the properties; false (the output's
// status recorded) when they are cut short or not LZMA properties.
bool ReadProperties(CompressedInput& compressed, ALStorage& output, Properties& props) {
    uint8_t header[4];
    bool whole = true;
    for (uint8_t& b : header) whole = whole && compressed.ReadByte(b);
    if (whole && (header[2] | (header[3] << 8)) != kPropertiesSize) {
        FailDamaged(output, kCodec, L"have a properties size other than 5");
        return false;
    }
    for (uint8_t& b : props.bytes) whole = whole && compressed.ReadByte(b);
    if (!whole) {
        FailDamaged(output, kCodec, L"end within the header");
        return false;
    }
    if (props.bytes[0] >= 9 * 5 * 5) {
        FailDamaged(output, kCodec, L"have invalid lc/lp/pb properties");
        return false;
    }
    return true;
}

// The dictionary a member can use: the header's, cut to the member's size
// (no distance in its data can reach further back), never below the SDK's.
uint32_t UsableDictionary(uint32_t dictionary, uint64_t member_size) {
    if (dictionary > member_size) dictionary = static_cast<uint32_t>(member_size);
    return dictionary < kSmallestDictionary ? kSmallestDictionary : dictionary;
}

// The dictionary plus the probability tables that lc and lp ask for.
uint64_t DecodingNeed(uint8_t lclppb, uint32_t dictionary) {
    const unsigned lc = lclppb % 9;
    const unsigned lp = lclppb / 9 % 5;
    return dictionary +
           (kFixedProbabilities + (uint64_t{kLiteralProbabilities} << (lc + lp))) * sizeof(CLzmaProb);
}

// Cuts the dictionary to the member's size (no distance in its data can
// reach further back) and works out what decoding will hold. False (the
// output's status recorded) when that is more than the cap.
bool SizeDictionary(Properties& props, const OutputBudget& budget, ALStorage& output) {
    const uint32_t dictionary = UsableDictionary(LittleEndian32(props.bytes + 1),
                                                 budget.Limited() ? budget.Limit() : UINT64_MAX);
    props.bytes[1] = static_cast<uint8_t>(dictionary);
    props.bytes[2] = static_cast<uint8_t>(dictionary >> 8);
    props.bytes[3] = static_cast<uint8_t>(dictionary >> 16);
    props.bytes[4] = static_cast<uint8_t>(dictionary >> 24);
    const uint64_t need = DecodingNeed(props.bytes[0], dictionary);
    props.dictionary = dictionary;
    if (need > kDecoderMemoryCap) {
        output.status.SetError(AL_INVALID_ARCHIVE,
                               L"LZMA data of %s need %lu KB to decode, more than the %lu KB allowed",
                               output.GetName(), static_cast<uint32_t>(need >> 10),
                               kDecoderMemoryCap >> 10);
        return false;
    }
    props.need = static_cast<uint32_t>(need);
    return true;
}

// After the last input: the data must end here, at an end marker or
// without one (then at the declared size).
void CheckEnd(CLzmaDec& decoder, const OutputBudget& budget, ALStorage& output) {
    SizeT none = 0;
    SizeT no_input = 0;
    ELzmaStatus state = LZMA_STATUS_NOT_SPECIFIED;
    const SRes result = LzmaDec_DecodeToBuf(&decoder, output.buffer, &none, &kNoInput, &no_input,
                                            LZMA_FINISH_END, &state);
    if (result != SZ_OK || (state != LZMA_STATUS_FINISHED_WITH_MARK &&
                            state != LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK)) {
        FailDamaged(output, kCodec, L"are cut short");
    } else if (budget.Limited() && budget.Left() > 0) {
        budget.FailShort(output);
    }
}

// Decodes until the end marker, the end of the input, damage, or a
// failure of the output. Each run goes from the decoder into the output
// buffer and is flushed from there.
void DecodeLoop(CLzmaDec& decoder, CompressedInput& compressed, ALStorage& output,
                OutputBudget& budget) {
    for (;;) {
        const bool have_input = compressed.Take();
        SizeT produced = budget.Space(output);
        SizeT consumed = have_input ? compressed.available : 0;
        ELzmaStatus state = LZMA_STATUS_NOT_SPECIFIED;
        const uint8_t* data = have_input ? compressed.data : &kNoInput;
        const SRes result = LzmaDec_DecodeToBuf(&decoder, output.buffer, &produced, data, &consumed,
                                                LZMA_FINISH_ANY, &state);
        compressed.Consume(static_cast<uint32_t>(consumed));
        if (!budget.Deliver(output, static_cast<uint32_t>(produced))) return;
        if (result != SZ_OK) return FailDamaged(output, kCodec, L"are damaged");
        if (state == LZMA_STATUS_FINISHED_WITH_MARK) {
            if (budget.Limited() && budget.Left() > 0) budget.FailShort(output);
            return;
        }
        if (produced == 0 && consumed == 0) {
            // No progress: the input is used up, or the decoder is stuck.
            if (!have_input) return CheckEnd(decoder, budget, output);
            return FailDamaged(output, kCodec, L"are damaged");
        }
    }
}

}  // namespace

ALLzmaDecompressor::ALLzmaDecompressor() : ALDecompressor(AL_ENGINE_ZIP_LZMA, "LZMA") {}

ALDecompressor* ALLzmaDecompressor::Clone(int32_t engine_type) const {
    if (engine_type != AL_ENGINE_DEFAULT && engine_type != AL_ENGINE_ZIP_LZMA) return nullptr;
    return new (std::nothrow) ALLzmaDecompressor();
}

int32_t ALLzmaDecompressor::Decompress(ALStorage& input, ALStorage& output,
                                       int32_t compressed_length) {
    decoder_io::StoragePair storages(input, output);
    if (decoder_io::AdoptFailure(status, input, output) < 0) return status.GetStatusCode();
    output.StartCrc32(kCrcStart);
    output.FlushBuffer();  // the decoder writes from the start of an empty buffer
    CompressedInput compressed(input, compressed_length);
    OutputBudget budget(output_limit);
    Properties props;
    DecoderMemory memory;
    if (ReadProperties(compressed, output, props) && SizeDictionary(props, budget, output)) {
        SdkAlloc alloc = {{SdkAllocate, SdkFree}, &memory};
        CLzmaDec decoder;
        LzmaDec_Construct(&decoder);
        if (LzmaDec_Allocate(&decoder, props.bytes, kPropertiesSize, &alloc.sdk) != SZ_OK) {
            FailDamaged(output, kCodec, L"need more memory than is free");
        } else {
            LzmaDec_Init(&decoder);
            DecodeLoop(decoder, compressed, output, budget);
            LzmaDec_Free(&decoder, &alloc.sdk);
        }
    }
    memory_peak = memory.Peak();
    return decoder_io::AdoptFailure(status, input, output);
}

uint64_t ALLzmaDecompressor::MemoryFor(const uint8_t* head, size_t count, uint64_t member_size) {
    constexpr size_t kHeaderBytes = 4 + kPropertiesSize;
    if (count < kHeaderBytes || head[4] >= 9 * 5 * 5) return kDecoderMemoryCap;
    const uint64_t need = DecodingNeed(head[4], UsableDictionary(LittleEndian32(head + 5), member_size));
    return need < kDecoderMemoryCap ? need : kDecoderMemoryCap;
}
