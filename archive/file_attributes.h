// ALFileAttributes: the attribute flags an archive member carries and that
// are applied to an extracted file when it is closed. Fifteen flags live in
// the low bits of a 32-bit word; writing the set replaces those 15 bits and
// leaves the higher bits alone.
#pragma once

#include <cstdint>

class ALFileAttributes {
public:
    static constexpr uint32_t kReadOnly = 0x0001;
    static constexpr uint32_t kSystem = 0x0002;
    static constexpr uint32_t kHidden = 0x0004;
    static constexpr uint32_t kArchive = 0x0008;
    // The file's attributes are cleared on close instead of set.
    static constexpr uint32_t kClearAll = 0x0010;
    static constexpr uint32_t kDirectory = 0x4000;
    static constexpr uint32_t kMask = 0x7FFF;

    ALFileAttributes() = default;

    uint32_t GetBits() const { return word_ & kMask; }
    void SetBits(uint32_t bits) { word_ = (word_ & ~kMask) | (bits & kMask); }

    bool ReadOnly() const { return Has(kReadOnly); }
    bool System() const { return Has(kSystem); }
    bool Hidden() const { return Has(kHidden); }
    bool Archive() const { return Has(kArchive); }
    bool ClearAll() const { return Has(kClearAll); }
    bool Directory() const { return Has(kDirectory); }

    void SetReadOnly(bool on) { Set(kReadOnly, on); }
    void SetSystem(bool on) { Set(kSystem, on); }
    void SetHidden(bool on) { Set(kHidden, on); }
    void SetArchive(bool on) { Set(kArchive, on); }
    void SetClearAll(bool on) { Set(kClearAll, on); }
    void SetDirectory(bool on) { Set(kDirectory, on); }

    // Replaces the set from the DOS attribute byte of a ZIP directory
    // record: 0x01 read-only, 0x02 hidden, 0x04 system, 0x10 directory,
    // 0x20 archive; the volume-label bit 0x08 has no effect.
    void SetFromDosAttributes(uint32_t dos_attributes);

private:
    bool Has(uint32_t bit) const { return (word_ & bit) != 0; }
    void Set(uint32_t bit, bool on) { word_ = on ? (word_ | bit) : (word_ & ~bit); }

    uint32_t word_ = 0;
};
