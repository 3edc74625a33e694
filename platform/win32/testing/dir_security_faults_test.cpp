// The error lines of the working directory's access control, and that
// nothing it allocated outlives a failure. The calls that build the
// security attributes cannot be made to fail on a working system, so this
// file compiles dir_security_win32.cpp once more, in a namespace of its own,
// with each of those calls routed through a stand-in that passes it on to
// the system or, when armed, fails it with a chosen error.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/dir_security.h"

namespace {

enum class Call { kNone, kSid, kAcl, kAlloc, kInit, kDacl, kControl };

struct Seam {
    Call failing = Call::kNone;
    int failing_sid = 0;  // which SID of the three, counted from 1
    int sids = 0;         // SIDs allocated and not yet freed
    int locals = 0;       // local allocations not yet freed
    int sid_calls = 0;
} g_seam;

bool Fails(Call call, DWORD error) {
    if (g_seam.failing != call) return false;
    SetLastError(error);
    return true;
}

BOOL WINAPI SeamAllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD s0,
                                         DWORD s1, DWORD s2, DWORD s3, DWORD s4, DWORD s5, DWORD s6,
                                         DWORD s7, PSID* sid) {
    ++g_seam.sid_calls;
    if (g_seam.sid_calls == g_seam.failing_sid && Fails(Call::kSid, 1337)) return FALSE;
    if (!AllocateAndInitializeSid(authority, count, s0, s1, s2, s3, s4, s5, s6, s7, sid)) return FALSE;
    ++g_seam.sids;
    return TRUE;
}

PVOID WINAPI SeamFreeSid(PSID sid) {
    --g_seam.sids;
    return FreeSid(sid);
}

DWORD WINAPI SeamSetEntriesInAclW(ULONG count, PEXPLICIT_ACCESS_W entries, PACL old_acl, PACL* acl) {
    if (g_seam.failing == Call::kAcl) return ERROR_INVALID_PARAMETER;
    DWORD result = SetEntriesInAclW(count, entries, old_acl, acl);
    if (result == ERROR_SUCCESS) ++g_seam.locals;
    return result;
}

HLOCAL WINAPI SeamLocalAlloc(UINT flags, SIZE_T bytes) {
    if (Fails(Call::kAlloc, ERROR_NOT_ENOUGH_MEMORY)) return nullptr;
    HLOCAL memory = LocalAlloc(flags, bytes);
    if (memory) ++g_seam.locals;
    return memory;
}

HLOCAL WINAPI SeamLocalFree(HLOCAL memory) {
    if (memory) --g_seam.locals;
    return LocalFree(memory);
}

BOOL WINAPI SeamInitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision) {
    if (Fails(Call::kInit, ERROR_INVALID_SECURITY_DESCR)) return FALSE;
    return InitializeSecurityDescriptor(descriptor, revision);
}

BOOL WINAPI SeamSetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL acl,
                                          BOOL defaulted) {
    if (Fails(Call::kDacl, ERROR_INVALID_ACL)) return FALSE;
    return SetSecurityDescriptorDacl(descriptor, present, acl, defaulted);
}

BOOL WINAPI SeamSetSecurityDescriptorControl(PSECURITY_DESCRIPTOR descriptor,
                                             SECURITY_DESCRIPTOR_CONTROL mask,
                                             SECURITY_DESCRIPTOR_CONTROL bits) {
    if (Fails(Call::kControl, ERROR_ACCESS_DENIED)) return FALSE;
    return SetSecurityDescriptorControl(descriptor, mask, bits);
}

}  // namespace

#define AllocateAndInitializeSid SeamAllocateAndInitializeSid
#define FreeSid SeamFreeSid
#define SetEntriesInAclW SeamSetEntriesInAclW
#define LocalAlloc SeamLocalAlloc
#define LocalFree SeamLocalFree
#define InitializeSecurityDescriptor SeamInitializeSecurityDescriptor
#define SetSecurityDescriptorDacl SeamSetSecurityDescriptorDacl
#define SetSecurityDescriptorControl SeamSetSecurityDescriptorControl
namespace seam {
#include "platform/win32/dir_security_win32.cpp"
}  // namespace seam
#undef AllocateAndInitializeSid
#undef FreeSid
#undef SetEntriesInAclW
#undef LocalAlloc
#undef LocalFree
#undef InitializeSecurityDescriptor
#undef SetSecurityDescriptorDacl
#undef SetSecurityDescriptorControl

namespace {

class DirSecurityFaults : public ::testing::Test {
protected:
    void SetUp() override { g_seam = Seam{}; }
    void TearDown() override { g_seam = Seam{}; }

    // What BuildDirSecurity printed; `built` tells whether it returned
    // security attributes (freed again at once).
    std::string Build(bool& built) {
        ::testing::internal::CaptureStdout();
        seam::DirSecurity* security = seam::BuildDirSecurity();
        std::fflush(stdout);
        std::string printed = ::testing::internal::GetCapturedStdout();
        built = security != nullptr;
        seam::FreeDirSecurity(security);
        return printed;
    }
};

TEST_F(DirSecurityFaults, EachFailingCallPrintsItsLineAndFreesWhatWasBuilt) {
    const struct {
        Call call;
        int sid;
        const char* line;
    } cases[] = {
        {Call::kSid, 1, "AllocateAndInitializeSid Error 1337\n"},
        {Call::kSid, 3, "AllocateAndInitializeSid Error 1337\n"},
        {Call::kAcl, 0, "SetEntriesInAcl Error 87\n"},
        {Call::kAlloc, 0, "LocalAlloc Error 8\n"},
        {Call::kInit, 0, "InitializeSecurityDescriptor Error 1338\n"},
        {Call::kDacl, 0, "SetSecurityDescriptorDacl Error 1336\n"},
        {Call::kControl, 0, "SetSecurityDescriptorControl Error 5\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        g_seam = Seam{};
        g_seam.failing = c.call;
        g_seam.failing_sid = c.sid;
        bool built = true;
        EXPECT_EQ(c.line, Build(built));
        EXPECT_FALSE(built);
        EXPECT_EQ(0, g_seam.sids) << "SIDs left allocated";
        EXPECT_EQ(0, g_seam.locals) << "local allocations left";
    }
}

TEST_F(DirSecurityFaults, WithoutAFailureNothingIsPrintedAndEverythingIsFreed) {
    bool built = false;
    EXPECT_EQ("", Build(built));
    EXPECT_TRUE(built);
    EXPECT_EQ(3, g_seam.sid_calls);
    EXPECT_EQ(0, g_seam.sids);
    EXPECT_EQ(0, g_seam.locals);
}

}  // namespace
