#include "app/pins_view.h"

#include <algorithm>
#include <cctype>
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

namespace {

// The instructions pins loads on the device. BYPASS is among them: every description installs it
// in the instruction register.
constexpr const char* kPinsInstructions[] = {"SAMPLE", "PRELOAD", "EXTEST", "BYPASS"};

// Instructions that configure, stop or erase the design, or program fuses and keys: an opcode of
// one of them under another name would cost the user the running design.
bool configures(const std::string& name) {
    std::string upper;
    for (char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* n : {"JPROGRAM", "JSHUTDOWN", "JSTART", "CFG_IN", "XSC_PROGRAM_KEY"}) {
        if (upper == n) return true;
    }
    return upper.starts_with("ISC_") || upper.starts_with("FUSE_");
}

bool same_opcode(const PartInstruction& a, const PartInstruction& b) {
    return a.mask == b.mask && (a.value & a.mask) == (b.value & b.mask);
}

// Whether some opcode the device could be given for `a` is one of `b`'s ('X' bits match any).
bool opcodes_meet(const PartInstruction& a, const PartInstruction& b) {
    return ((a.value ^ b.value) & a.mask & b.mask) == 0;
}

// "001011", most significant bit first, 'X' for a bit the opcode leaves open.
std::string opcode_text(const PartInstruction& ins, int bits) {
    std::string text;
    for (int i = std::clamp(bits, 1, 32) - 1; i >= 0; --i) {
        text += !(ins.mask >> i & 1) ? 'X' : (ins.value >> i & 1) ? '1' : '0';
    }
    return text;
}

// Counts what the BSDL reader reports (format errors, cut tables) while a description is read;
// every message still goes to the sink that was installed before, which is put back afterwards.
int* g_reader_reports = nullptr;
PrintCallback g_reader_forward = nullptr;

int call_with_args(PrintCallback callback, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = callback(format, args);
    va_end(args);
    return n;
}

int msg_forward(PrintCallback callback, const std::string& text) {
    return call_with_args(callback, "%s", text.c_str());
}

int counting_sink(const char* format, va_list args) {
    const std::string text = format_text(format, args);
    if (g_reader_reports &&
        (text.starts_with("BSDL format error in file:") || text.starts_with("BSDL file:"))) {
        ++*g_reader_reports;
    }
    if (g_reader_forward) return msg_forward(g_reader_forward, text);
    log_message("%s", text.c_str());
    return static_cast<int>(text.size());
}

struct ReaderReportCount {
    explicit ReaderReportCount(int* count) : previous_(current_print_callback()) {
        *count = 0;
        g_reader_reports = count;
        g_reader_forward = previous_;
        set_print_callback(counting_sink);
    }
    ~ReaderReportCount() {
        g_reader_reports = nullptr;
        g_reader_forward = nullptr;
        if (previous_) set_print_callback(previous_);
    }
    PrintCallback previous_;
    ReaderReportCount(const ReaderReportCount&) = delete;
    ReaderReportCount& operator=(const ReaderReportCount&) = delete;
};

}  // namespace

int PinsView::load(const std::string& bsdl_path) {
    const int status = read(bsdl_path);
    return status == JTAG_OK ? measure() : status;
}

int PinsView::read(const std::string& bsdl_path) {
    read_ = measured_ = false;
    file_errors_ = 0;
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
    shown_path_ = shown_text(bsdl_path);
    const std::string& shown_path = shown_path_;
    const uint32_t detected = device_get_idcode(device_);
    detected_name_ = device_description(device_);
    const std::string& detected_name = detected_name_;
    // The database's own record of the detected part, whatever description a device holds now.
    const PartRecordPtr known(part_lookup(nullptr, detected));
    if (!known) return JTAG_NO_MEMORY;
    bool installed = false;
    {
        ReaderReportCount count(&file_errors_);
        installed = device_load_description(device_, shown_path.c_str()) != 0;
    }
    if (!installed) {
        log_message("%s: no usable BSDL description", shown_path.c_str());
        return JTAG_FILE_TYPE;
    }
    // Boundary data of another part would drive the wrong pads: the description must be this
    // device's (the revision nibble aside).
    const PartRecord* part = device_part(device_);
    const uint32_t mask = part->idcode_mask & 0x0FFFFFFF;
    if (mask == 0 || (part->idcode & mask) != (detected & mask)) {
        log_message("%s describes %s (IDCODE %08X), but device %d is %s (IDCODE %08X)",
                    shown_path.c_str(), part->name.c_str(), part->idcode, index_,
                    detected_name.c_str(), detected);
        return JTAG_IDCODE;
    }
    if (part->bsr_len <= 0) {
        log_message("%s: the description has no boundary register", shown_path.c_str());
        return JTAG_FILE_TYPE;
    }
    const int status = check_opcodes(*known, shown_path);
    if (status != JTAG_OK) {
        // The device gets its database record back: nothing of the refused file stays on it.
        if (!known->instructions.empty()) device_set_part(device_, known->name.c_str());
        return status;
    }
    if (file_errors_ > 0) {
        log_message("%s: the BSDL reader reported %d error%s in the file", shown_path.c_str(),
                    file_errors_, file_errors_ == 1 ? "" : "s");
    }
    read_ = true;
    return JTAG_OK;
}

