// The design file is checked before the FPGA is touched: a file the configuration modules would
// refuse must not cost the user the design that runs now (Shutdown clears it first).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vireo::app {

struct DesignFileCheck {
    bool ok = false;
    // A refusal in the words the configuration modules use for it ("Not bitstream file.",
    // "Bit file format error"), followed by a line that names the cause.
    std::vector<std::string> messages;
};

// True when the file NAME (not the folders above it) ends in ".bit", in any letter case.
bool has_bit_extension(const std::string& path);

// A private copy of a design file's header and the image it declares, taken in one read, so that
// what is checked afterwards is exactly what the FPGA receives, whatever a synthesis run does to
// the file meanwhile. The copy keeps the file's name in a folder of its own and goes with the
// object.
class DesignSnapshot {
  public:
    explicit DesignSnapshot(const std::string& path);
    ~DesignSnapshot();
    DesignSnapshot(const DesignSnapshot&) = delete;
    DesignSnapshot& operator=(const DesignSnapshot&) = delete;

    // The copy; "" when none could be made (problem() says why).
    const std::string& path() const { return copy_; }
    const std::string& problem() const { return problem_; }

  private:
    std::string folder_, copy_, problem_;
};

// A .bit file name, a regular file that can be opened for reading, and a whole bitstream: its
// header parses, the image length it declares is in the file, the image holds the sync word.
DesignFileCheck check_design_file(const std::string& path);

// Why a configuration file is not for the device, "" when it is or when the file does not say:
// the part its .bit header names must start with the device's part name, and every IDCODE its
// configuration stream writes (the check the FPGA itself makes, revision ignored) must be the
// device's; with need_idcode the stream must write one and reach its DESYNC command. Such a file
// would not configure the device, from JTAG or from the flash.
std::string design_part_refusal(const std::string& path, const std::string& device_name,
                                uint32_t device_idcode, bool need_idcode = false);

// What a configuration stream (bytes as in the file) writes, walking its packets after the sync
// word: 32-bit words on 7-series, 16-bit words on Spartan-6, type-1 and type-2 packets alike.
struct StreamFacts {
    std::vector<uint32_t> idcodes;  // every IDCODE register write
    bool desync = false;            // the stream reaches its DESYNC command
};
StreamFacts stream_facts(const uint8_t* data, size_t size, bool spartan6);

// Whether a .bit file holds a whole configuration: the image its header declares, with the sync
// word, up to the stream's DESYNC command (of either family). What --wait waits for.
bool bitstream_complete(const std::string& path);

}  // namespace vireo::app
