// The Cypress FX3 ROM boot loader of a board without firmware, and the .img firmware layout it
// is fed through vendor request 0xA0: "CY", bImageCTL, bImageType 0xB0, then sections of
// (length in 32-bit words, load address, payload), a zero-length record holding the entry point,
// and the 32-bit sum of all payload words.
//
// The virtual board cannot run foreign code: its only firmware is a stand-in for the JTAG
// firmware, recognised by the marker text right after the first word at the entry point. That
// first word is an ARM branch to itself, so the stand-in would only spin if it ever reached real
// silicon; hosts refuse to send it to real hardware.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace vireo::sim {

class VirtualBoard;

inline constexpr std::string_view kFx3StandInMarker =
    "VIREOJTAG VIRTUAL BOARD FX3 STAND-IN - NOT FIRMWARE FOR REAL HARDWARE";
inline constexpr uint32_t kFx3RamBase = 0x40000000, kFx3RamSize = 0x80000;   // 512 KB
inline constexpr uint32_t kFx3ItcmBase = 0x00000000, kFx3ItcmSize = 0x4000;  // 16 KB
inline constexpr uint32_t kFx3StandInEntry = 0x40003000;
inline constexpr uint32_t kArmBranchToSelf = 0xEAFFFFFE;

struct Fx3ImageSection {
    uint32_t address = 0;
    std::vector<uint32_t> words;
};

// The .img bytes of the given sections and entry point, checksum included.
std::vector<uint8_t> fx3_image_bytes(const std::vector<Fx3ImageSection>& sections, uint32_t entry);
// The stand-in JTAG firmware image of the virtual board.
std::vector<uint8_t> fx3_stand_in_image();

class Fx3BootLoader {
  public:
    explicit Fx3BootLoader(VirtualBoard& board) : board_(board) {}

    // Vendor request 0xA0 with data: store the bytes at the address. False (a stall) when they
    // do not lie inside system RAM or the I-TCM.
    bool write_memory(uint32_t address, const uint8_t* data, size_t length);
    bool read_memory(uint32_t address, uint8_t* data, size_t length) const;
    // Vendor request 0xA0 without data: start the code at the entry point. The stand-in makes
    // the board re-enumerate as the board it becomes; anything else is refused (false).
    bool jump(uint32_t entry);

  private:
    uint8_t* at(uint32_t address, size_t length);
    const uint8_t* at(uint32_t address, size_t length) const;

    VirtualBoard& board_;
    std::vector<uint8_t> ram_ = std::vector<uint8_t>(kFx3RamSize, 0);
    std::vector<uint8_t> itcm_ = std::vector<uint8_t>(kFx3ItcmSize, 0);
};

}  // namespace vireo::sim
