// The statements of a BSDL file: the entity header, the port list, the attribute statement and
// the attributes whose values are short (lengths, opcodes, capture, IDCODE, design warnings),
// with the token access and the messages every part of the reader shares.
#include <algorithm>
#include <string>

#include "devdb/bsdl.h"
#include "devdb/bsdl_reader.h"
#include "jtag/msg.h"

namespace bsdl_reader {
namespace {

Attribute classify_attribute(const std::string& name) {
    struct Known {
        const char* name;
        Attribute kind;
    };
    static constexpr Known kKnown[] = {
        {"TAP_SCAN_IN", Attribute::TapScan},
        {"TAP_SCAN_OUT", Attribute::TapScan},
        {"TAP_SCAN_MODE", Attribute::TapScan},
        {"TAP_SCAN_CLOCK", Attribute::TapScan},
        {"TAP_SCAN_RESET", Attribute::TapScan},
        {"INSTRUCTION_LENGTH", Attribute::InstructionLength},
        {"INSTRUCTION_OPCODE", Attribute::InstructionOpcode},
        {"INSTRUCTION_CAPTURE", Attribute::InstructionCapture},
        {"IDCODE_REGISTER", Attribute::IdcodeRegister},
        {"BOUNDARY_LENGTH", Attribute::BoundaryLength},
        {"BOUNDARY_REGISTER", Attribute::BoundaryRegister},
        {"DESIGN_WARNING", Attribute::DesignWarning},
        {"ISC_DESIGN_WARNING", Attribute::DesignWarning},
    };
    for (const Known& k : kKnown) {
        if (strcasecmp(name.c_str(), k.name) == 0) return k.kind;
    }
    return Attribute::Other;
}

const char* error_text(int code) {
    switch (code) {
        case 1:
            return "'%s' is not equal to entity name '%s'.";
        case 59:
            return "missing ';'.";
        case 61:
            return "'OF' is expected instead of '%s' here.";
        case 62:
            return "':' is expected instead of '%s' here.";
        case 63:
        case 68:
            return "'entity' is expected instead of '%s' here.";
        case 64:
            return "'is' is expected instead of '%s' here.";
        case 67:
            return "missing operand.";
        case 69:
            return "'=' is expected instead of '%s' here.";
        case 70:
            return "'\"' is expected instead of '%s' here.";
        case 71:
            return "Instruction name is expected instead of '%s' here.";
        case 72:
            return "'(' is expected instead of '%s' here.";
        case 73:
            return "Instruction code is expected instead of '%s' here.";
        case 74:
            return "')' is expected instead of '%s' here.";
        case 75:
            return "',' is expected instead of '%s' here.";
        case 76:
            return "'&' is expected instead of '%s' here.";
        case 77:
            return "BSREG cell number is expected instead of '%s' here.";
        case 78:
            return "Unknown pin function '%s' found.";
        case 79:
            return "Unknown result value '%s' found.";
        case 80:
            return "Pin name is expected instead of '%s' here.";
        case 81:
            return "Pin or bus name is expected instead of '%s' here.";
        case 82:
            return "'(' or ';'is expected instead of '%s' here.";
        case 83:
            return "Unknown cell type '%s' found.";
        case 100:
            return "entity has already defined.";
        case 101:
            return "PIN_MAP_STRING has already defined.";
        case 102:
            return "Boundary register length is unknown.";
        case 103:
            return "Too many PINMAPs.";
        case 104:
            return "IDCODE too long.";
        case 105:
            return "Multiple IDCODE has not supported yet.";
        case 106:
            return " \"generic\" is expected instead of '%s' here.";
        case 107:
            return "PHYSICAL_PINMAP is expected instead of '%s' here.";
        case 108:
            return " \"string\" is expected instead of '%s' here.";
        default:
            return " Undefined error.";
    }
}

}  // namespace

void Reader::error(int code) {
    msg_print("BSDL format error in file:%s (line %d): errcode=%d\n", path_.c_str(), lexer_.line(),
              code);
    if (code == 1) {
        msg_print("'%s' is not equal to entity name '%s'.\n", printable(tok()).c_str(),
                  printable(entity_).c_str());
        return;
    }
    // The texts hold at most one %s, for the current token.
    std::string text = error_text(code);
    const size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, printable(tok()));
    msg_print("%s\n", text.c_str());
}

void Reader::note(const std::string& text) {
    msg_print("BSDL file:%s (line %d): %s\n", path_.c_str(), lexer_.line(), text.c_str());
}

void Reader::read_token() {
    lexer_.next();
    if (lexer_.overlong()) {
        note("token longer than " + std::to_string(kBsdlMaxToken) + " characters cut.");
    }
}

// The next token of the open statement; throws StatementEnd where the statement ends. A file
// that ends inside a statement is reported: what it held after that point is missing.
void Reader::take() {
    if (pending_) {
        pending_ = false;
    } else {
        read_token();
    }
    if (kind() == TokenKind::End) {
        error(59);
        note("the file ends inside " + statement_name_ + ".");
        throw StatementEnd{};
    }
    if (statement_ == Statement::Header) return;
    if (header_done_ && statement_word()) {
        error(59);
        pending_ = true;
        throw StatementEnd{};
    }
    if ((statement_ == Statement::Attribute || statement_ == Statement::Constant) && is(';')) {
        throw StatementEnd{};
    }
}

