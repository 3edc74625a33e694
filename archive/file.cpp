#include "archive/file.h"

#include <cerrno>
#include <ctime>
#include <new>
#include <string>

#include "platform/file_attributes.h"
#include "platform/file_io.h"
#include "platform/format.h"

namespace {

bool HasSeparator(const wchar_t* path) {
    for (; *path; ++path) {
        if (*path == L'/' || *path == L'\\') return true;
    }
    return false;
}

// Failures of a directory creation that do not stop the walk: the
// directory exists, or the component is a drive or an empty prefix.
bool IsToleratedMkdirError(int error) {
    return error == EACCES || error == EEXIST || error == ENFILE || error == ENOENT;
}

// Attributes are written as "normal" when none is set: an empty set is not
// a valid request on every file system.
bool WriteAttributes(const wchar_t* path, uint32_t native) {
    return SetPathAttributes(path, native ? native : kAttrNormal);
}

}  // namespace

ALFile::ALFile(const wchar_t* name, int32_t buffer_size, ALNameCase mode)
    : ALStorage(name, buffer_size, AL_STORAGE_FILE, mode) {}

ALFile::~ALFile() {
    if (descriptor_ != -1) Close();
}

int32_t ALFile::Open() {
    if (status.GetStatusCode() < 0) return status.GetStatusCode();
    if (descriptor_ != -1) Close();
    if (borrowed_ != -1) return OpenBorrowed();
    int error = 0;
    descriptor_ = FileOpenRead(GetName(), &error);
    if (descriptor_ == -1) {
        return status.SetError(AL_CANT_OPEN_FILE,
                               L"File open failure.  Open of %s returned errno = %d", GetName(),
                               static_cast<int32_t>(error));
    }
    if (ALStorage::Open() < 0) return status.GetStatusCode();
    int64_t file_size = 0;
    std::tm modified = {};
    if (!FileStatByName(GetName(), &file_size, &modified, &error)) {
        return status.SetError(AL_CANT_OPEN_FILE,
                               L"Couldn't get time, date, and size information for %s.  errno = %d.",
                               GetName(), static_cast<int32_t>(error));
    }
    size = BoundedSize(static_cast<int32_t>(static_cast<uint32_t>(file_size)));
    time_date.FromTm(modified);
    LoadAttributes();
    return status.GetStatusCode();
}

int32_t ALFile::OpenBorrowed() {
    int error = 0;
    if (!FileSeek(borrowed_, 0, &error)) {
        return status.SetError(AL_CANT_OPEN_FILE,
                               L"File open failure.  Open of %s returned errno = %d", GetName(),
                               static_cast<int32_t>(error));
    }
    descriptor_ = borrowed_;
    if (ALStorage::Open() < 0) return status.GetStatusCode();
    const int64_t length = FileLength(descriptor_);
    if (length < 0) {
        return status.SetError(AL_CANT_OPEN_FILE,
                               L"Couldn't get time, date, and size information for %s.  errno = %d.",
                               GetName(), static_cast<int32_t>(EBADF));
    }
    size = BoundedSize(static_cast<int32_t>(static_cast<uint32_t>(length)));
    return status.GetStatusCode();
}

int32_t ALFile::Create(int32_t size_hint) {
    if (status.GetStatusCode() < 0) return status.GetStatusCode();
    if (descriptor_ != -1) Close();
    if (ALStorage::Create(size_hint) < 0) return status.GetStatusCode();
    return name.IsEmpty() ? CreateTemporary() : CreateNamed();
}

int ALFile::OpenForWriting(int* error) {
    SetReadOnly(GetName(), false);
    return FileCreateTruncate(GetName(), error);
}

int32_t ALFile::CreateNamed() {
    // A directory entry ("a/b/" with the directory attribute) only gets its
    // directories; no file is ever opened in its place.
    const bool directory = attributes.Directory();
    int error = ENOENT;
    if (!directory) descriptor_ = OpenForWriting(&error);
    if (descriptor_ == -1 && error == ENOENT && HasSeparator(GetName())) {
        if (CreateParentDirectories() && !directory) descriptor_ = OpenForWriting(&error);
    }
    if (descriptor_ == -1 && !directory) {
        return status.SetError(AL_CANT_OPEN_FILE,
                               L"File creation failure.  Open of %s returned errno = %d",
                               GetName(), static_cast<int32_t>(error));
    }
    return AL_NO_ERRORS;
}

