// The tables of a BSDL file: the boundary register, the pin map, and the description built from
// everything the reading collected.
#include <strings.h>

#include <cctype>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "devdb/bsdl.h"
#include "devdb/bsdl_reader.h"
#include "jtag/msg.h"

namespace bsdl_reader {
namespace {

bool cell_function(const std::string& text, CellFunction& function) {
    static constexpr std::pair<const char*, CellFunction> kFunctions[] = {
        {"internal", CellFunction::Internal},
        {"input", CellFunction::Input},
        {"control", CellFunction::Control},
        {"controlr", CellFunction::Controlr},
        {"output2", CellFunction::Output2},
        {"output3", CellFunction::Output3},
        {"bidir", CellFunction::Bidir},
        {"clock", CellFunction::Clock},
        {"observe_only", CellFunction::ObserveOnly},
    };
    for (const auto& [name, value] : kFunctions) {
        if (strcasecmp(text.c_str(), name) == 0) {
            function = value;
            return true;
        }
    }
    return false;
}

bool disable_result(const std::string& text, DisableResult& result) {
    static constexpr std::pair<const char*, DisableResult> kResults[] = {
        {"Z", DisableResult::Z},         {"PULL0", DisableResult::Pull0},
        {"PULL1", DisableResult::Pull1}, {"WEAK0", DisableResult::Weak0},
        {"WEAK1", DisableResult::Weak1}, {"KEEPER", DisableResult::Keeper},
    };
    for (const auto& [name, value] : kResults) {
        if (strcasecmp(text.c_str(), name) == 0) {
            result = value;
            return true;
        }
    }
    return false;
}

// The cell type's BC number from "BC_n" (its first digit). The AC cells of AC-coupled pins are
// known types without a BC number; anything else is not a cell type.
bool cell_type(const std::string& text, uint8_t& bc_type) {
    if (text.size() > 3 && strncasecmp(text.c_str(), "BC_", 3) == 0 && is_digit(text[3])) {
        bc_type = static_cast<uint8_t>(text[3] - '0');
        return true;
    }
    return text.size() > 3 && strncasecmp(text.c_str(), "AC_", 3) == 0;
}

std::string trimmed(const std::string& text) {
    std::string copy = text;
    trim_text(copy.data());
    return std::string(copy.c_str());
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

void Reader::boundary_register() {
    if (boundary_length_ <= 0) {
        error(102);
        stop_ = true;
        throw StatementEnd{};
    }
    cells_.assign(static_cast<size_t>(boundary_length_), ParseCell{});
    have_cells_ = true;
    open_string();
    for (;;) {
        vtake();  // after a joint without '&' the token found is read as a cell number
        if (is(',')) continue;
        long cell = -1;
        cell_number(cell);
        // An entry is kept as far as it was read.
        ParseCell pc;
        try {
            cell_fields(pc);
        } catch (const EntryLost&) {
        } catch (const StatementEnd&) {
            if (cell >= 0) cells_[static_cast<size_t>(cell)] = std::move(pc);
            throw;
        }
        if (cell >= 0) cells_[static_cast<size_t>(cell)] = std::move(pc);
    }
}

// The number that opens an entry. Anything else there is reported once and passed over up to the
// next number, or up to a '(' that opens an entry without its number (read, then dropped: -1).
void Reader::cell_number(long& cell) {
    if (kind() != TokenKind::Number) {
        error(77);
        while (kind() != TokenKind::Number) {
            if (is('(')) {
                unread();
                cell = -1;
                return;
            }
            vtake();
        }
    }
    cell = number_value(tok());
    if (cell >= boundary_length_) {
        msg_print("Boundary register length exceeded 'attribute BOUNDARY_LENGTH'.\n");
        skip_to_end();
    }
}

// The next token of an entry; a joint without its '&' gives the entry up.
void Reader::cell_take() {
    if (vtake()) return;
    unread();
    throw EntryLost{};
}

// ( BC_n , PORT [ ( INDEX ) ] , FUNCTION , SAFE [ , CCELL , DISVAL , RESULT ] )
// Fields are counted by their commas: after a misplaced token the entry resynchronises at the
// next ',' (the next field) or at ')' or the segment's end (the entry ends), so one fault such as
// a missing comma stays inside its entry and the entries after it read as written.
void Reader::cell_fields(ParseCell& pc) {
    cell_take();
    if (!is('(')) {
        error(72);
        unread();  // read as the cell type
    }
    for (int field = 0;; ++field) {
        cell_take();
        cell_field(field, pc);
        cell_take();
        const bool may_end = field == 3 || field == 6;
        if (is(',') && field < 6) continue;
        if (is(')') && may_end) return;
        error(may_end ? 74 : 75);
        if (!resync_entry(field)) return;
    }
}

// Passes over tokens from the current one up to a ',' that starts another field (true) or up to
// the entry's ')' or its segment's end (false).
bool Reader::resync_entry(int field) {
    const int segment = segments_;
    for (;;) {
        if (is(')')) return false;
        if (is(',') && field < 6) return true;
        cell_take();
        if (segments_ != segment) {
            unread();  // the next segment starts with a cell number
            return false;
        }
    }
}

// One field of an entry, by its place: 0 cell type, 1 port, 2 function, 3 safe value, 4 control
// cell, 5 disable value, 6 disable result. A ',' or ')' in a field's place means the value is
// missing: it is reported and left for the separator check.
void Reader::cell_field(int field, ParseCell& pc) {
    static constexpr int kMissing[] = {83, 67, 78, 67, 77, 67, 79};
    if (is(',') || is(')')) {
        error(kMissing[field]);
        unread();
        return;
    }
    switch (field) {
        case 0:
            if (!cell_type(tok(), pc.bc_type)) error(83);
            break;
        case 1: {
            pc.port = tok();
            cell_take();
            if (!is('(')) {
                unread();
                break;
            }
            cell_take();
            const std::string index = tok();
            cell_take();
            if (!is(')')) {
                error(74);
                unread();
            }
            pc.port += "(" + index + ")";
            break;
        }
        case 2:
            if (!cell_function(tok(), pc.function)) error(78);
            break;
        case 3:
            pc.safe_value = tok().empty() ? '\0' : tok()[0];
            break;
        case 4:
            if (kind() != TokenKind::Number) {
                error(77);
            } else if (const long control = number_value(tok()); control >= boundary_length_) {
                note("control cell " + printable(tok()) +
                     " is outside the boundary register; taken as none.");
            } else {
                pc.control_cell = static_cast<int16_t>(control);
            }
            break;
        case 5:
            pc.disable_value = tok().empty() ? ' ' : tok()[0];
            break;
        default:
            if (!disable_result(tok(), pc.disable_result)) error(79);
            break;
    }
}

// constant NAME : PIN_MAP_STRING := "PORT : PIN , PORT : ( PIN , ... ) , ..." ;
void Reader::constant() {
    take();
    take();
    if (!is(':')) error(62);
    take();
    if (!word("PIN_MAP_STRING")) skip_to_end();
    if (have_pin_map_) {
        error(101);
        skip_to_end();
    }
    have_pin_map_ = true;
    take();
    if (!is(':')) error(62);
    take();
    if (!is('=')) error(69);
    open_string();
    for (;;) {
        vtake();
        if (kind() != TokenKind::Identifier) error(80);
        const std::string port_name = tok();
        vtake();
        if (!is(':')) error(62);
        vtake();
        if (is('(')) {
            const Bus* bus = find_bus(port_name);
            long index = bus ? bus->first : 0;
            const long step = bus && bus->last < bus->first ? -1 : 1;
            bool said_range = false;
            for (;;) {
                vtake();
                const bool in_range = !bus || (step > 0 ? index <= bus->last : index >= bus->last);
                if (in_range) {
                    add_pin(port_name + "(" + std::to_string(index) + ")", tok());
                } else {
                    note_once(said_range, "bus '" + port_name + "' has no index " +
                                              std::to_string(index) + "; the pin is not kept.");
                }
                index += step;
                vtake();
                if (is(',')) continue;
                if (!is(')')) error(74);
                break;
            }
        } else {
            add_pin(port_name, tok());
        }
        vtake();
        if (is(',')) {
            if (static_cast<int>(pins_.size()) >= kBsdlMaxPins) {
                error(103);
                skip_to_end();
            }
            continue;
        }
        error(75);
    }
}

void Reader::add_pin(const std::string& port_name, const std::string& pin) {
    if (static_cast<int>(pins_.size()) >= kBsdlMaxPins) {
        note_once(said_pins_,
                  "more than " + std::to_string(kBsdlMaxPins) + " pins; the rest are not kept.");
        return;
    }
    pins_.emplace_back(port_name, pin);
}

DeviceDescription* Reader::build() {
    if (!have_entity_) return nullptr;
    auto d = std::make_unique<DeviceDescription>();
    d->name = entity_;
    d->package = package_.empty() ? "undefined" : package_;
    d->idcode = bits_value(idcode_.c_str());
    d->idcode_mask = bits_mask(idcode_.c_str());
    d->usercode = 0;

    for (const InstructionSlot& slot : instructions_) {
        if (slot.name.empty()) break;
        if (!slot.has_opcode) {
            msg_print("%s:no inst_code of %s\n", path_.c_str(), slot.name.c_str());
        }
        d->instructions.push_back({slot.name, slot.has_opcode ? slot.opcode : "", 0});
    }
    d->ir_length = static_cast<uint8_t>(ir_length_);
    if (d->instructions.empty()) {
        d->instructions.push_back({"BYPASS", "11111111", 0});
        d->ir_length = 8;
    }
    d->ir_capture = capture_;

    // The register as read, even when a later BOUNDARY_LENGTH names another length.
    d->cells.resize(have_cells_ ? cells_.size() : static_cast<size_t>(boundary_length_));
    for (size_t i = 0; i < d->cells.size(); ++i) {
        BsrCell& cell = d->cells[i];
        if (!have_cells_) {
            cell = BsrCell{0, "unknown", CellFunction::ObserveOnly, 'X', -1, 'X', DisableResult::Z};
            continue;
        }
        const ParseCell& pc = cells_[i];
        cell = BsrCell{pc.bc_type,       pc.port.empty() ? "unknown" : pc.port,
                       pc.function,      pc.safe_value,
                       pc.control_cell,  pc.disable_value,
                       pc.disable_result};
    }
    build_pins(*d);
    d->design_warnings = warnings_;
    return d.release();
}

void Reader::build_pins(DeviceDescription& d) {
    // Cells by port name (letter case ignored), in cell order.
    std::unordered_map<std::string, std::vector<size_t>> by_port;
    for (size_t i = 0; i < d.cells.size(); ++i) by_port[lower(d.cells[i].port)].push_back(i);
    for (const auto& [port_name, pin_name] : pins_) {
        PinMapEntry entry;
        entry.port = trimmed(port_name);
        entry.pin = trimmed(pin_name);
        const auto found = by_port.find(lower(entry.port));
        if (found != by_port.end()) {
            for (size_t i : found->second) {
                const BsrCell& cell = d.cells[i];
                const int32_t n = static_cast<int32_t>(i);
                switch (cell.function) {
                    case CellFunction::Output2:
                    case CellFunction::Output3:
                        entry.output_cell = n;
                        entry.control_cell = cell.control_cell;
                        entry.disable_value = cell.disable_value;
                        break;
                    case CellFunction::Bidir:
                        entry.output_cell = entry.input_cell = n;
                        entry.control_cell = cell.control_cell;
                        entry.disable_value = cell.disable_value;
                        break;
                    case CellFunction::Control:
                    case CellFunction::Controlr:
                        break;
                    case CellFunction::Input:
                    case CellFunction::Clock:
                    case CellFunction::Internal:
                    case CellFunction::ObserveOnly:
                        entry.input_cell = n;
                        break;
                }
            }
        }
        d.pins.push_back(std::move(entry));
    }
}

}  // namespace bsdl_reader
