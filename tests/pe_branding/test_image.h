// Small PE32 images for the tests of the PE module: DOS header, PE
// headers, and the sections asked for, laid out with file alignment 0x200
// and section alignment 0x1000.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/sea_build/image_writer/resource_tree.h"

struct TestSection {
    std::string name;
    std::vector<uint8_t> data;
    uint32_t characteristics;
};

constexpr uint32_t kTestCode = 0x60000020;
constexpr uint32_t kTestData = 0xC0000040;
constexpr uint32_t kTestDiscardable = 0x42000040;

struct TestImage {
    std::vector<TestSection> sections;
    int resource_section = -1;   // its data is the resource directory
    int relocation_section = -1; // the base relocation directory
    std::vector<uint8_t> symbols; // a COFF symbol table after the sections

    std::vector<uint8_t> Build() const;
};

// A resource directory section for resources, mapped at rva.
TestSection ResourceSection(const std::vector<Resource>& resources, uint32_t rva);

// The RVA the section at index gets in a TestImage of these sections.
uint32_t TestSectionRva(const std::vector<TestSection>& sections, size_t index);

// The little-endian value at `at` in bytes; 0 where it does not fit.
uint16_t U16(const std::vector<uint8_t>& bytes, uint64_t at);
uint32_t U32(const std::vector<uint8_t>& bytes, uint64_t at);
