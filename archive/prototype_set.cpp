#include "archive/prototype_set.h"

#include <new>

#include "archive/engine.h"
#include "archive/storage.h"

namespace {

// The prototype arrays are null-terminated arrays of owned pointers. A new
// one starts with just its terminator.
template <typename T>
T** NewArray() {
    T** array = new (std::nothrow) T*[1];
    if (array) array[0] = nullptr;
    return array;
}

template <typename T>
size_t CountOf(T* const* array) {
    size_t n = 0;
    while (array && array[n]) ++n;
    return n;
}

// Appends item to *array: a new array of n + 2 pointers (the old ones, the
// item, the terminator) replaces the old one. False, with *array unchanged,
// when item is null or there is no memory.
template <typename T>
bool Append(T**& array, T* item) {
    if (!item) return false;
    const size_t n = CountOf(array);
    T** grown = new (std::nothrow) T*[n + 2];
    if (!grown) return false;
    for (size_t i = 0; i < n; ++i) grown[i] = array[i];
    grown[n] = item;
    grown[n + 1] = nullptr;
    delete[] array;
    array = grown;
    return true;
}

template <typename T>
void DeleteArray(T** array) {
    for (size_t i = 0; array && array[i]; ++i) delete array[i];
    delete[] array;
}

// The first object that one of the prototypes makes, or null.
template <typename T, typename Make>
auto FirstMade(T* const* array, Make make) -> decltype(make(array[0])) {
    for (size_t i = 0; array && array[i]; ++i) {
        if (auto* made = make(array[i])) return made;
    }
    return nullptr;
}

// Appends a clone made by make(prototype); the clone is deleted again when
// it cannot be appended.
template <typename T, typename Make>
bool AddClone(T**& array, Make make) {
    T* clone = make();
    if (Append(array, clone)) return true;
    delete clone;
    return false;
}

ALStorage* CloneStorage(const ALStorage* prototype) {
    return prototype->Clone(L"", AL_STORAGE_DEFAULT);
}

}  // namespace

ALPrototypeSet::ALPrototypeSet()
    : compressors_(NewArray<ALCompressor>()),
      decompressors_(NewArray<ALDecompressor>()),
      storages_(NewArray<ALStorage>()),
      crypto_engines_(NewArray<ALCryptoEngine>()) {}

ALPrototypeSet::ALPrototypeSet(const ALPrototypeSet& other) : ALPrototypeSet() {
    for (size_t i = 0; other.compressors_ && other.compressors_[i]; ++i) {
        AddCompressor(*other.compressors_[i]);
    }
    for (size_t i = 0; other.decompressors_ && other.decompressors_[i]; ++i) {
        AddDecompressor(*other.decompressors_[i]);
    }
    for (size_t i = 0; other.storages_ && other.storages_[i]; ++i) {
        AddStorage(*other.storages_[i]);
    }
    for (size_t i = 0; other.crypto_engines_ && other.crypto_engines_[i]; ++i) {
        AddCryptoEngine(*other.crypto_engines_[i]);
    }
}

ALPrototypeSet::~ALPrototypeSet() {
    DeleteArray(compressors_);
    DeleteArray(decompressors_);
    DeleteArray(storages_);
    DeleteArray(crypto_engines_);
}

bool ALPrototypeSet::AddCompressor(const ALCompressor& prototype) {
    return AddClone(compressors_, [&] { return prototype.Clone(AL_ENGINE_DEFAULT); });
}

bool ALPrototypeSet::AddDecompressor(const ALDecompressor& prototype) {
    return AddClone(decompressors_, [&] { return prototype.Clone(AL_ENGINE_DEFAULT); });
}

bool ALPrototypeSet::AddStorage(const ALStorage& prototype) {
    return AddClone(storages_, [&] { return CloneStorage(&prototype); });
}

bool ALPrototypeSet::AddCryptoEngine(const ALCryptoEngine& prototype) {
    return AddClone(crypto_engines_, [&] { return prototype.Clone(AL_ENGINE_DEFAULT); });
}

ALCompressor* ALPrototypeSet::CreateCompressor(int32_t engine_type) const {
    return FirstMade(compressors_, [&](const ALCompressor* p) { return p->Clone(engine_type); });
}

ALDecompressor* ALPrototypeSet::CreateDecompressor(int32_t engine_type) const {
    return FirstMade(decompressors_,
                     [&](const ALDecompressor* p) { return p->Clone(engine_type); });
}

ALStorage* ALPrototypeSet::CreateStorage(const wchar_t* name, int32_t object_type) const {
    return FirstMade(storages_, [&](const ALStorage* p) { return p->Clone(name, object_type); });
}

ALCryptoEngine* ALPrototypeSet::CreateCryptoEngine(int32_t engine_type) const {
    return FirstMade(crypto_engines_,
                     [&](const ALCryptoEngine* p) { return p->Clone(engine_type); });
}
