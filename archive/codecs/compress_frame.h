// CompressFrame: steps 1, 2 and 4 of every compressor's Compress call (see
// archive/compressors.h), shared by the compressors of the library.
#pragma once

#include "archive/status.h"
#include "archive/storage.h"

// Steps 1 and 2 of every Compress call, and its clean-up: opens what has
// no buffer, remembers what it opened, and closes exactly that again.
class CompressFrame {
public:
    CompressFrame(ALStorage& input, ALStorage& output) : input_(input), output_(output) {
        if (!input_.buffer) {
            input_.Open();
            opened_input_ = true;
        }
        if (!output_.buffer) {
            output_.Create();
            opened_output_ = true;
        }
    }
    CompressFrame(const CompressFrame&) = delete;
    CompressFrame& operator=(const CompressFrame&) = delete;

    // Copies a failure of the input, else one of the output, into status;
    // true when both storages are healthy.
    bool Healthy(ALStatusBlock& status) const {
        if (input_.status.GetStatusCode() < 0) {
            status.SetStatusFrom(input_.status);
            return false;
        }
        if (output_.status.GetStatusCode() < 0) {
            status.SetStatusFrom(output_.status);
            return false;
        }
        return true;
    }

    // Closes what the frame opened, the output first. The output's last
    // flush happens here, so the storages are examined only afterwards:
    // a write that fails while closing is a failure of the compression.
    int32_t Finish(ALStatusBlock& status) {
        if (opened_output_) output_.Close();
        if (opened_input_) input_.Close();
        opened_output_ = opened_input_ = false;
        Healthy(status);
        return status.GetStatusCode();
    }

    ~CompressFrame() {
        if (opened_output_) output_.Close();
        if (opened_input_) input_.Close();
    }

private:
    ALStorage& input_;
    ALStorage& output_;
    bool opened_input_ = false;
    bool opened_output_ = false;
};
