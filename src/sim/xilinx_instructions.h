// The 6-bit instruction set of the Spartan-6 and 7-series TAPs. The two families share most
// codes but place EXTEST, USER3/USER4 and the DNA readers differently.
#pragma once

#include <cstdint>

#include "sim/xilinx_parts.h"

namespace vireo::sim {

enum class XilinxInstr {
    Bypass,  // BYPASS and every code the model does not implement
    Idcode,
    Usercode,
    Sample,  // SAMPLE/PRELOAD
    Extest,
    Highz,
    Jprogram,
    CfgIn,
    CfgOut,
    Jstart,
    Jshutdown,
    IscEnable,
    IscDisable,
    IscNoop,
    Dna,      // Spartan-6 ISC_DNA, 7-series XSC_DNA: 57 bits, needs ISC mode
    FuseDna,  // 7-series FUSE_DNA: 64 bits, no ISC mode needed
    User1,
    User2,
    User3,
    User4,
};

XilinxInstr decode_instruction(Family family, uint8_t code);

// Opcode of an instruction in a family; 0x3F (BYPASS) where the family lacks it.
uint8_t instruction_code(Family family, XilinxInstr instr);

}  // namespace vireo::sim
