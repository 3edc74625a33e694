#include "archive/engine.h"

#include "archive/storage.h"

int32_t ALEngine::SavePrivateData(ALStorage& archive) {
    return archive.WriteUInt16BE(0);
}

int32_t ALEngine::LoadPrivateData(ALStorage& archive) {
    uint16_t length = 0;
    archive.ReadUInt16BE(length);
    return archive.status.GetStatusCode();
}
