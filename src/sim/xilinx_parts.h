// Part table of the virtual Xilinx FPGAs: everything the TAP model, the
// configuration engine and mkbit need to know about one die.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace vireo::sim {

enum class Family { Spartan6, Series7 };

struct XilinxPart {
    const char* name;  // upper case, no package: "XC7A100T", "XC6SLX16", "XC7S50", "XC7Z020"
    Family family;
    uint32_t idcode;        // revision nibble 0
    int bsr_len;            // boundary-scan register length in bits
    uint32_t image_words;   // configuration words (32-bit on 7-series, 16-bit on Spartan-6) of a
                            // full uncompressed image as the vendor tool writes it
    uint32_t fdri_words;    // words of the FDRI burst of that image
    uint32_t frame_words;   // words of one configuration frame
    const char* package;    // package used in the .bit header of generated images ("csg324")
    uint64_t clear_ns;      // time JPROGRAM takes to clear the configuration memory
    uint64_t max_clear_ns;  // data-sheet maximum of that time (program latency TPL)
};

// Ratio between a part's image and its words: 4 bytes per word on 7-series, 2 on Spartan-6.
inline uint32_t bytes_per_word(const XilinxPart& p) {
    return p.family == Family::Series7 ? 4 : 2;
}

// Every part the virtual board can hold.
const std::vector<XilinxPart>& xilinx_parts();

// Looks a part up by name, ignoring letter case; a trailing package after '_' or the package
// letters after the die ("XC7S50_CSGA324", "xc7a100tcsg324") are accepted. Null when unknown.
const XilinxPart* find_xilinx_part(std::string_view name);

// Looks a part up by IDCODE, ignoring the revision nibble. Null when unknown.
const XilinxPart* find_xilinx_part(uint32_t idcode);

}  // namespace vireo::sim
