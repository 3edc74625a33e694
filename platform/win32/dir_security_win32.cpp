// Working-directory access control on Windows: the elevated-administrator
// test on the caller's token, and a protected access list of three entries.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <vector>

#include "platform/dir_security.h"

namespace {

SID_IDENTIFIER_AUTHORITY kNtAuthority = SECURITY_NT_AUTHORITY;

PSID AdministratorsSid() {
    PSID sid = nullptr;
    if (!AllocateAndInitializeSid(&kNtAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &sid)) {
        return nullptr;
    }
    return sid;
}

// The token of the calling thread, or of the process when the thread has
// none. On failure `error` holds the last error of the last call made.
HANDLE OpenCallerToken(DWORD& error) {
    HANDLE token = nullptr;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &token)) return token;
    error = GetLastError();
    if (error != ERROR_NO_TOKEN) return nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return token;
    error = GetLastError();
    return nullptr;
}

// Looks BUILTIN\Administrators up in the token's groups; `code` as in
// AdminCheck.
bool TokenHoldsAdministrators(HANDLE token, int& code) {
    DWORD size = 0;
    if (GetTokenInformation(token, TokenGroups, nullptr, 0, &size)) {
        code = 2;
        return false;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        code = 4;
        return false;
    }
    std::vector<BYTE> buffer(size);
    if (!GetTokenInformation(token, TokenGroups, buffer.data(), size, &size)) {
        code = 6;
        return false;
    }
    PSID admins = AdministratorsSid();
    if (!admins) {
        code = 8;
        return false;
    }
    code = 11;
    bool result = false;
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        if (EqualSid(groups->Groups[i].Sid, admins)) {
            result = (groups->Groups[i].Attributes & SE_GROUP_USE_FOR_DENY_ONLY) == 0;
            break;
        }
    }
    FreeSid(admins);
    return result;
}

}  // namespace

AdminCheck CheckElevatedAdmin() {
    DWORD error = 0;
    HANDLE token = OpenCallerToken(error);
    if (!token) {
        if (error == ERROR_CALL_NOT_IMPLEMENTED) return AdminCheck{true, 1};
        if (error == 0) return AdminCheck{false, 10};
        // No token to ask: the group query cannot succeed.
        return AdminCheck{false, 4};
    }
    int code = 11;
    bool elevated = TokenHoldsAdministrators(token, code);
    CloseHandle(token);
    return AdminCheck{elevated, code};
}

struct DirSecurity {
    PSID admins = nullptr;
    PSID users = nullptr;
    PSID system = nullptr;
    std::vector<BYTE> user;  // the token's user (private directories only)
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    SECURITY_ATTRIBUTES attributes = {};
};

void FreeDirSecurity(DirSecurity* security) {
    if (!security) return;
    if (security->admins) FreeSid(security->admins);
    if (security->users) FreeSid(security->users);
    if (security->system) FreeSid(security->system);
    if (security->acl) LocalFree(security->acl);
    if (security->descriptor) LocalFree(security->descriptor);
    delete security;
}

