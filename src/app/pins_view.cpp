#include "app/pins_view.h"

#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/host.h"
#include "devdb/bsdl.h"
#include "devdb/pins.h"
#include "jtag/chain.h"
#include "jtag/device.h"
#include "jtag/msg.h"
#include "jtag/opflag.h"
#include "jtag/status.h"

namespace vireo::app {

std::string parse_pin_setting(const std::string& text, PinSetting* setting) {
    const size_t eq = text.rfind('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 >= text.size()) {
        return "not PIN=0|1|z: '" + text + "'";
    }
    const std::string value = text.substr(eq + 1);
    PinSetting parsed;
    parsed.name = text.substr(0, eq);
    if (value == "0") {
        parsed.level = 0;
    } else if (value == "1") {
        parsed.level = 1;
    } else if (value == "z" || value == "Z") {
        parsed.level = -1;
    } else {
        return "level of '" + parsed.name + "' is not 0, 1 or z: '" + value + "'";
    }
    if (parsed.name == "@") return "no pin name after '@': '" + text + "'";
    if (setting) *setting = parsed;
    return "";
}

bool dump_bsdl_file(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        msg_print("%s: not a readable file\n", path.c_str());
        return false;
    }
    std::unique_ptr<DeviceDescription, void (*)(DeviceDescription*)> description(
        bsdl_read(path.c_str()), devdesc_free);
    bsdl_dump(description.get());
    return description != nullptr;
}

PinTable* PinsView::table() const {
    return device_pins(device_);
}

int PinsView::load(const std::string& bsdl_path) {
    measured_ = false;
    if (session_.connect() != ConnectResult::Connected) return JTAG_NO_DEVICE;
    Chain* chain = session_.chain();
    device_ = session_.device();
    index_ = -1;
    for (int i = 0; i < chain_count(chain); ++i) {
        if (chain_get_device(chain, i) == device_) index_ = i;
    }
    if (!device_ || index_ < 0) return JTAG_NO_DEVICE;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(bsdl_path, ec)) {
        log_message("%s: not a readable file", shown_text(bsdl_path).c_str());
        return JTAG_FILE_OPEN;
    }
    const uint32_t detected = device_get_idcode(device_);
    const std::string detected_name = device_description(device_);
    if (!device_load_description(device_, shown_text(bsdl_path).c_str())) {
        log_message("%s: no usable BSDL description", shown_text(bsdl_path).c_str());
        return JTAG_FILE_TYPE;
    }
    // Boundary data of another part would drive the wrong pads: the description must be this
    // device's (the revision nibble aside).
    const PartRecord* part = device_part(device_);
    const uint32_t mask = part->idcode_mask & 0x0FFFFFFF;
    if (mask == 0 || (part->idcode & mask) != (detected & mask)) {
        log_message("%s describes %s (IDCODE %08X), but device %d is %s (IDCODE %08X)",
                    shown_text(bsdl_path).c_str(), part->name.c_str(), part->idcode, index_,
                    detected_name.c_str(), detected);
        return JTAG_IDCODE;
    }
    if (part->bsr_len <= 0) {
        log_message("%s: the description has no boundary register", shown_text(bsdl_path).c_str());
        return JTAG_FILE_TYPE;
    }
    // A description whose boundary register is not the device's own would read, and drive,
    // every pin from the wrong cells: its length is checked against the wire before any use.
    BoundaryMeasure measured;
    const int status = jtag_measure_boundary(chain, index_, &measured);
    if (status != JTAG_OK) {
        log_message(
            "The boundary register of device %d could not be measured: %s. No pin is read "
            "or driven",
            index_, measured.reason.c_str());
        return status;
    }
    if (measured.length != part->bsr_len) {
        log_message(
            "%s describes %d boundary cells, the device %s has %d: refused, no pin is "
            "driven",
            shown_text(bsdl_path).c_str(), part->bsr_len, detected_name.c_str(), measured.length);
        return JTAG_FILE_TYPE;
    }
    measured_ = true;
    sampled_ = false;
    jtag_select_none(chain);
    jtag_select(chain, index_, 1);
    last_state_.assign(static_cast<size_t>(pintable_count(table())), PIN_UNPROBED);
    changes_.assign(last_state_.size(), 0);
    return JTAG_OK;
}

void PinsView::note_changes() {
    const PinTable* pins = table();
    for (int i = 1; i < pintable_count(pins); ++i) {
        const size_t k = static_cast<size_t>(i);
        const int state = pins->pins[k].state;
        if (last_state_[k] != PIN_UNPROBED && state != last_state_[k]) ++changes_[k];
        last_state_[k] = state;
    }
}

