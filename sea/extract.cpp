// The extraction driver. Payload extraction and the launch are not part of
// this build yet: the driver announces itself and reports that no launcher
// was started, so the run ends with exit code -1.
#include "sea/extract.h"

#include "sea/log.h"

int ExtractFile() {
    WriteLog(L"Extracting files.");
    return 0;
}
