#include "archive/codecs/decoder_io.h"

#include "archive/storage.h"

namespace decoder_io {

StoragePair::StoragePair(ALStorage& input, ALStorage& output) : input_(input), output_(output) {
    if (!input_.buffer) {
        input_.Open();
        close_input_ = true;
    }
    if (!output_.buffer) {
        output_.Create(-1);
        close_output_ = true;
    }
}

StoragePair::~StoragePair() {
    if (close_output_) output_.Close();
    if (close_input_) input_.Close();
}

int32_t AdoptFailure(ALStatusBlock& engine, const ALStorage& input, const ALStorage& output) {
    if (input.status.GetStatusCode() < 0) {
        engine.SetStatusFrom(input.status);
    } else if (output.status.GetStatusCode() < 0) {
        engine.SetStatusFrom(output.status);
    }
    return engine.GetStatusCode();
}

// --- CompressedInput -------------------------------------------------------------

CompressedInput::CompressedInput(ALStorage& input, int32_t compressed_length)
    : input_(input), left_(static_cast<uint32_t>(compressed_length)) {}

bool CompressedInput::Take() {
    if (available > 0) return true;
    if (left_ == 0) return false;
    int32_t unread = input_.read_limit - input_.read_index;
    if (unread <= 0) {
        if (input_.LoadBuffer(input_.file_position) < 0) return false;
        unread = input_.read_limit - input_.read_index;
        if (unread <= 0) return false;
    }
    uint32_t run = static_cast<uint32_t>(unread);
    if (run > left_) run = left_;
    left_ -= run;
    data = input_.buffer + input_.read_index;
    available = run;
    input_.read_index += static_cast<int32_t>(run);
    return true;
}

bool CompressedInput::ReadByte(uint8_t& byte) {
    if (!Take()) return false;
    byte = *data;
    Consume(1);
    return true;
}

// --- OutputBudget ------------------------------------------------------------------

uint32_t OutputBudget::Space(const ALStorage& output) const {
    int64_t space = output.buffer_size;
    if (Limited() && Left() + 1 < space) space = Left() + 1;
    return static_cast<uint32_t>(space);
}

bool OutputBudget::Deliver(ALStorage& output, uint32_t produced) {
    if (produced == 0) return output.status.GetStatusCode() >= 0;
    if (Limited() && produced > Left()) {
        Fail(output);
        return false;
    }
    output.write_index = static_cast<int32_t>(produced);
    if (output.FlushBuffer() < 0) return false;
    Count(static_cast<int32_t>(produced));
    return true;
}

void OutputBudget::Fail(ALStorage& output) const {
    output.status.SetError(AL_INVALID_ARCHIVE,
                           L"Decoded data of %s exceed the declared size of %lu bytes",
                           output.GetName(), static_cast<uint32_t>(limit_));
}

void OutputBudget::FailShort(ALStorage& output) const {
    output.status.SetError(AL_INVALID_ARCHIVE,
                           L"Decoded data of %s end after %lu of the declared %lu bytes",
                           output.GetName(), static_cast<uint32_t>(written_),
                           static_cast<uint32_t>(limit_));
}

void FailDamaged(ALStorage& output, const wchar_t* codec, const wchar_t* what) {
    output.status.SetError(AL_INVALID_ARCHIVE, L"%s data of %s %s", codec, output.GetName(), what);
}

}  // namespace decoder_io
