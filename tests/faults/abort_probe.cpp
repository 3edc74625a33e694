// The program with a test probe: the same entry point and front end as the
// shipped program, plus a static initializer that, when the environment
// variable SEA_TEST_ABORT_AT holds a number N, raises the abort flag
// (ExitInEffect) just before the driver's Nth abort test, as a Cancel click
// would. Used only by the fault tests; the shipped program has no probe.
#include <cstdlib>
#include <string>

#include "platform/environment.h"
#include "sea/extract_context.h"
#include "sea/run_state.h"

namespace {

int g_abort_at = 0;
int g_abort_tests = 0;

void CountAbortTest() {
    if (++g_abort_tests == g_abort_at) g_run.ExitInEffect = 1;
}

struct InstallProbe {
    InstallProbe() {
        std::wstring value;
        if (!GetEnvVar(L"SEA_TEST_ABORT_AT", 32, value)) return;
        g_abort_at = static_cast<int>(std::wcstol(value.c_str(), nullptr, 10));
        if (g_abort_at > 0) g_abort_test_probe = CountAbortTest;
    }
};
InstallProbe install_probe;

}  // namespace
