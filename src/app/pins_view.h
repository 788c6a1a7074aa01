// The pin view of board bring-up: a BSDL description installed on a device of the session's
// chain, SAMPLE to read every pin, EXTEST to drive chosen pins, refreshes that count which pins
// move. Messages go to the log; the rows are for the front end to draw.
#pragma once

#include <string>
#include <vector>

#include "app/session.h"

struct PinTable;
struct PartRecord;

namespace vireo::app {

// "PIN=0", "PIN=1" or "PIN=z": a port or user name, a pin name, or "@" and a pin name.
struct PinSetting {
    std::string name;
    int level = 0;  // 0, 1, or -1 for high impedance
};
// Empty text when `text` is a valid setting (filled into `setting`), else why it is not.
std::string parse_pin_setting(const std::string& text, PinSetting* setting);

// Reads a BSDL file and prints what the reader built (format errors by line) through the
// message sink. False when the file yields no description.
bool dump_bsdl_file(const std::string& path);

struct PinRow {
    std::string pin;
    std::string port;
    std::string type;   // "INPUT", "BIDIR", "VCC", ...
    std::string cells;  // "out/in/ctl", '-' for an absent cell
    std::string state;  // "input 1", "output 0", "HI-Z", "conflict 0", "-" (no cells)
    int changes = 0;    // state changes seen by refresh()
};

class PinsView {
  public:
    explicit PinsView(Session& session) : session_(session) {}

    // read() and measure(): the description installed and checked, its register measured.
    int load(const std::string& bsdl_path);
    // Connects and installs the description of `bsdl_path` on the session's device, with no
    // instruction of the description loaded yet. The description must name the device's IDCODE,
    // and give SAMPLE/PRELOAD, EXTEST and BYPASS the opcodes the device database gives the part
    // (a known part then takes them from the database); for a part the database does not know,
    // none of them may share an opcode with an instruction that configures or erases the
    // device. JTAG_OK or a failure status, said in the log.
    int read(const std::string& bsdl_path);
    // After read(): measures the boundary register on the chain (SAMPLE/PRELOAD) and refuses a
    // description whose BOUNDARY_LENGTH differs; selects the device alone.
    int measure();
    // After read(): every setting names a pin of the description that can take its level, no
    // pin is set twice, and for EXTEST the file read without errors. JTAG_OK, or JTAG_FAIL after
    // the log said why; nothing is shifted.
    int check_settings(const std::vector<PinSetting>& settings, bool extest) const;
    // Format errors and table cuts the BSDL reader reported for the file of read().
    int file_errors() const { return file_errors_; }
    // SAMPLE: every pin's state as the device sees it, the running design undisturbed.
    int sample();
    // EXTEST with the pins as last seen, then the settings driven and read back. Every setting
    // is checked (check_settings) before EXTEST starts; a bad one, or no load() that measured the
    // register, fails the whole call with nothing driven. A read-back whose output and control
    // cells are not the data just shifted (the register is not the description's, or the device
    // is not in EXTEST) fails too, after a TAP reset gave the pins back to the design.
    int extest(const std::vector<PinSetting>& settings);
    // Shifts the boundary register again (SAMPLE or EXTEST as loaded) and counts changes.
    int refresh();

    std::vector<PinRow> rows() const;
    // "XC7A100T_CSG324, package CSG324 (324 pins), 762 boundary cells"
    std::string summary() const;
    int device_index() const { return index_; }
    bool extest_active() const { return extest_; }

  private:
    PinTable* table() const;
    void note_changes();
    // The pin name a setting addresses; "" after saying why there is none.
    std::string resolve(const PinSetting& setting) const;
    // The pins the settings address, in order; empty after the log said why one is refused.
    std::vector<std::string> resolve_all(const std::vector<PinSetting>& settings) const;
    // Refuses (JTAG_FAIL, logged) a description whose boundary instructions are not the
    // device's own; `known` is the database's record of the device (no instructions: unknown).
    int check_opcodes(const PartRecord& known, const std::string& shown_path);

    Session& session_;
    Device* device_ = nullptr;
    int index_ = -1;
    bool extest_ = false;
    bool read_ = false;      // read() installed a description that passed its checks
    bool measured_ = false;  // load() found the description's boundary length on the wire
    bool sampled_ = false;   // a SAMPLE has preloaded the boundary register since then
    int file_errors_ = 0;
    std::string shown_path_;     // the description's file, as the log shows it
    std::string detected_name_;  // the device's name before the description was installed
    std::vector<int> last_state_;
    std::vector<int> changes_;
};

}  // namespace vireo::app