int32_t ALFile::CreateTemporary() {
    for (int32_t number = 0; number < 1000; ++number) {
        MakeTempName(number);
        int error = 0;
        descriptor_ = FileCreateExclusive(GetName(), &error);
        if (descriptor_ != -1) return AL_NO_ERRORS;
        if (error == EEXIST || error == EACCES) continue;
        status.SetError(AL_CANT_OPEN_FILE,
                        L"Temporary file creation failure.  Open of %s returned errno = %d",
                        GetName(), static_cast<int32_t>(error));
        name.Assign(L"");
        return AL_CANT_OPEN_FILE;
    }
    status.SetError(AL_CANT_OPEN_FILE,
                    L"Temporary file creation failure.  Tried 1000 times to open %s (or a name "
                    L"something like that).",
                    GetName());
    name.Assign(L"");
    return AL_CANT_OPEN_FILE;
}

int32_t ALFile::Close() {
    if (descriptor_ != -1 && descriptor_ == borrowed_) {
        // The caller's file stays open; it was only read.
        descriptor_ = -1;
        ALStorage::Close();
        return status.GetStatusCode();
    }
    if (descriptor_ == -1) {
        // Nothing is open (a directory member, a failed creation): only the
        // buffer goes, so that objects left in an entry list hold no buffer.
        ALStorage::Close();
        return status.GetStatusCode();
    }
    FlushBuffer();
    const int64_t length = FileLength(descriptor_);
    if (length >= 0) size = BoundedSize(static_cast<int32_t>(static_cast<uint32_t>(length)));
    // Time stamp and attributes go to the file this object wrote, through
    // its own descriptor: never to whatever its name may stand for by now.
    if (created && time_date.IsSet()) {
        StampLastWriteTime();
        FileSetAttributes(descriptor_, NativeAttributes());
    }
    FileClose(descriptor_);
    descriptor_ = -1;
    ALStorage::Close();
    created = 0;
    return status.GetStatusCode();
}

// The time stamp is local time; the file system wants UTC. The conversion
// uses the zone's offset at this moment (daylight time included when it is
// in force now), whatever the date of the stamp.
void ALFile::StampLastWriteTime() {
    const uint32_t bias_seconds = static_cast<uint32_t>(CurrentTimeZoneBiasMinutes()) * 60u;
    ALTimeDate utc;
    utc.FromUnixSeconds(time_date.ToUnixSeconds() + bias_seconds);
    FileSetLastWriteDos(descriptor_, utc.PackDosDate(), utc.PackDosTime());
}

int32_t ALFile::LoadBuffer(int32_t position) {
    if (status.GetStatusCode() < 0) return status.GetStatusCode();
    int error = EBADF;
    if (position != file_position) {
        if (!MoveTo(position, &error)) {
            return status.SetError(AL_SEEK_ERROR, L"Seek failure on %s.  errno = %d", GetName(),
                                   static_cast<int32_t>(error));
        }
        file_position = position;
    }
    // Whatever was left in the buffer belongs to another position now.
    read_index = 0;
    read_limit = 0;
    const int32_t loadable = LoadableAt(position);
    if (loadable == 0 && descriptor_ != -1 && buffer) return AL_END_OF_FILE;
    int32_t count = -1;
    if (descriptor_ != -1 && buffer) {
        count = ReadsAtPositions()
                    ? FileReadAt(descriptor_, buffer, static_cast<uint32_t>(loadable),
                                 static_cast<uint32_t>(position), &error)
                    : FileRead(descriptor_, buffer, static_cast<uint32_t>(loadable), &error);
    }
    if (count == 0) return AL_END_OF_FILE;
    if (count < 0) {
        return status.SetError(AL_READ_ERROR, L"Read failure on %s.  errno = %d", GetName(),
                               static_cast<int32_t>(error));
    }
    if (crc_enabled || crypto_engine) UpdateCrc32(count, true);
    file_position += count;
    read_limit = count;
    ReportProgress();
    return count;
}

