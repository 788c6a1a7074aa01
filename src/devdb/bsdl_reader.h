// Inside the BSDL reader: the single-pass reader over the tokens. bsdl_statements.cpp reads the
// statements and the attributes with short values; bsdl_tables.cpp reads the boundary register
// and the pin map and builds the description from what was collected.
#pragma once

#include <strings.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "devdb/bsdl_lexer.h"
#include "devdb/devdesc.h"

namespace bsdl_reader {

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

// Thrown inside the reader when the open statement ends (';', a new statement word, the end of
// the file); caught by the statement dispatcher.
struct StatementEnd {};
// Thrown inside a boundary-register entry when a segment's closing '"' is not followed by '&':
// the entry is given up and reading resumes at the next cell number.
struct EntryLost {};

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
    bool vtake();
    void open_string();

    // Messages.
    void error(int code);
    void note(const std::string& text);
    void note_once(bool& said, const std::string& text) {
        if (!said) note(text);
        said = true;
    }

    // Statements (bsdl_statements.cpp).
    void dispatch();
    void header();
    void port();
    void attribute();
    void length_value(Attribute which);
    void instruction_opcode();
    void instruction_capture();
    void idcode_register();
    void design_warning();
    void add_bus(const std::string& name, long first, long last);
    const Bus* find_bus(const std::string& name) const;

    // The register and the pin map (bsdl_tables.cpp).
    void boundary_register();
    void cell_take();
    void cell_number(long& cell);
    void cell_fields(ParseCell& pc);
    void cell_field(int field, ParseCell& pc);
    bool resync_entry(int field);
    void constant();
    void add_pin(const std::string& port, const std::string& pin);
    DeviceDescription* build();
    void build_pins(DeviceDescription& d);

    Lexer lexer_;
    std::string path_;
    Statement statement_ = Statement::None;
    std::string statement_name_;  // for the message when the file ends inside it
    bool pending_ = false;        // the current token is still to be taken
    bool in_string_ = false;      // inside the quotes of a string value
    int segments_ = 0;            // closing quotes of string values passed so far
    bool stop_ = false;           // the whole reading ends
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

}  // namespace bsdl_reader
