#include "archive/codecs/zstd_decompressor.h"

#define ZSTD_STATIC_LINKING_ONLY  // frame headers, custom allocators, estimates
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "archive/codecs/decoder_io.h"
#include "archive/codecs/decoder_memory.h"
#include "archive/storage.h"

namespace {

using decoder_io::CompressedInput;
using decoder_io::FailDamaged;
using decoder_io::OutputBudget;

constexpr uint32_t kCrcStart = 0xFFFFFFFFu;
constexpr wchar_t kCodec[] = L"Zstandard";

// Frame header: magic (4), Frame_Header_Descriptor, then the
// Window_Descriptor unless Single_Segment_flag (descriptor bit 5) is set.
constexpr size_t kDescriptorOffset = 4;
constexpr size_t kWindowDescriptorOffset = 5;
constexpr uint8_t kSingleSegmentFlag = 0x20;
constexpr uint64_t kSmallestWindow = 1u << 10;

void* ZstdAllocate(void* opaque, size_t size) { return static_cast<DecoderMemory*>(opaque)->Allocate(size); }
void ZstdFree(void* opaque, void* address) { static_cast<DecoderMemory*>(opaque)->Free(address); }

// Window_Size of a Window_Descriptor: 2^(10 + Exponent) plus Mantissa eighths.
uint64_t WindowSizeOf(uint8_t descriptor) {
    const uint64_t base = uint64_t{1} << (10 + (descriptor >> 3));
    return base + (base / 8) * (descriptor & 7);
}

// One frame's header as read from the member, possibly with a smaller window.
struct FrameHeader {
    uint8_t bytes[ZSTD_FRAMEHEADERSIZE_MAX];
    size_t size = 0;
    ZSTD_frameHeader fields;
};

enum class HeaderRead { kFrame, kNoMore, kFailed };

// Reads the next frame header byte by byte, as many as it turns out to
// have. kNoMore when the data end before a frame begins.
HeaderRead ReadFrameHeader(CompressedInput& compressed, ALStorage& output, FrameHeader& header) {
    header.size = 0;
    for (;;) {
        const size_t need = ZSTD_getFrameHeader(&header.fields, header.bytes, header.size);
        if (ZSTD_isError(need)) {
            FailDamaged(output, kCodec, L"have no valid frame header");
            return HeaderRead::kFailed;
        }
        if (need == 0) return HeaderRead::kFrame;
        while (header.size < need && header.size < sizeof header.bytes) {
            if (!compressed.ReadByte(header.bytes[header.size])) {
                if (header.size == 0) return HeaderRead::kNoMore;
                FailDamaged(output, kCodec, L"end within a frame header");
                return HeaderRead::kFailed;
            }
            ++header.size;
        }
    }
}

// A frame may need a window as large as what it can still produce, and no
// larger: its Window_Descriptor is lowered to the smallest one that covers
// that. Then what the decoder will hold is checked against the cap. False
// (the output's status recorded) for a frame that claims more content than
// the member has left, or needs too much memory.
bool SizeWindow(FrameHeader& header, const OutputBudget& budget, ALStorage& output) {
    const ZSTD_frameHeader& fields = header.fields;
    if (fields.frameType != ZSTD_frame) return true;
    uint64_t window = fields.windowSize;
    if (budget.Limited()) {
        const uint64_t left = static_cast<uint64_t>(budget.Left());
        if (fields.frameContentSize != ZSTD_CONTENTSIZE_UNKNOWN && fields.frameContentSize > left) {
            budget.Fail(output);
            return false;
        }
        const uint64_t enough = left > kSmallestWindow ? left : kSmallestWindow;
        if (!(header.bytes[kDescriptorOffset] & kSingleSegmentFlag) && window > enough) {
            uint8_t descriptor = 0;
            while (WindowSizeOf(descriptor) < enough) ++descriptor;
            header.bytes[kWindowDescriptorOffset] = descriptor;
            window = WindowSizeOf(descriptor);
        }
    }
    const uint64_t need = window > kDecoderMemoryCap ? window : ZSTD_estimateDStreamSize(window);
    if (need > kDecoderMemoryCap) {
        output.status.SetError(AL_INVALID_ARCHIVE,
                               L"Zstandard data of %s need %lu KB to decode, more than the %lu KB allowed",
                               output.GetName(), static_cast<uint32_t>(need >> 10),
                               kDecoderMemoryCap >> 10);
        return false;
    }
    return true;
}

// Streams `in` through the decoder into the output until the frame ends
// (true), the input is used up (false, status untouched) or something
// fails (false, the output's status recorded).
bool Pump(ZSTD_DCtx& context, ZSTD_inBuffer& in, ALStorage& output, OutputBudget& budget,
          bool& frame_done) {
    for (;;) {
        ZSTD_outBuffer out = {output.buffer, budget.Space(output), 0};
        const size_t result = ZSTD_decompressStream(&context, &out, &in);
        if (!budget.Deliver(output, static_cast<uint32_t>(out.pos))) return false;
        if (ZSTD_isError(result)) {
            FailDamaged(output, kCodec,
                        ZSTD_getErrorCode(result) == ZSTD_error_checksum_wrong
                            ? L"fail their content checksum"
                            : L"are damaged");
            return false;
        }
        if (result == 0) {
            frame_done = true;
            return true;
        }
        if (in.pos == in.size && out.pos < out.size) return true;  // wants more input
    }
}

// Decodes one frame whose header has been read.
bool DecodeFrame(ZSTD_DCtx& context, FrameHeader& header, CompressedInput& compressed,
                 ALStorage& output, OutputBudget& budget) {
    bool frame_done = false;
    ZSTD_inBuffer in = {header.bytes, header.size, 0};
    if (!Pump(context, in, output, budget, frame_done)) return false;
    while (!frame_done) {
        if (!compressed.Take()) {
            FailDamaged(output, kCodec, L"are cut short");
            return false;
        }
        in = {compressed.data, compressed.available, 0};
        const bool going = Pump(context, in, output, budget, frame_done);
        compressed.Consume(static_cast<uint32_t>(in.pos));
        if (!going) return false;
    }
    return true;
}

// The decoder, made when the first frame has passed its checks, so that a
// member refused for its header costs no memory.
class LazyContext {
public:
    explicit LazyContext(DecoderMemory& memory) : allocator_{ZstdAllocate, ZstdFree, &memory} {}
    ~LazyContext() { ZSTD_freeDCtx(context_); }  // null is fine
    LazyContext(const LazyContext&) = delete;
    LazyContext& operator=(const LazyContext&) = delete;
    ZSTD_DCtx* Get() {
        if (!context_) context_ = ZSTD_createDCtx_advanced(allocator_);
        return context_;
    }

private:
    ZSTD_customMem allocator_;
    ZSTD_DCtx* context_ = nullptr;
};

// Every frame of the member, one after the other; at least one.
void DecodeFrames(LazyContext& context, CompressedInput& compressed, ALStorage& output,
                  OutputBudget& budget) {
    FrameHeader header;
    for (int frames = 0;; ++frames) {
        const HeaderRead read = ReadFrameHeader(compressed, output, header);
        if (read == HeaderRead::kFailed) return;
        if (read == HeaderRead::kNoMore) {
            if (frames == 0) {
                FailDamaged(output, kCodec, L"hold no frame");
            } else if (budget.Limited() && budget.Left() > 0) {
                budget.FailShort(output);
            }
            return;
        }
        if (!SizeWindow(header, budget, output)) return;
        ZSTD_DCtx* decoder = context.Get();
        if (!decoder) return FailDamaged(output, kCodec, L"need more memory than is free");
        if (!DecodeFrame(*decoder, header, compressed, output, budget)) return;
    }
}

}  // namespace

