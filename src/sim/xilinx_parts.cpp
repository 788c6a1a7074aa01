#include "sim/xilinx_parts.h"

#include <cctype>
#include <string>

namespace vireo::sim {
namespace {

// Time JPROGRAM keeps INIT low. Data sheets give only an upper bound for the program latency
// (about 2 ms Spartan-6, 5 ms 7-series); Xilinx's JTAG flow waits just 10,000 TCK before the
// image, and so do the configuration sequences our programmer sends, so clearing here ends
// within 10,000 TCK at the fastest legal TCK (66 MHz).
constexpr uint64_t kS6ClearNs = 150'000;
constexpr uint64_t kS7ClearNs = 150'000;
// The data-sheet program latency TPL (JPROGRAM to INIT high). These are upper bounds, not what a
// typical die takes; VIREO_SIM option clear=max makes every FPGA clear this long, so tests can
// prove that a programmer polls INIT instead of trusting a fixed wait.
constexpr uint64_t kS6MaxClearNs = 2'000'000;
constexpr uint64_t kS7MaxClearNs = 5'000'000;

// Spartan-6 images carry 145 half-words around the FDRI burst, 7-series images 583 words.
constexpr XilinxPart s6(const char* name, uint32_t idcode, int bsr, uint32_t image_halfwords,
                        const char* pkg) {
    return {name, Family::Spartan6, idcode,       bsr, image_halfwords, image_halfwords - 145, 65,
            pkg,  kS6ClearNs,       kS6MaxClearNs};
}
constexpr XilinxPart s7(const char* name, uint32_t idcode, int bsr, uint32_t image_words,
                        const char* pkg) {
    return {name, Family::Series7, idcode,       bsr, image_words, image_words - 583, 101,
            pkg,  kS7ClearNs,      kS7MaxClearNs};
}

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

// Boundary-scan lengths are plausible values, not yet checked against the parts' BSDL files.
const std::vector<XilinxPart>& xilinx_parts() {
    static const std::vector<XilinxPart> parts = {
        s6("XC6SLX4", 0x04000093, 272, 170302, "tqg144"),
        s6("XC6SLX9", 0x04001093, 272, 170302, "tqg144"),
        s6("XC6SLX16", 0x04002093, 448, 232098, "csg324"),
        s6("XC6SLX25", 0x04004093, 541, 400731, "csg324"),
        s6("XC6SLX25T", 0x04024093, 541, 400731, "csg324"),
        s6("XC6SLX45", 0x04008093, 795, 742202, "csg324"),
        s6("XC6SLX45T", 0x04028093, 795, 742202, "csg324"),
        s6("XC6SLX75", 0x0400E093, 1017, 1226546, "fgg484"),
        s6("XC6SLX75T", 0x0402E093, 1017, 1226546, "fgg484"),
        s6("XC6SLX100", 0x04011093, 1143, 1658954, "fgg484"),
        s6("XC6SLX100T", 0x04031093, 1143, 1658954, "fgg484"),
        s6("XC6SLX150", 0x0401D093, 1329, 2110106, "fgg484"),
        s6("XC6SLX150T", 0x0403D093, 1329, 2110106, "fgg484"),
        s7("XC7A35T", 0x0362D093, 362, 548003, "csg324"),
        s7("XC7A50T", 0x0362C093, 362, 548003, "csg324"),
        s7("XC7A75T", 0x03632093, 762, 956447, "csg324"),
        s7("XC7A100T", 0x03631093, 762, 956447, "csg324"),
        s7("XC7A200T", 0x03636093, 1214, 2432663, "sbg484"),
        s7("XC7S25", 0x037C4093, 362, 310451, "csga324"),
        s7("XC7S50", 0x0362F093, 362, 548003, "csga324"),
        s7("XC7K160T", 0x0364C093, 1010, 1673143, "ffg676"),
        s7("XC7K325T", 0x03651093, 1208, 2860903, "ffg900"),
        s7("XC7Z010", 0x03722093, 380, 520935, "clg400"),
        s7("XC7Z020", 0x03727093, 654, 1011391, "clg400"),
    };
    return parts;
}

const XilinxPart* find_xilinx_part(std::string_view name) {
    std::string wanted = upper(name);
    if (wanted.rfind("XC", 0) != 0) wanted = "XC" + wanted;
    const XilinxPart* best = nullptr;
    size_t best_len = 0;
    for (const XilinxPart& p : xilinx_parts()) {
        std::string_view die(p.name);
        if (wanted.compare(0, die.size(), die) != 0) continue;
        // What follows the die must be nothing, a separator or package letters, so that
        // "XC6SLX45" never matches "XC6SLX4" and "XC6SLX25TCSG324" prefers "XC6SLX25T".
        if (wanted.size() > die.size()) {
            char next = wanted[die.size()];
            if (next != '_' && next != '-' && !std::isalpha(static_cast<unsigned char>(next)))
                continue;
        }
        if (die.size() > best_len) {
            best = &p;
            best_len = die.size();
        }
    }
    return best;
}

const XilinxPart* find_xilinx_part(uint32_t idcode) {
    for (const XilinxPart& p : xilinx_parts())
        if ((p.idcode & 0x0FFFFFFF) == (idcode & 0x0FFFFFFF)) return &p;
    return nullptr;
}

}  // namespace vireo::sim