int PinsView::check_opcodes(const PartRecord& known, const std::string& shown_path) {
    PartRecord* part = device_part(device_);
    char unknown_name[48];
    std::snprintf(unknown_name, sizeof unknown_name, "device %d (IDCODE %08X)", index_,
                  part->idcode);
    const char* device_name = known.name.empty() ? unknown_name : known.name.c_str();
    auto refuse = [&](const std::string& why) {
        log_message("%s %s: refused, no instruction of the description is loaded",
                    shown_path.c_str(), why.c_str());
        return JTAG_FAIL;
    };
    const bool in_database = !known.instructions.empty();
    if (in_database) {
        if (known.ir_length != part->ir_length) {
            return refuse("describes a " + std::to_string(part->ir_length) +
                          "-bit instruction register, the device " + device_name + " has " +
                          std::to_string(known.ir_length) + " bits");
        }
        for (const char* name : kPinsInstructions) {
            const PartInstruction* own = part_find_instruction(&known, name, 0);
            if (!own) continue;
            const PartInstruction* described = part_find_instruction(part, name, 0);
            if (described && !same_opcode(*own, *described)) {
                return refuse("gives " + std::string(name) + " the opcode " +
                              opcode_text(*described, part->ir_length) + ", the device " +
                              device_name + "'s is " + opcode_text(*own, known.ir_length));
            }
            // A known part's boundary instructions are the database's, even where the
            // description leaves one out.
            if (!described) part->instructions.push_back(*own);
        }
    } else {
        // A part the database does not know: its description is the only source of opcodes. It
        // names the device's IDCODE, so it is taken as the part's own (the boundary length is
        // still measured), but an opcode it also gives an instruction that configures or erases
        // the device is refused below, before anything is loaded.
        log_message(
            "The device database does not know %s: the opcodes of SAMPLE and EXTEST are the "
            "description's own, unchecked",
            device_name);
    }
    // The configuring instructions the device is known to have: the database's, else the
    // description's.
    const PartRecord& table = in_database ? known : *part;
    for (const char* name : kPinsInstructions) {
        const PartInstruction* described = part_find_instruction(part, name, 0);
        if (!described) continue;
        for (const PartInstruction& other : table.instructions) {
            if (configures(other.name) && opcodes_meet(*described, other)) {
                return refuse("gives " + std::string(name) + " the opcode " +
                              opcode_text(*described, part->ir_length) + ", which is " +
                              other.name + " (" + opcode_text(other, table.ir_length) +
                              ") on the device " + device_name);
            }
        }
    }
    return JTAG_OK;
}

int PinsView::measure() {
    measured_ = false;
    if (!read_) return JTAG_FAIL;
    Chain* chain = session_.chain();
    const PartRecord* part = device_part(device_);
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
            shown_path_.c_str(), part->bsr_len, detected_name_.c_str(), measured.length);
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

std::vector<std::string> PinsView::resolve_all(const std::vector<PinSetting>& settings) const {
    std::vector<std::string> names;
    for (size_t i = 0; i < settings.size(); ++i) {
        names.push_back(resolve(settings[i]));
        if (names.back().empty()) return {};
        // Two settings of one pin leave only the last one's level: which was meant is unknown.
        const int slot = pin_find(table(), names.back().c_str());
        for (size_t j = 0; j < i; ++j) {
            if (pin_find(table(), names[j].c_str()) == slot) {
                log_message("%s and %s both set pin %s: set each pin once",
                            shown_text(settings[j].name).c_str(),
                            shown_text(settings[i].name).c_str(), pin_name_at(table(), slot));
                return {};
            }
        }
    }
    return names;
}

int PinsView::check_settings(const std::vector<PinSetting>& settings, bool extest) const {
    if (!read_) return JTAG_FAIL;
    if (extest && file_errors_ > 0) {
        log_message(
            "%s: the BSDL reader reported %d error%s in the file, so its cells may not be the "
            "device's: EXTEST is refused, no pin is driven",
            shown_path_.c_str(), file_errors_, file_errors_ == 1 ? "" : "s");
        return JTAG_FAIL;
    }
    return resolve_all(settings).size() == settings.size() ? JTAG_OK : JTAG_FAIL;
}

int PinsView::extest(const std::vector<PinSetting>& settings) {
    if (!measured_ || check_settings(settings, true) != JTAG_OK) return JTAG_FAIL;
    const std::vector<std::string> names = resolve_all(settings);
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
    // In EXTEST the output and control cells capture what their update latches drive: a
    // read-back that is not the data just shifted comes from another register or another
    // instruction, and nothing is known about what the pins do.
    const int wrong =
        pintable_readback_mismatches(table(), device_get_register(device_, DEVICE_DR));
    if (wrong != 0) {
        extest_ = false;
        const bool reset = jtag_reset(chain) == JTAG_OK;
        log_message(
            "EXTEST did not read back what it drives (%d output and control cells differ): the "
            "device's boundary register is not the one %s describes, or the device is not in "
            "EXTEST. %s",
            wrong, shown_path_.c_str(),
            reset ? "The TAP was reset: the pins are back with the design"
                  : "The TAP reset failed too: the state of the pins is unknown");
        return JTAG_FAIL;
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
