// The human-readable device source of the device database (data/devices/*.txt, format in
// data/devices/README.md) and its reader. mkddb and the tests share it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ddbgen {

struct Instruction {
    std::string name;
    std::string opcode;  // IR-length characters '0', '1', 'X', MSB first
};

// IR length, capture pattern and opcodes shared by every part of the families that use it.
struct InstructionSet {
    std::string name;
    int ir_length = 0;
    std::string capture;
    std::vector<Instruction> instructions;
};

struct Family {
    std::string name;
    size_t set = 0;  // index into Source::sets
};

struct Manufacturer {
    std::string name;
    std::string code;  // first header text
    std::string info;  // third header text
    std::vector<Family> families;
};

struct Part {
    std::string name;
    std::string key;
    std::string package;
    uint32_t idcode = 0;
    uint32_t mask = 0;
    uint32_t usercode = 0;
    int bsr_len = 0;
    int manufacturer = 0;  // 1-based, as in the index record
    int family = 0;        // 1-based within the manufacturer
    std::string where;     // "file:line" of the part line
};

struct Source {
    std::vector<InstructionSet> sets;
    std::vector<Manufacturer> manufacturers;
    std::vector<Part> parts;  // in source order

    const Family& family_of(const Part& part) const;
    const InstructionSet& set_of(const Part& part) const;
};

// Limits that follow from the binary formats.
constexpr size_t kMaxKey = 31;
constexpr size_t kMaxPartName = 31;
constexpr size_t kMaxFamilyName = 15;  // the family name goes into the record's third text
constexpr int kMaxIrLength = 32;
constexpr int kMaxBoundaryLength = 32767;  // control cells are 16-bit signed

// Adds the contents of one source file to `source`. Problems are appended to `errors` as
// "file:line: message"; the result is false when this file added any.
bool read_source(const std::string& path, Source& source, std::vector<std::string>& errors);

}  // namespace ddbgen
