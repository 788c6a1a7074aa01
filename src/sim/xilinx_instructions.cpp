#include "sim/xilinx_instructions.h"

#include <array>
#include <utility>

namespace vireo::sim {
namespace {

using I = XilinxInstr;
using Entry = std::pair<uint8_t, XilinxInstr>;

constexpr std::array<Entry, 15> kCommon = {{
    {0x01, I::Sample},
    {0x02, I::User1},
    {0x03, I::User2},
    {0x04, I::CfgOut},
    {0x05, I::CfgIn},
    {0x08, I::Usercode},
    {0x09, I::Idcode},
    {0x0A, I::Highz},
    {0x0B, I::Jprogram},
    {0x0C, I::Jstart},
    {0x0D, I::Jshutdown},
    {0x10, I::IscEnable},
    {0x14, I::IscNoop},
    {0x16, I::IscDisable},
    {0x3F, I::Bypass},
}};

constexpr std::array<Entry, 4> kSpartan6 = {{
    {0x0F, I::Extest},
    {0x1A, I::User3},
    {0x1B, I::User4},
    {0x30, I::Dna},
}};

constexpr std::array<Entry, 5> kSeries7 = {{
    {0x26, I::Extest},
    {0x22, I::User3},
    {0x23, I::User4},
    {0x17, I::Dna},
    {0x32, I::FuseDna},
}};

template <size_t N>
bool lookup(const std::array<Entry, N>& table, uint8_t code, XilinxInstr& out) {
    for (const auto& [c, instr] : table)
        if (c == code) return out = instr, true;
    return false;
}

template <size_t N>
bool reverse(const std::array<Entry, N>& table, XilinxInstr instr, uint8_t& out) {
    for (const auto& [c, i] : table)
        if (i == instr) return out = c, true;
    return false;
}

}  // namespace

XilinxInstr decode_instruction(Family family, uint8_t code) {
    XilinxInstr instr = I::Bypass;
    if (lookup(kCommon, code, instr)) return instr;
    if (family == Family::Spartan6)
        lookup(kSpartan6, code, instr);
    else
        lookup(kSeries7, code, instr);
    return instr;
}

uint8_t instruction_code(Family family, XilinxInstr instr) {
    uint8_t code = 0x3F;
    if (reverse(kCommon, instr, code)) return code;
    if (family == Family::Spartan6)
        reverse(kSpartan6, instr, code);
    else
        reverse(kSeries7, instr, code);
    return code;
}

}  // namespace vireo::sim
