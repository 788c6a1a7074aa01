#include "devdb/bsdl.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "jtag/msg.h"

namespace {

enum class TokenKind { End, Identifier, Number, Char, Text };

bool is_letter(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool is_digit(int c) {
    return c >= '0' && c <= '9';
}

// One token at a time from the text; counts lines for the messages.
class Lexer {
  public:
    Lexer(const char* text, size_t size) : p_(text), end_(text + size) {}

    // Reads the next token; an overlong token is cut at kBsdlMaxToken and reported by the caller.
    void next() {
        text_.clear();
        overlong_ = false;
        for (;;) {
            const int c = get();
            if (c < 0) {
                kind_ = TokenKind::End;
                return;
            }
            if (c == '-') {
                const int d = get();
                if (d == '-') {
                    skip_comment();
                } else if (d >= 0) {
                    unget();
                }
                continue;  // a single '-' is dropped
            }
            if (string_mode_) {
                if (c == '"') {
                    if (!text_.empty()) {
                        unget();
                        kind_ = TokenKind::Text;
                        return;
                    }
                    append(c);
                    kind_ = TokenKind::Char;
                    return;
                }
                if (c >= 0x20 && c < 0x7F) append(c);
                continue;
            }
            if (c <= ' ' || c == 0x7F) continue;
            append(c);
            if (is_letter(c) || c == '_') {
                kind_ = TokenKind::Identifier;
                take_word(true);
            } else if (is_digit(c)) {
                kind_ = TokenKind::Number;
                take_word(false);
            } else {
                kind_ = TokenKind::Char;
            }
            return;
        }
    }

    TokenKind kind() const { return kind_; }
    const std::string& text() const { return text_; }
    bool overlong() const { return overlong_; }
    int line() const { return line_; }
    void set_string_mode(bool on) { string_mode_ = on; }

  private:
    int get() {
        if (p_ == end_) return -1;
        const unsigned char c = static_cast<unsigned char>(*p_++);
        if (c == '\n') ++line_;
        return c;
    }
    void unget() {
        --p_;
        if (*p_ == '\n') --line_;
    }
    void skip_comment() {
        for (int c = get(); c >= 0; c = get()) {
            if (c == '\n' || c == '\r') return;
        }
    }
    void take_word(bool identifier) {
        for (int c = get(); c >= 0; c = get()) {
            if (!is_letter(c) && !is_digit(c) && !(identifier && c == '_')) {
                unget();
                return;
            }
            append(c);
        }
    }
    void append(int c) {
        if (static_cast<int>(text_.size()) < kBsdlMaxToken) {
            text_.push_back(static_cast<char>(c));
        } else {
            overlong_ = true;
        }
    }

    const char* p_;
    const char* end_;
    int line_ = 1;
    bool string_mode_ = false;
    bool overlong_ = false;
    TokenKind kind_ = TokenKind::End;
    std::string text_;
};

// Cell as the BOUNDARY_REGISTER entry describes it, before conversion to BsrCell.
struct ParseCell {
    uint8_t bc_type = 255;
    std::string port;
    CellFunction function = CellFunction::Internal;
    char safe_value = '\0';
    int16_t control_cell = -1;
    char disable_value = ' ';
    DisableResult disable_result = DisableResult::Z;
};

struct Bus {
    std::string name;
    long first = 0;
    long last = 0;
};

struct InstructionSlot {
    std::string name;
    std::string opcode;
    bool has_opcode = false;
};

enum class Attribute {
    Other,
    TapScan,
    InstructionLength,
    InstructionOpcode,
    InstructionCapture,
    IdcodeRegister,
    BoundaryLength,
    BoundaryRegister,
    DesignWarning,
};

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

// Decimal value of a number token's leading digits, held below a billion so that no arithmetic
// on it can overflow.
long number_value(const std::string& text) {
    long value = 0;
    for (char c : text) {
        if (!is_digit(c)) break;
        value = std::min(value * 10 + (c - '0'), 999'999'999L);
    }
    return value;
}

// A token as the messages show it: bytes outside printable ASCII (binary input) become '?'.
std::string printable(std::string text) {
    for (char& c : text) {
        if (c < 0x20 || c >= 0x7F) c = '?';
    }
    return text;
}

// Thrown inside the reader when the open statement ends (';', a new statement word, the end of
// the file); caught by the statement dispatcher.
struct StatementEnd {};

class Reader {
  public:
    Reader(const char* text, size_t size, const char* path) : lexer_(text, size), path_(path) {}

    DeviceDescription* run();

  private:
    enum class Statement { None, Header, Attribute, Constant, Port };

    // Token access.
    const std::string& tok() const { return lexer_.text(); }
    TokenKind kind() const { return lexer_.kind(); }
    bool is(char c) const {
        return kind() == TokenKind::Char && tok().size() == 1 && tok()[0] == c;
    }
    bool word(const char* w) const {
        return kind() == TokenKind::Identifier && strcasecmp(tok().c_str(), w) == 0;
    }
    bool statement_word() const { return word("attribute") || word("constant") || word("port"); }
    void read_token();
    void take();
    void unread() { pending_ = true; }
    [[noreturn]] void skip_to_end();
    void vtake();
    void open_string();

    // Messages.
    void error(int code);
    void note(const std::string& text);
    void note_once(bool& said, const std::string& text) {
        if (!said) note(text);
        said = true;
    }

    // Statements.
    void dispatch();
    void header();
    void port();
    void attribute();
    void constant();
    void length_value(Attribute which);
    void instruction_opcode();
    void instruction_capture();
    void idcode_register();
    void boundary_register();
    void boundary_entry(long cell);
    void design_warning();
    void add_pin(const std::string& port, const std::string& pin);
    void add_bus(const std::string& name, long first, long last);
    const Bus* find_bus(const std::string& name) const;

    DeviceDescription* build();
    void build_pins(DeviceDescription& d);

    Lexer lexer_;
    std::string path_;
    Statement statement_ = Statement::None;
    bool pending_ = false;    // the current token is still to be taken
    bool in_string_ = false;  // inside the quotes of a string value
    bool stop_ = false;       // the whole reading ends
    bool header_done_ = false;

    bool have_entity_ = false;
    std::string entity_;
    std::string package_;
    std::string idcode_;
    long ir_length_ = 0;
    long boundary_length_ = 0;
    std::vector<InstructionSlot> instructions_;
    std::string capture_;
    std::vector<ParseCell> cells_;
    bool have_cells_ = false;
    std::vector<std::pair<std::string, std::string>> pins_;
    bool have_pin_map_ = false;
    std::vector<Bus> buses_;
    std::vector<std::string> warnings_;

    bool said_instructions_ = false, said_capture_ = false, said_pins_ = false, said_buses_ = false,
         said_warnings_ = false;
};

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

// The next token of the open statement; throws StatementEnd where the statement ends.
void Reader::take() {
    if (pending_) {
        pending_ = false;
    } else {
        read_token();
    }
    if (kind() == TokenKind::End) throw StatementEnd{};
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
void Reader::vtake() {
    for (;;) {
        take();
        if (!is('"')) return;
        if (!in_string_) {
            in_string_ = true;
            continue;
        }
        in_string_ = false;
        take();
        if (!is('&')) {
            error(76);
            return;
        }
        take();
        if (!is('"')) {
            error(70);
            return;
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
    } else if (header_done_ && word("attribute")) {
        opened = Statement::Attribute;
    } else if (header_done_ && word("constant")) {
        opened = Statement::Constant;
    } else if (header_done_ && word("port")) {
        opened = Statement::Port;
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
        vtake();
        if (is(',')) continue;
        long cell = -1;
        if (kind() != TokenKind::Number) {
            error(77);
        } else {
            cell = number_value(tok());
            if (cell >= boundary_length_) {
                note("Boundary register length exceeded 'attribute BOUNDARY_LENGTH'.");
                skip_to_end();
            }
        }
        boundary_entry(cell);
    }
}

// ( BC_n , PORT [ ( INDEX ) ] , FUNCTION , SAFE [ , CCELL , DISVAL , RESULT ] )
void Reader::boundary_entry(long cell) {
    ParseCell pc;
    vtake();
    if (!is('(')) error(72);
    vtake();
    if (tok().size() > 3 && strncasecmp(tok().c_str(), "BC_", 3) == 0 && is_digit(tok()[3])) {
        pc.bc_type = static_cast<uint8_t>(tok()[3] - '0');
    }
    vtake();
    if (!is(',')) error(75);
    vtake();
    pc.port = tok();
    vtake();
    if (is('(')) {
        vtake();
        const std::string index = tok();
        vtake();
        if (!is(')')) error(74);
        pc.port += "(" + index + ")";
        vtake();
    }
    if (!is(',')) error(75);
    vtake();
    if (!cell_function(tok(), pc.function)) error(78);
    vtake();
    if (!is(',')) error(75);
    vtake();
    pc.safe_value = tok().empty() ? '\0' : tok()[0];
    vtake();
    if (is(',')) {
        vtake();
        if (kind() != TokenKind::Number) {
            error(77);
        } else {
            const long control = number_value(tok());
            if (control >= boundary_length_) {
                note("control cell " + printable(tok()) +
                     " is outside the boundary register; taken as none.");
            } else {
                pc.control_cell = static_cast<int16_t>(control);
            }
        }
        vtake();
        if (!is(',')) error(75);
        vtake();
        pc.disable_value = tok().empty() ? ' ' : tok()[0];
        vtake();
        if (!is(',')) error(75);
        vtake();
        if (!disable_result(tok(), pc.disable_result)) error(79);
        vtake();
    }
    if (!is(')')) error(74);
    if (cell >= 0) cells_[static_cast<size_t>(cell)] = std::move(pc);
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

std::string trimmed(const std::string& text) {
    std::string copy = text;
    trim_text(copy.data());
    return std::string(copy.c_str());
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
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

const char* function_label(CellFunction f) {
    switch (f) {
        case CellFunction::Input:
            return "input       ";
        case CellFunction::Clock:
            return "clock       ";
        case CellFunction::Output2:
            return "output2     ";
        case CellFunction::Output3:
            return "output3     ";
        case CellFunction::Control:
            return "control     ";
        case CellFunction::Controlr:
            return "controlr    ";
        case CellFunction::Internal:
            return "internal    ";
        case CellFunction::Bidir:
            return "bidir       ";
        case CellFunction::ObserveOnly:
            return "observe_only";
    }
    return "internal    ";
}

const char* result_label(DisableResult r) {
    switch (r) {
        case DisableResult::Z:
            return "Z      ";
        case DisableResult::Pull0:
            return "PULL0  ";
        case DisableResult::Pull1:
            return "PULL1  ";
        case DisableResult::Weak0:
            return "WEAK0  ";
        case DisableResult::Weak1:
            return "WEAK1  ";
        case DisableResult::Keeper:
            return "KEEPER ";
    }
    return "Z      ";
}

}  // namespace

DeviceDescription* bsdl_parse(const char* text, size_t size, const char* path) {
    if (!text) size = 0;
    try {
        Reader reader(text ? text : "", size, path ? path : "");
        return reader.run();
    } catch (const std::bad_alloc&) {
        msg_print("%s:out of memory\n", path ? path : "");
        return nullptr;
    }
}

DeviceDescription* bsdl_read(const char* path) {
    if (!path) return nullptr;
    std::ifstream in(path, std::ios::binary);
    if (!in) return nullptr;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0) return nullptr;
    if (static_cast<uint64_t>(size) > kBsdlMaxFileSize) {
        msg_print("BSDL file:%s: %lld bytes is too large for a BSDL description.\n", path,
                  static_cast<long long>(size));
        return nullptr;
    }
    in.seekg(0, std::ios::beg);
    std::string text(static_cast<size_t>(size), '\0');
    if (!in.read(text.data(), size)) return nullptr;
    return bsdl_parse(text.data(), text.size(), path);
}

void bsdl_dump(const DeviceDescription* d) {
    if (!d) {
        msg_print("Can not open bsdl file\n");
        return;
    }
    msg_print("Name:%s\n", d->name.c_str());
    msg_print("Package:%s\n", d->package.c_str());
    msg_print("IDCODE:%08X\n", d->idcode);
    msg_print("USERCODE:%08X\n", d->usercode);
    msg_print("IR LENGTH:%d\n", d->ir_length);
    msg_print("IR CAP CODE:%s\n", d->ir_capture.c_str());
    const uint32_t ir_mask = d->ir_length >= 32 ? 0xFFFFFFFFu : (uint32_t{1} << d->ir_length) - 1;
    const int count = static_cast<int>(d->instructions.size());
    for (int i = 0; i < count; ++i) {
        const InstructionDef& ins = d->instructions[static_cast<size_t>(i)];
        msg_print("Instuction %d/%d name:%s code:%X\n", i + 1, count, ins.name.c_str(),
                  bits_value(ins.opcode.c_str()) & ir_mask);
    }
    for (const PinMapEntry& pin : d->pins) {
        std::string line = "pin name:\"" + pin.port + "\" num:\"" + pin.pin + "\"";
        if (pin.output_cell != -1) line += " outcell:" + std::to_string(pin.output_cell);
        if (pin.input_cell != -1) line += " incell:" + std::to_string(pin.input_cell);
        if (pin.control_cell != -1) line += " contcell:" + std::to_string(pin.control_cell);
        msg_print("%s\n", line.c_str());
    }
    size_t width = 0;
    for (const BsrCell& cell : d->cells) width = std::max(width, cell.port.size());
    const int pad = static_cast<int>(width);
    for (size_t i = 0; i < d->cells.size(); ++i) {
        const BsrCell& c = d->cells[i];
        msg_print("cell %04d %-*s BC_%d %s%c %04d %c %s\n", static_cast<int>(i), pad,
                  c.port.c_str(), c.bc_type, function_label(c.function),
                  c.safe_value ? c.safe_value : ' ', c.control_cell,
                  c.disable_value ? c.disable_value : ' ', result_label(c.disable_result));
    }
}
