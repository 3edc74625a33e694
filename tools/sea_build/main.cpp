// sea-build: turns a directory into a self-extracting installer, and reads
// installers back (--list, --test, --verify).
#include <string>
#include <vector>

#include "platform/command_args.h"
#include "platform/console.h"
#include "platform/memory_tuning.h"
#include "tools/sea_build/pack/builder.h"
#include "tools/sea_build/sign/external_signing.h"
#include "tools/sea_build/inspect/inspect.h"
#include "tools/sea_build/options.h"
#include "tools/sea_build/inspect/verify.h"

int main(int argc, char** argv) {
    std::vector<std::wstring> arguments = GetCommandArguments(argc, argv);
    if (!arguments.empty()) arguments.erase(arguments.begin());
    BuildOptions options;
    std::wstring error;
    if (!ParseBuildOptions(arguments, options, error)) {
        WriteConsoleText(ConsoleStream::Error, L"sea-build: " + error + L"\n");
        return 2;
    }
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
