// sea-build: turns a directory into a self-extracting installer, and reads
// installers back (--list, --test, --verify).
#include <string>
#include <vector>

#include "platform/command_args.h"
#include "platform/console.h"
#include "platform/interrupt.h"
#include "platform/memory_tuning.h"
#include "tools/sea_build/pack/builder.h"
#include "tools/sea_build/sign/external_signing.h"
#include "tools/sea_build/inspect/inspect.h"
#include "tools/sea_build/options.h"
#include "tools/sea_build/inspect/verify.h"
#include "tools/sea_build/tree/shown_name.h"

namespace {

int Run(const BuildOptions& options) {
    const bool progress = !options.quiet && StdoutIsTerminal();
    switch (options.action) {
        case BuildAction::Help:
            WriteConsoleText(ConsoleStream::Output, UsageText());
            return 0;
        case BuildAction::List:
            return ListInstaller(options.installer);
        case BuildAction::Test:
            return TestInstaller(options.installer, progress);
        case BuildAction::Verify:
            return VerifyInstaller(options.installer, options.ca, progress);
        case BuildAction::ExtractSignature:
            return ExtractSignatureFile(options.installer, options.output);
        case BuildAction::Build:
            break;
    }
    KeepFreedMemoryForReuse();
    return BuildInstaller(options, progress);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::wstring> arguments = GetCommandArguments(argc, argv);
    if (!arguments.empty()) arguments.erase(arguments.begin());
    BuildOptions options;
    std::wstring error;
    if (!ParseBuildOptions(arguments, options, error)) {
        WriteConsoleText(ConsoleStream::Error, L"sea-build: " + ShownName(error) + L"\n");
        return 2;
    }
    // Ctrl-C and the like end the run at once: whatever it started is
    // killed and its temporary files are removed (platform/interrupt.h).
    InstallInterruptHandlers(options.action == BuildAction::Build
                                 ? L"sea-build: interrupted: no installer written\n"
                                 : L"sea-build: interrupted\n");
    const int code = Run(options);
    if (InterruptRequested()) AwaitInterruptEnd();  // the cleanup sets the exit code
    return code;
}
