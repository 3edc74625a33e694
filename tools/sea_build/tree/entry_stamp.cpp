#include "tools/sea_build/tree/entry_stamp.h"

#include "platform/environment.h"
#include "platform/file_attributes.h"
#include "platform/file_io.h"
#include "platform/interrupt.h"

namespace {

constexpr int64_t kLatestEpoch = 253402300799;  // 9999-12-31 23:59:59 UTC
constexpr int64_t kLatestUnsigned32 = 0xFFFFFFFF;

// The recorded time of path: the file's own (local time, as ALFile::Open
// took it) unless the rule clamps. False when the rule clamps and the
// modification time cannot be read.
bool ApplyRule(const std::wstring& path, const StampRule& rule, ALStorage& storage) {
    if (!rule.clamp) return true;
    int64_t modified = 0;
    int error = 0;
    if (!FileModifiedSeconds(path.c_str(), &modified, &error)) return false;
    storage.time_date = ClampedUtc(modified, rule.epoch);
    return true;
}

}  // namespace

bool ParseSourceDateEpoch(const std::wstring& text, int64_t& seconds) {
    if (text.empty() || text.size() > 12) return false;
    int64_t value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        value = value * 10 + (c - L'0');
    }
    if (value > kLatestEpoch) return false;
    seconds = value;
    return true;
}

bool ReadSourceDateEpoch(StampRule& rule, std::wstring& error) {
    rule = StampRule();
    std::wstring text;
    if (!GetEnvVar(L"SOURCE_DATE_EPOCH", 32768, text) || text.empty()) return true;
    if (!ParseSourceDateEpoch(text, rule.epoch)) {
        error = L"SOURCE_DATE_EPOCH must be a number of seconds since 1970-01-01 UTC, not \"" +
                text.substr(0, 40) + L"\"";
        return false;
    }
    rule.clamp = true;
    return true;
}

ALTimeDate ClampedUtc(int64_t modified, int64_t epoch) {
    int64_t seconds = modified < epoch ? modified : epoch;
    if (seconds < 0) seconds = 0;
    if (seconds > kLatestUnsigned32) seconds = kLatestUnsigned32;
    ALTimeDate time;
    time.FromUnixSeconds(static_cast<uint32_t>(seconds));
    return time;
}

int32_t SourceFile::Open() {
    if (ALFile::Open() < 0) return status.GetStatusCode();
    FileFacts opened;
    int error = 0;
    if (!QueryDescriptorFacts(descriptor(), opened, error) || opened.kind != FileKind::kRegular ||
        !(opened.identity == expected_.identity)) {
        ALFile::Close();
        // The archive writer puts the member's name in front.
        return status.SetError(AL_CANT_OPEN_FILE, L"replaced after the tree was walked");
    }
    if (!ApplyRule(GetName(), rule_, *this)) {
        return status.SetError(AL_CANT_OPEN_FILE, L"Couldn't get the modification time of %s.",
                               GetName());
    }
    attributes.SetArchive(true);
    return status.GetStatusCode();
}

int32_t SourceFile::LoadBuffer(int32_t position) {
    // An interrupted build stops at the next buffer, so that its files are
    // let go of and removed.
    if (InterruptRequested()) return status.SetError(AL_USER_ABORT, L"interrupted");
    const int32_t count = ALFile::LoadBuffer(position);
    const bool grew = count > 0 && file_position > expected_.size;
    const bool shrank = count == AL_END_OF_FILE && file_position < expected_.size;
    if (!grew && !shrank) return count;
    return status.SetError(AL_READ_ERROR,
                           L"changed size while it was read (%lld bytes when the tree was walked)",
                           static_cast<long long>(expected_.size));
}

void StampDirectory(const std::wstring& path, const StampRule& rule, ALStorage& storage) {
    int64_t size = 0;
    std::tm modified{};
    int error = 0;
    if (FileStatByName(path.c_str(), &size, &modified, &error)) storage.time_date.FromTm(modified);
    if (!ApplyRule(path, rule, storage)) storage.time_date = ClampedUtc(rule.epoch, rule.epoch);
    uint32_t native = 0;
    if (GetPathAttributes(path, native)) {
        storage.attributes.SetReadOnly(native & kAttrReadOnly);
        storage.attributes.SetHidden(native & kAttrHidden);
        storage.attributes.SetSystem(native & kAttrSystem);
    }
    storage.attributes.SetArchive(false);
    storage.attributes.SetDirectory(true);
}