ALZstdDecompressor::ALZstdDecompressor() : ALDecompressor(AL_ENGINE_ZIP_ZSTD, "Zstandard") {}

ALDecompressor* ALZstdDecompressor::Clone(int32_t engine_type) const {
    if (engine_type != AL_ENGINE_DEFAULT && engine_type != AL_ENGINE_ZIP_ZSTD) return nullptr;
    return new (std::nothrow) ALZstdDecompressor();
}

int32_t ALZstdDecompressor::Decompress(ALStorage& input, ALStorage& output,
                                       int32_t compressed_length) {
    decoder_io::StoragePair storages(input, output);
    if (decoder_io::AdoptFailure(status, input, output) < 0) return status.GetStatusCode();
    output.StartCrc32(kCrcStart);
    output.FlushBuffer();  // the decoder writes from the start of an empty buffer
    DecoderMemory memory;
    {
        LazyContext context(memory);
        CompressedInput compressed(input, compressed_length);
        OutputBudget budget(output_limit);
        DecodeFrames(context, compressed, output, budget);
    }
    memory_peak = memory.Peak();
    return decoder_io::AdoptFailure(status, input, output);
}

uint64_t ALZstdDecompressor::MemoryFor(const uint8_t* head, size_t count, uint64_t member_size) {
    // The context, a block and the input buffer: about what ZSTD_estimateDStreamSize adds.
    constexpr uint64_t kDecoderState = 512u << 10;
    uint64_t window = member_size;
    const bool frame = count > kWindowDescriptorOffset &&
                       (head[0] | (head[1] << 8) | (head[2] << 16) | (uint32_t{head[3]} << 24)) ==
                           ZSTD_MAGICNUMBER;
    if (frame && !(head[kDescriptorOffset] & kSingleSegmentFlag)) {
        window = std::min<uint64_t>(window, WindowSizeOf(head[kWindowDescriptorOffset]));
    }
    return std::min<uint64_t>(window + kDecoderState, kDecoderMemoryCap);
}