int32_t ALFile::FlushBuffer() {
    if (status.GetStatusCode() < 0) return status.GetStatusCode();
    if (write_index != 0) {
        if (crc_enabled || crypto_engine) UpdateCrc32(write_index, false);
        int error = EBADF;
        const int32_t written =
            descriptor_ == -1
                ? -1
                : FileWrite(descriptor_, buffer, static_cast<uint32_t>(write_index), &error);
        if (written != write_index) {
            return status.SetError(AL_WRITE_ERROR, L"Write failure on %s.  result = %d, errno = %d",
                                   GetName(), written, static_cast<int32_t>(error));
        }
        file_position += written;
        write_index = 0;
    }
    read_index = 0;
    read_limit = 0;
    ReportProgress();
    return AL_NO_ERRORS;
}

int32_t ALFile::Seek(int32_t position) {
    if (status.GetStatusCode() < 0) return status.GetStatusCode();
    if (FlushBuffer() < 0) return status.GetStatusCode();
    if (position != file_position) {
        int error = EBADF;
        if (!MoveTo(position, &error)) {
            return status.SetError(AL_SEEK_ERROR, L"Seek failure on %s.  errno = %d", GetName(),
                                   static_cast<int32_t>(error));
        }
    }
    file_position = position;
    return AL_NO_ERRORS;
}

// A borrowed descriptor is read at positions, never moved: whoever lent it
// may read it on another thread meanwhile.
bool ALFile::MoveTo(int32_t position, int* error) {
    if (descriptor_ == -1) return false;
    if (!ReadsAtPositions()) return FileSeek(descriptor_, static_cast<uint32_t>(position), error);
    if (position >= 0) return true;
    *error = EINVAL;
    return false;
}

int32_t ALFile::Rename(const wchar_t* new_name, bool delete_existing) {
    const std::wstring source = new_name ? GetName() : name.GetPreviousName();
    const std::wstring target = new_name ? new_name : GetName();
    int error = 0;
    if (delete_existing) {
        // Deleting the target would delete the file itself.
        if (ALNameString::CompareTexts(target.c_str(), source.c_str(), name.GetCaseMode()) == 0) {
            return status.SetError(AL_ERROR_RENAMING_FILE,
                                   L"Error attempting to rename %s to %s.  Can't rename to the "
                                   L"same name!",
                                   target.c_str(), source.c_str());
        }
        if (!FileUnlink(target.c_str(), &error) && error != ENOENT) {
            return status.SetError(AL_ERROR_RENAMING_FILE,
                                   L"Error deleting %s before renaming %s.  errno = %d",
                                   target.c_str(), source.c_str(), static_cast<int32_t>(error));
        }
    }
    if (!FileRename(source.c_str(), target.c_str(), &error)) {
        return status.SetError(AL_ERROR_RENAMING_FILE, L"Error renaming %s to %s.  errno = %d",
                               source.c_str(), target.c_str(), static_cast<int32_t>(error));
    }
    if (new_name) name.Assign(target.c_str());
    return AL_NO_ERRORS;
}

int32_t ALFile::RevertRename(bool delete_existing) {
    const std::wstring previous = name.GetPreviousName();
    const std::wstring current = GetName();
    int error = 0;
    if (delete_existing) {
        // With both names equal, deleting "the other file" would delete
        // this one and the rename would then quietly find nothing.
        if (ALNameString::CompareTexts(previous.c_str(), current.c_str(), name.GetCaseMode()) == 0) {
            return status.SetError(AL_ERROR_RENAMING_FILE,
                                   L"Error attempting to rename %s to %s.  Can't rename to the "
                                   L"same name!",
                                   previous.c_str(), current.c_str());
        }
        if (!FileUnlink(previous.c_str(), &error) && error != ENOENT) {
            return status.SetError(AL_ERROR_RENAMING_FILE,
                                   L"Error deleting %s before renaming %s.  errno = %d",
                                   previous.c_str(), current.c_str(), static_cast<int32_t>(error));
        }
    }
    if (!FileRename(current.c_str(), previous.c_str(), &error) && error != ENOENT) {
        return status.SetError(AL_ERROR_RENAMING_FILE, L"Error renaming %s to %s.  errno = %d",
                               current.c_str(), previous.c_str(), static_cast<int32_t>(error));
    }
    name.Assign(previous.c_str());
    return AL_NO_ERRORS;
}

