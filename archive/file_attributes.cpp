#include "archive/file_attributes.h"

void ALFileAttributes::SetFromDosAttributes(uint32_t dos_attributes) {
    uint32_t bits = 0;
    if (dos_attributes & 0x01) bits |= kReadOnly;
    if (dos_attributes & 0x04) bits |= kSystem;
    if (dos_attributes & 0x02) bits |= kHidden;
    if (dos_attributes & 0x20) bits |= kArchive;
    if (dos_attributes & 0x10) bits |= kDirectory;
    SetBits(bits);
}