void Reader::skip_to_end() {
    for (;;) take();
}

// Takes the opening quote of a string value; any other token stays for the value (error 70).
void Reader::open_string() {
    take();
    if (is('"')) {
        in_string_ = true;
        return;
    }
    error(70);
    unread();
}

// The next token inside a string value, passing over the joints '"' & '"' between segments.
// False when a joint lacked its '&' (error 76): a '"' in its place is taken as the next segment's
// opening quote and the token after it is the current one; any other token found there is.
bool Reader::vtake() {
    bool joined = true;
    for (;;) {
        take();
        if (!is('"')) return joined;
        if (!in_string_) {
            in_string_ = true;
            continue;
        }
        in_string_ = false;
        ++segments_;
        take();
        if (is('"')) {
            error(76);
            joined = false;
            in_string_ = true;
            continue;
        }
        if (!is('&')) {
            error(76);
            return false;
        }
        take();
        if (!is('"')) {
            error(70);
            return joined;
        }
        in_string_ = true;
    }
}

DeviceDescription* Reader::run() {
    for (;;) {
        if (pending_) {
            pending_ = false;
        } else {
            read_token();
        }
        if (kind() == TokenKind::End) break;
        dispatch();
        if (stop_) break;
    }
    return build();
}

void Reader::dispatch() {
    Statement opened = Statement::None;
    if (word("entity")) {
        opened = Statement::Header;
        statement_name_ = "the entity header";
    } else if (header_done_ && word("attribute")) {
        opened = Statement::Attribute;
        statement_name_ = "an attribute";
    } else if (header_done_ && word("constant")) {
        opened = Statement::Constant;
        statement_name_ = "a constant";
    } else if (header_done_ && word("port")) {
        opened = Statement::Port;
        statement_name_ = "the port list";
    }
    if (opened == Statement::None) return;  // outside any statement: skipped
    statement_ = opened;
    in_string_ = false;
    try {
        switch (opened) {
            case Statement::Header:
                header();
                break;
            case Statement::Attribute:
                attribute();
                break;
            case Statement::Constant:
                constant();
                break;
            case Statement::Port:
                port();
                break;
            case Statement::None:
                break;
        }
    } catch (const StatementEnd&) {
    }
    lexer_.set_string_mode(false);
    if (opened == Statement::Header) header_done_ = true;
    statement_ = Statement::None;
}

// entity NAME is generic ( PHYSICAL_PIN_MAP : string := "PACKAGE" ) ;
void Reader::header() {
    take();
    if (have_entity_) error(100);
    entity_ = tok();
    have_entity_ = true;
    struct Step {
        const char* word;  // null: a single character
        char c;
        int code;
    };
    static constexpr Step kSteps[] = {
        {"is", 0, 64},      {"generic", 0, 106}, {nullptr, '(', 72}, {"PHYSICAL_PIN_MAP", 0, 107},
        {nullptr, ':', 62}, {"string", 0, 108},  {nullptr, ':', 62}, {nullptr, '=', 69},
        {nullptr, '"', 70},
    };
    for (const Step& step : kSteps) {
        take();
        if (step.word ? !word(step.word) : !is(step.c)) error(step.code);
    }
    take();
    package_ = tok();
    take();
    if (!is('"')) error(70);
    take();
    if (!is(')')) error(74);
    take();
    if (!is(';')) error(59);
}

// port ( NAME [, NAME] : MODE TYPE [ ( FIRST to|downto LAST ) ] ; ... ) ;
void Reader::port() {
    take();
    if (!is('(')) error(72);
    for (;;) {
        take();
        if (is(')')) break;
        if (kind() != TokenKind::Identifier) error(81);
        std::string name = tok();
        take();
        while (is(',')) {
            take();
            if (kind() != TokenKind::Identifier) error(81);
            name = tok();
            take();
        }
        if (!is(':')) error(62);
        take();  // mode
        take();  // type
        take();
        if (is('(')) {
            take();
            const long first = number_value(tok());
            take();  // to / downto
            take();
            const long last = number_value(tok());
            take();
            if (!is(')')) error(74);
            add_bus(name, first, last);
            take();
        }
        if (is(')')) break;
        // ';' goes on with the next port; anything else is taken as its start.
        if (!is(';')) unread();
    }
    take();
    if (!is(';')) error(59);
}

void Reader::add_bus(const std::string& name, long first, long last) {
    if (find_bus(name)) return;
    if (static_cast<int>(buses_.size()) >= kBsdlMaxBuses) {
        note_once(said_buses_, "buses overflow: more than " + std::to_string(kBsdlMaxBuses) +
                                   " buses; '" + name + "' and later ones are not kept.");
        return;
    }
    buses_.push_back({name, first, last});
}

const Bus* Reader::find_bus(const std::string& name) const {
    for (const Bus& bus : buses_) {
        if (strcasecmp(bus.name.c_str(), name.c_str()) == 0) return &bus;
    }
    return nullptr;
}

