// The pin view of board bring-up: a BSDL description installed on a device of the session's
// chain, SAMPLE to read every pin, EXTEST to drive chosen pins, refreshes that count which pins
// move. Messages go to the log; the rows are for the front end to draw.
#pragma once

#include <string>
#include <vector>

#include "app/session.h"

struct PinTable;

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

    // Connects, installs the description of `bsdl_path` on the session's device and selects that
    // device alone. The description must name the device's IDCODE, and its BOUNDARY_LENGTH must
    // be the boundary register measured on the chain. 1 or a failure status.
    int load(const std::string& bsdl_path);
    // SAMPLE: every pin's state as the device sees it, the running design undisturbed.
    int sample();
    // EXTEST with the pins as last seen, then the settings driven. Every setting is checked
    // before EXTEST starts; a bad one, or no load() that measured the register, fails the whole
    // call with nothing driven.
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

    Session& session_;
    Device* device_ = nullptr;
    int index_ = -1;
    bool extest_ = false;
    bool measured_ = false;  // load() found the description's boundary length on the wire
    bool sampled_ = false;   // a SAMPLE has preloaded the boundary register since then
    std::vector<int> last_state_;
    std::vector<int> changes_;
};

}  // namespace vireo::app