int32_t ALFile::RenameToBackup(bool delete_existing) {
    name.ChangeExtension(L".bak");
    return Rename(nullptr, delete_existing);
}

int32_t ALFile::Delete() {
    int error = 0;
    if (!FileUnlink(GetName(), &error)) {
        return status.SetError(AL_FILE_DELETION_ERROR, L"Error deleting file %s, errno = %d ",
                               GetName(), static_cast<int32_t>(error));
    }
    return AL_NO_ERRORS;
}

ALStorage* ALFile::Clone(const wchar_t* new_name, int32_t type) const {
    if (type != AL_STORAGE_DEFAULT && type != AL_STORAGE_FILE) return nullptr;
    return new (std::nothrow) ALFile(new_name, kDefaultBufferSize, NameCaseIgnore);
}

void ALFile::MakeTempName(int32_t number) {
    wchar_t text[32];
    FormatBounded(text, sizeof(text) / sizeof(text[0]), L"~al~%03d.tmp", number);
    name.Assign(text);
}

bool ALFile::CreateParentDirectories() {
    if (name.IsEmpty()) return false;
    const std::wstring path = GetName();
    size_t start = 0;
    for (;;) {
        const size_t separator = path.find_first_of(L"/\\", start);
        if (separator == std::wstring::npos) return true;
        int error = 0;
        if (!FileMakeDirectory(path.substr(0, separator).c_str(), &error) &&
            !IsToleratedMkdirError(error)) {
            return false;
        }
        if (separator + 1 == path.size()) return false;
        start = separator + 1;
    }
}

bool ALFile::SetReadOnly(const wchar_t* path, bool read_only) {
    uint32_t native = 0;
    if (!GetPathAttributes(path, native)) return false;
    native = read_only ? (native | kAttrReadOnly) : (native & ~kAttrReadOnly);
    if (native != kAttrNormal) native &= ~kAttrNormal;
    return WriteAttributes(path, native);
}

int32_t ALFile::LoadAttributes() {
    uint32_t native = 0;
    if (!GetPathAttributes(GetName(), native)) return AL_CANT_OPEN_FILE;
    // Flags this system does not keep on files stay as the object has them.
    const uint32_t kept = NativeFileAttributeMask();
    uint32_t bits = attributes.GetBits() & ~ALFileAttributes::kClearAll;
    const struct {
        uint32_t native;
        uint32_t ours;
    } kMap[] = {{kAttrReadOnly, ALFileAttributes::kReadOnly},
                {kAttrSystem, ALFileAttributes::kSystem},
                {kAttrHidden, ALFileAttributes::kHidden},
                {kAttrArchive, ALFileAttributes::kArchive}};
    for (const auto& flag : kMap) {
        if (!(kept & flag.native)) continue;
        bits = (native & flag.native) ? (bits | flag.ours) : (bits & ~flag.ours);
    }
    attributes.SetBits(bits);
    return AL_NO_ERRORS;
}

uint32_t ALFile::NativeAttributes() const {
    uint32_t native = 0;
    if (!attributes.ClearAll()) {
        if (attributes.ReadOnly()) native |= kAttrReadOnly;
        if (attributes.Hidden()) native |= kAttrHidden;
        if (attributes.System()) native |= kAttrSystem;
        if (attributes.Archive()) native |= kAttrArchive;
    }
    return native;
}

void ALFile::ApplyAttributes() { WriteAttributes(GetName(), NativeAttributes()); }
