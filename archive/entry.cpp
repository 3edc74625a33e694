#include "archive/entry.h"

#include <cwchar>
#include <new>

#include "archive/engine.h"
#include "archive/storage.h"

ALEntry::ALEntry(ALEntryList* list) : next(this), previous(this), list(list) {}

ALEntry::ALEntry(ALEntryList* list, ALEntry& sentinel, ALStorage* storage,
                 ALCompressor* compressor, ALDecompressor* decompressor,
                 ALCryptoEngine* crypto_engine)
    : next(&sentinel),
      previous(sentinel.previous),
      list(list),
      flags(kMarked | (crypto_engine ? kEncrypted : 0)),
      storage(storage),
      compressor(compressor),
      decompressor(decompressor),
      crypto_engine(crypto_engine) {
    sentinel.previous->next = this;
    sentinel.previous = this;
}

ALEntry::~ALEntry() {
    delete[] comment;
    delete storage;
    delete compressor;
    delete decompressor;
    delete crypto_engine;
    previous->next = next;
    next->previous = previous;
}

int32_t ALEntry::SetComment(const wchar_t* text, ALStatusBlock& list_status) {
    delete[] comment;
    comment = nullptr;
    if (!text) return AL_NO_ERRORS;
    const size_t length = wcslen(text);
    comment = new (std::nothrow) wchar_t[length + 1];
    if (!comment) {
        return list_status.SetError(
            AL_MEMORY_ALLOCATION_FAILURE,
            L"Failed to allocate memory when adding comment to storage object %s",
            storage ? storage->GetName() : L"");
    }
    wmemcpy(comment, text, length + 1);
    return AL_NO_ERRORS;
}
