// Whether a held directory is private to the caller on Windows: its owner
// and its access list, read through the handle.
#include <windows.h>
#include <aclapi.h>

#include <vector>

#include "platform/dir_security.h"
#include "platform/win32/dir_handle_win32.h"

namespace {

// Rights that let someone change a directory or what it holds.
constexpr ACCESS_MASK kChangeRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_WRITE_EA |
                                      FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC |
                                      WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;

class Sid {
public:
    explicit Sid(WELL_KNOWN_SID_TYPE type) : bytes_(SECURITY_MAX_SID_SIZE) {
        DWORD size = static_cast<DWORD>(bytes_.size());
        if (!CreateWellKnownSid(type, nullptr, bytes_.data(), &size)) bytes_.clear();
    }
    bool Matches(PSID sid) const { return !bytes_.empty() && EqualSid(const_cast<BYTE*>(bytes_.data()), sid); }

private:
    std::vector<BYTE> bytes_;
};

// The user of the caller's token (the thread's, else the process's).
bool ReadTokenUser(std::vector<BYTE>& buffer) {
    HANDLE token = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &token) &&
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    DWORD size = 0;
    GetTokenInformation(token, ::TokenUser, nullptr, 0, &size);
    buffer.resize(size);
    bool ok = size != 0 && GetTokenInformation(token, ::TokenUser, buffer.data(), size, &size);
    CloseHandle(token);
    return ok;
}

struct Trusted {
    PSID user;
    bool elevated;
    Sid admins{WinBuiltinAdministratorsSid};
    Sid system{WinLocalSystemSid};
    Sid creator_owner{WinCreatorOwnerSid};

    bool MayOwn(PSID sid) const {
        return EqualSid(user, sid) || (elevated && (admins.Matches(sid) || system.Matches(sid)));
    }
    // Administrators and LocalSystem may change anything anyway; the
    // creator-owner entry stands for the owner, checked on its own.
    bool MayChange(PSID sid) const {
        return EqualSid(user, sid) || admins.Matches(sid) || system.Matches(sid) ||
               creator_owner.Matches(sid);
    }
};

bool AclGrantsChangeToOthers(PACL dacl, const Trusted& trusted) {
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) return true;
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceFlags & INHERIT_ONLY_ACE) continue;  // for what is created below only
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
        // Every other kind of entry may grant something; only the plain
        // allow entry can be read for whom.
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return true;
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        if ((allowed->Mask & kChangeRights) == 0) continue;
        if (!trusted.MayChange(const_cast<DWORD*>(&allowed->SidStart))) return true;
    }
    return false;
}

}  // namespace

bool SecurityIsPrivate(PSECURITY_DESCRIPTOR descriptor, PSID user, bool elevated) {
    Trusted trusted{user, elevated};
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
        !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
        return false;
    }
    // No access list at all grants everything to everyone.
    return owner && present && dacl && trusted.MayOwn(owner) && !AclGrantsChangeToOthers(dacl, trusted);
}

namespace {

// Reads the held directory's owner and access list and the token's user,
// and applies `rule` to them; false when either cannot be read.
template <typename Rule>
bool JudgeDirSecurity(const DirHandle* dir, Rule rule) {
    std::vector<BYTE> user;
    if (!ReadTokenUser(user)) return false;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(NativeDirHandle(dir), SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                        nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    const bool result = rule(descriptor, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid);
    LocalFree(descriptor);
    return result;
}

}  // namespace

bool IsPrivateToCaller(const DirHandle* dir) {
    return JudgeDirSecurity(dir, [](PSECURITY_DESCRIPTOR descriptor, PSID user) {
        return SecurityIsPrivate(descriptor, user, CheckElevatedAdmin().elevated);
    });
}

bool OwnedByOther(const DirHandle* dir) {
    return JudgeDirSecurity(dir, [](PSECURITY_DESCRIPTOR descriptor, PSID user) {
        PSID owner = nullptr;
        BOOL defaulted = FALSE;
        if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !owner) return false;
        return !Trusted{user, CheckElevatedAdmin().elevated}.MayOwn(owner);
    });
}

bool LetsOthersChange(const DirHandle* dir) {
    // Owned by the user, Administrators or LocalSystem, and changed by
    // nobody else: the rule of a private directory, for any token.
    return JudgeDirSecurity(dir, [](PSECURITY_DESCRIPTOR descriptor, PSID user) {
        return !SecurityIsPrivate(descriptor, user, true);
    });
}
