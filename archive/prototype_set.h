// ALPrototypeSet: the prototype objects from which the objects of each
// archive entry are made. An archive reading its directory asks the set for
// a decompressor, a compressor, a storage and (for encrypted members) a
// crypto engine per entry; the set asks each prototype of the right kind, in
// the order they were added, to Clone for the requested type, and the first
// object produced wins.
//
// The set holds four null-terminated arrays of owned prototypes, in this
// order: compressors, decompressors, storages, crypto engines.
//
// Typical use (the extraction driver):
//     ALPrototypeSet prototypes;
//     prototypes.AddDecompressor(ALPkDecompressor());
//     prototypes.AddDecompressor(ALCopyDecompressor());
//     prototypes.AddStorage(ALFile());
#pragma once

#include <cstdint>

class ALCompressor;
class ALCryptoEngine;
class ALDecompressor;
class ALStorage;

class ALPrototypeSet {
public:
    ALPrototypeSet();
    // A deep copy: every prototype of every array is cloned, in order.
    ALPrototypeSet(const ALPrototypeSet& other);
    ALPrototypeSet& operator=(const ALPrototypeSet&) = delete;
    // Deletes every prototype and frees the arrays.
    ~ALPrototypeSet();

    // Each Add clones prototype (engines with type -1, storages with an
    // empty name and type -1) and appends the clone. False when the clone
    // or the enlarged array cannot be made; the set is unchanged then.
    bool AddCompressor(const ALCompressor& prototype);
    bool AddDecompressor(const ALDecompressor& prototype);
    bool AddStorage(const ALStorage& prototype);
    bool AddCryptoEngine(const ALCryptoEngine& prototype);

    // The first object that a prototype of the array produces for the
    // type (and name), or null. The caller owns the result.
    ALCompressor* CreateCompressor(int32_t engine_type) const;
    ALDecompressor* CreateDecompressor(int32_t engine_type) const;
    ALStorage* CreateStorage(const wchar_t* name, int32_t object_type) const;
    ALCryptoEngine* CreateCryptoEngine(int32_t engine_type) const;

    // The arrays themselves (null-terminated, never null).
    ALCompressor* const* compressors() const { return compressors_; }
    ALDecompressor* const* decompressors() const { return decompressors_; }
    ALStorage* const* storages() const { return storages_; }
    ALCryptoEngine* const* crypto_engines() const { return crypto_engines_; }

private:
    ALCompressor** compressors_;
    ALDecompressor** decompressors_;
    ALStorage** storages_;
    ALCryptoEngine** crypto_engines_;
};
