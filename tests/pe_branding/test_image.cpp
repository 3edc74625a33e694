#include "tests/pe_branding/test_image.h"

#include "pe/le_bytes.h"

namespace {
constexpr uint32_t kFileAlignment = 0x200;
constexpr uint32_t kSectionAlignment = 0x1000;
constexpr uint32_t kPeOffset = 0x80;
}  // namespace

uint32_t TestSectionRva(const std::vector<TestSection>& sections, size_t index) {
    uint64_t rva = kSectionAlignment;
    for (size_t i = 0; i < index; ++i) rva += AlignUp(sections[i].data.size(), kSectionAlignment);
    return static_cast<uint32_t>(rva);
}

TestSection ResourceSection(const std::vector<Resource>& resources, uint32_t rva) {
    return TestSection{".rsrc", WriteResourceDirectory(resources, rva), kTestData};
}

std::vector<uint8_t> TestImage::Build() const {
    std::vector<uint8_t> out(kFileAlignment, 0);
    out[0] = 'M';
    out[1] = 'Z';
    Put32(out, 0x3C, kPeOffset);
    Put32(out, kPeOffset, 0x00004550);
    const size_t file_header = kPeOffset + 4, optional = file_header + 20;
    Put16(out, file_header, 0x14C);
    Put16(out, file_header + 2, static_cast<uint16_t>(sections.size()));
    Put16(out, file_header + 16, 224);
    Put16(out, file_header + 18, 0x0102);
    Put16(out, optional, 0x10B);
    Put32(out, optional + 28, 0x400000);
    Put32(out, optional + 32, kSectionAlignment);
    Put32(out, optional + 36, kFileAlignment);
    Put32(out, optional + 60, kFileAlignment);
    Put32(out, optional + 92, 16);
    const size_t table = optional + 224;
    uint32_t image_size = kSectionAlignment;
    for (size_t i = 0; i < sections.size(); ++i) {
        const TestSection& s = sections[i];
        const size_t at = table + 40 * i;
        const uint32_t rva = TestSectionRva(sections, i);
        for (size_t c = 0; c < s.name.size() && c < 8; ++c) out[at + c] = static_cast<uint8_t>(s.name[c]);
        Put32(out, at + 8, static_cast<uint32_t>(s.data.size()));
        Put32(out, at + 12, rva);
        Put32(out, at + 16, static_cast<uint32_t>(AlignUp(s.data.size(), kFileAlignment)));
        Put32(out, at + 20, static_cast<uint32_t>(out.size()));
        Put32(out, at + 36, s.characteristics);
        out.insert(out.end(), s.data.begin(), s.data.end());
        PadTo(out, kFileAlignment);
        image_size = rva + static_cast<uint32_t>(AlignUp(s.data.size(), kSectionAlignment));
        const int index = static_cast<int>(i);
        if (index == resource_section || index == relocation_section) {
            const size_t directory = optional + 96 + 8 * (index == resource_section ? 2 : 5);
            Put32(out, directory, rva);
            Put32(out, directory + 4, static_cast<uint32_t>(s.data.size()));
        }
    }
    Put32(out, optional + 56, image_size);
    if (!symbols.empty()) {
        Put32(out, file_header + 8, static_cast<uint32_t>(out.size()));
        Put32(out, file_header + 12, 1);
        out.insert(out.end(), symbols.begin(), symbols.end());
    }
    return out;
}

uint16_t U16(const std::vector<uint8_t>& bytes, uint64_t at) {
    uint16_t value = 0;
    ByteReader(bytes).U16(at, value);
    return value;
}

uint32_t U32(const std::vector<uint8_t>& bytes, uint64_t at) {
    uint32_t value = 0;
    ByteReader(bytes).U32(at, value);
    return value;
}