// attribute NAME of TARGET : entity is VALUE ;
void Reader::attribute() {
    take();
    const Attribute which = classify_attribute(tok());
    statement_name_ = "attribute " + printable(tok());
    take();
    if (!word("of")) error(61);
    take();
    if (which != Attribute::TapScan && strcasecmp(tok().c_str(), entity_.c_str()) != 0) error(1);
    take();
    if (!is(':')) error(62);
    take();
    if (which == Attribute::TapScan) {
        if (!word("signal")) error(68);
    } else if (!word("entity")) {
        error(63);
    }
    take();
    if (!word("is")) error(64);
    switch (which) {
        case Attribute::InstructionLength:
        case Attribute::BoundaryLength:
            length_value(which);
            break;
        case Attribute::InstructionOpcode:
            instruction_opcode();
            break;
        case Attribute::InstructionCapture:
            instruction_capture();
            break;
        case Attribute::IdcodeRegister:
            idcode_register();
            break;
        case Attribute::BoundaryRegister:
            boundary_register();
            break;
        case Attribute::DesignWarning:
            design_warning();
            break;
        case Attribute::TapScan:
        case Attribute::Other:
            break;
    }
    skip_to_end();
}

void Reader::length_value(Attribute which) {
    take();
    const long value = number_value(tok());
    if (which == Attribute::InstructionLength) {
        if (value < 1 || value > 32) {
            note("INSTRUCTION_LENGTH '" + printable(tok()) + "' is outside 1..32; ignored.");
            return;
        }
        ir_length_ = value;
    } else {
        if (value > kBsdlMaxBoundaryLength) {
            note("BOUNDARY_LENGTH '" + printable(tok()) + "' is beyond " +
                 std::to_string(kBsdlMaxBoundaryLength) + " cells; ignored.");
            boundary_length_ = 0;
            return;
        }
        boundary_length_ = value;
    }
}

// "NAME ( CODE [, CODE...] ), NAME ( CODE ), ..." in segments.
void Reader::instruction_opcode() {
    open_string();
    size_t index = 0;
    for (;;) {
        vtake();
        if (kind() != TokenKind::Identifier) error(71);
        const bool kept = index < static_cast<size_t>(kBsdlMaxInstructions);
        if (kept) {
            if (instructions_.size() <= index) instructions_.resize(index + 1);
            instructions_[index].name = tok();
        } else {
            note_once(said_instructions_, "more than " + std::to_string(kBsdlMaxInstructions) +
                                              " instructions; the rest are ignored.");
        }
        vtake();
        if (!is('(')) error(72);
        vtake();
        if (kind() == TokenKind::Number || (!tok().empty() && tok()[0] == 'X')) {
            if (kept) {
                instructions_[index].opcode = tok();
                instructions_[index].has_opcode = true;
            }
        } else {
            error(73);
        }
        vtake();
        if (is(',')) {
            do vtake();
            while (!is(')'));
        }
        if (!is(')')) error(74);
        vtake();
        ++index;
        if (is(',')) continue;
        // A segment closed without ',' still goes on with the next instruction.
        if (kind() == TokenKind::Identifier) {
            unread();
            continue;
        }
        error(70);
    }
}

void Reader::instruction_capture() {
    open_string();
    for (;;) {
        take();
        if (is('"')) return;
        if (kind() != TokenKind::Identifier && kind() != TokenKind::Number) {
            error(70);
            continue;
        }
        const size_t room = kBsdlMaxCapture - std::min<size_t>(capture_.size(), kBsdlMaxCapture);
        if (tok().size() > room) {
            note_once(said_capture_, "INSTRUCTION_CAPTURE longer than " +
                                         std::to_string(kBsdlMaxCapture) + " characters cut.");
        }
        capture_ += tok().substr(0, room);
    }
}

void Reader::idcode_register() {
    idcode_.clear();
    for (;;) {
        open_string();
        for (;;) {
            take();
            if (is('"')) break;
            if (is(',')) {
                error(105);
                skip_to_end();
            }
            if (kind() != TokenKind::Identifier && kind() != TokenKind::Number) continue;
            if (idcode_.size() + tok().size() > static_cast<size_t>(kBsdlMaxIdcode)) {
                error(104);
            } else {
                idcode_ += tok();
            }
        }
        take();
        if (!is('&')) error(76);
    }
}

void Reader::design_warning() {
    for (;;) {
        take();
        if (!is('"')) {
            error(70);
            continue;
        }
        lexer_.set_string_mode(true);
        take();
        lexer_.set_string_mode(false);
        if (kind() == TokenKind::Text) {
            if (static_cast<int>(warnings_.size()) < kBsdlMaxWarnings) {
                warnings_.push_back(tok());
            } else {
                note_once(said_warnings_, "more than " + std::to_string(kBsdlMaxWarnings) +
                                              " design warnings; the rest are dropped.");
            }
            take();
        }
        if (!is('"')) error(70);
        take();
        if (!is('&')) error(76);
    }
}

}  // namespace bsdl_reader