int PinsView::sample() {
    const int status = jtag_sample(session_.chain());
    if (status != JTAG_OK) {
        chain_report_errors(session_.chain());
        return status;
    }
    extest_ = false;
    sampled_ = true;
    note_changes();
    return status;
}

std::string PinsView::resolve(const PinSetting& setting) const {
    const PinTable* pins = table();
    std::string pin;
    if (setting.name[0] == '@') {
        if (pin_find(pins, shown_text(setting.name).c_str() + 1)) pin = setting.name.substr(1);
    } else {
        pin = pin_by_port(pins, shown_text(setting.name).c_str());
        if (pin.empty() && pin_find(pins, shown_text(setting.name).c_str())) pin = setting.name;
    }
    if (pin.empty()) {
        log_message("%s: no such port or pin in the description", shown_text(setting.name).c_str());
        return "";
    }
    int output = -1, input = -1, control = -1;
    pin_cells(pins, pin.c_str(), &output, &input, &control);
    if (setting.level >= 0 ? output < 0 : control < 0) {
        log_message("%s (pin %s) has no %s cell: it cannot be %s", shown_text(setting.name).c_str(),
                    pin.c_str(), setting.level >= 0 ? "output" : "control",
                    setting.level >= 0 ? "driven" : "released");
        return "";
    }
    return pin;
}

int PinsView::extest(const std::vector<PinSetting>& settings) {
    if (!measured_) return JTAG_FAIL;
    std::vector<std::string> names;
    for (const PinSetting& setting : settings) {
        names.push_back(resolve(setting));
        if (names.back().empty()) return JTAG_FAIL;
    }
    // The measurement left the update latches at zero; SAMPLE preloads the pins as seen.
    if (!sampled_) {
        const int status = sample();
        if (status != JTAG_OK) return status;
    }
    Chain* chain = session_.chain();
    Devopt* devopt = device_devopt(device_);
    // A scan captures before it updates: the second capture shows the pins driven.
    devopt->capture_twice = 1;
    int status = jtag_extest(chain);
    if (status == JTAG_OK) {
        extest_ = true;
        devopt->capture_twice = 1;
        for (size_t i = 0; i < settings.size(); ++i) {
            const int level = settings[i].level;
            pin_drive(table(), names[i].c_str(), devopt->bsr.data(), devopt->bsr.size(),
                      level < 0 ? 0 : level, level < 0 ? 0 : 1);
        }
        status = jtag_update_boundary(chain);
    }
    if (status != JTAG_OK) {
        chain_report_errors(chain);
        return status;
    }
    note_changes();
    return status;
}

int PinsView::refresh() {
    if (extest_) device_devopt(device_)->capture_twice = 1;
    const int status = jtag_update_boundary(session_.chain());
    if (status != JTAG_OK) {
        chain_report_errors(session_.chain());
        return status;
    }
    note_changes();
    return status;
}

std::vector<PinRow> PinsView::rows() const {
    std::vector<PinRow> rows;
    const PinTable* pins = table();
    // Built with append: GCC 12 warns falsely (-Wrestrict) on operator+ chains here.
    auto cell = [](int32_t n) { return n < 0 ? std::string("-") : std::to_string(n); };
    for (int i = 1; i < pintable_count(pins); ++i) {
        const Pin& pin = pins->pins[static_cast<size_t>(i)];
        PinRow row;
        row.pin = pin.pin_name;
        row.port = pin.port_name;
        row.type = pin_type_text(pin.type);
        row.type.erase(row.type.find_last_not_of(' ') + 1);
        if (pin.access == 0) {
            row.cells = cell(pin.output_cell);
            row.cells.append("/").append(cell(pin.input_cell));
            row.cells.append("/").append(cell(pin.control_cell));
            row.state = pin_state_label(pin.state);
        } else {
            row.cells.assign(1, '-');
            row.state.assign(1, '-');
        }
        row.changes = changes_[static_cast<size_t>(i)];
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string PinsView::summary() const {
    const PartRecord* part = device_part(device_);
    if (!part) return "";
    char text[256];
    std::snprintf(text, sizeof text, "device %d: %s, package %s (%d pins), %d boundary cells",
                  index_, part->name.c_str(), device_package(device_), device_->pin_count,
                  part->bsr_len);
    return text;
}

}  // namespace vireo::app