namespace {

bool BuildSids(DirSecurity& s) {
    struct {
        PSID* sid;
        BYTE count;
        DWORD rid0;
        DWORD rid1;
    } wanted[] = {
        {&s.admins, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS},
        {&s.users, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS},
        {&s.system, 1, SECURITY_LOCAL_SYSTEM_RID, 0},
    };
    for (auto& w : wanted) {
        if (!AllocateAndInitializeSid(&kNtAuthority, w.count, w.rid0, w.rid1, 0, 0, 0, 0, 0, 0,
                                      w.sid)) {
            printf("AllocateAndInitializeSid Error %u\n", static_cast<unsigned>(GetLastError()));
            return false;
        }
    }
    return true;
}

EXPLICIT_ACCESSW Grant(PSID sid, TRUSTEE_TYPE type, DWORD mask) {
    EXPLICIT_ACCESSW entry;
    ZeroMemory(&entry, sizeof entry);
    entry.grfAccessPermissions = mask;
    entry.grfAccessMode = GRANT_ACCESS;
    entry.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = type;
    entry.Trustee.ptstrName = static_cast<LPWSTR>(sid);
    return entry;
}

bool BuildDescriptor(DirSecurity& s, EXPLICIT_ACCESSW (&entries)[3]) {
    DWORD result = SetEntriesInAclW(3, entries, nullptr, &s.acl);
    if (result != ERROR_SUCCESS) {
        printf("SetEntriesInAcl Error %u\n", static_cast<unsigned>(result));
        return false;
    }
    s.descriptor = LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
    if (!s.descriptor) {
        printf("LocalAlloc Error %u\n", static_cast<unsigned>(GetLastError()));
        return false;
    }
    if (!InitializeSecurityDescriptor(s.descriptor, SECURITY_DESCRIPTOR_REVISION)) {
        printf("InitializeSecurityDescriptor Error %u\n", static_cast<unsigned>(GetLastError()));
        return false;
    }
    if (!SetSecurityDescriptorDacl(s.descriptor, TRUE, s.acl, FALSE)) {
        printf("SetSecurityDescriptorDacl Error %u\n", static_cast<unsigned>(GetLastError()));
        return false;
    }
    if (!SetSecurityDescriptorControl(s.descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
        printf("SetSecurityDescriptorControl Error %u\n", static_cast<unsigned>(GetLastError()));
        return false;
    }
    return true;
}

// The user of the caller's token (the thread's, else the process's).
bool ReadTokenUserSid(std::vector<BYTE>& sid) {
    DWORD error = 0;
    HANDLE token = OpenCallerToken(error);
    if (!token) return false;
    std::vector<BYTE> buffer;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    buffer.resize(size);
    bool ok = size != 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
    CloseHandle(token);
    if (!ok) return false;
    PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    sid.assign(static_cast<BYTE*>(user), static_cast<BYTE*>(user) + GetLengthSid(user));
    return true;
}

DirSecurity* Finish(DirSecurity* security) {
    security->attributes.nLength = sizeof(SECURITY_ATTRIBUTES);
    security->attributes.lpSecurityDescriptor = security->descriptor;
    security->attributes.bInheritHandle = FALSE;
    return security;
}

}  // namespace

DirSecurity* BuildDirSecurity() {
    auto* security = new DirSecurity;
    EXPLICIT_ACCESSW entries[3];
    bool built = BuildSids(*security);
    if (built) {
        entries[0] = Grant(security->users, TRUSTEE_IS_WELL_KNOWN_GROUP, 0x1200A9);
        entries[1] = Grant(security->admins, TRUSTEE_IS_GROUP, 0x1F01FF);
        entries[2] = Grant(security->system, TRUSTEE_IS_WELL_KNOWN_GROUP, 0x1F01FF);
        built = BuildDescriptor(*security, entries);
    }
    if (!built) {
        FreeDirSecurity(security);
        return nullptr;
    }
    return Finish(security);
}

DirSecurity* BuildPrivateDirSecurity() {
    auto* security = new DirSecurity;
    EXPLICIT_ACCESSW entries[3];
    bool built = ReadTokenUserSid(security->user) && BuildSids(*security);
    if (built) {
        entries[0] = Grant(security->user.data(), TRUSTEE_IS_USER, 0x1F01FF);
        entries[1] = Grant(security->admins, TRUSTEE_IS_GROUP, 0x1F01FF);
        entries[2] = Grant(security->system, TRUSTEE_IS_WELL_KNOWN_GROUP, 0x1F01FF);
        built = BuildDescriptor(*security, entries);
    }
    if (!built) {
        FreeDirSecurity(security);
        return nullptr;
    }
    return Finish(security);
}

DirCreateResult CreateDirWithSecurity(const std::wstring& path, const DirSecurity* security) {
    SECURITY_ATTRIBUTES attributes;
    if (security) attributes = security->attributes;
    if (CreateDirectoryW(path.c_str(), security ? &attributes : nullptr)) {
        return DirCreateResult::kCreated;
    }
    switch (GetLastError()) {
    case ERROR_ALREADY_EXISTS:
        return DirCreateResult::kAlreadyExists;
    case ERROR_INVALID_OWNER:
    case ERROR_INVALID_PRIMARY_GROUP:
    case ERROR_INVALID_ACL:
    case ERROR_INVALID_SECURITY_DESCR:
    case ERROR_PRIVILEGE_NOT_HELD:
    case ERROR_NOT_SUPPORTED:
        return security ? DirCreateResult::kSecurityRefused : DirCreateResult::kFailed;
    default:
        return DirCreateResult::kFailed;
    }
}

namespace {

void DescribeDescriptor(PSECURITY_DESCRIPTOR descriptor, DirAccess& access) {
    access = DirAccess();
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (GetSecurityDescriptorControl(descriptor, &control, &revision)) {
        access.is_protected = (control & SE_DACL_PROTECTED) != 0;
    }
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present) return;
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) continue;
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        AccessEntry entry;
        entry.mask = allowed->Mask;
        entry.flags = header->AceFlags;
        LPWSTR text = nullptr;
        if (ConvertSidToStringSidW(const_cast<DWORD*>(&allowed->SidStart), &text)) {
            entry.trustee = text;
            LocalFree(text);
        }
        access.entries.push_back(entry);
    }
}

}  // namespace

bool ReadDirAccess(const std::wstring& path, DirAccess& access) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    DescribeDescriptor(descriptor, access);
    LocalFree(descriptor);
    return true;
}

bool DescribeDirSecurity(const DirSecurity* security, DirAccess& access) {
    if (!security || !security->descriptor) return false;
    DescribeDescriptor(security->descriptor, access);
    return true;
}
