// --json: one JSON document per run on standard output, built from the values the command logic
// found (CommandFacts), never from the log's text. docs/json.md describes the document.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/command_facts.h"
#include "cables/usb_boards.h"

namespace vireo::cli {

// A JSON value, written with the RFC 8259 escapes. Objects keep their members' order.
class Json {
  public:
    Json() = default;  // null
    static Json object() { return Json(Kind::Object); }
    static Json array() { return Json(Kind::Array); }
    static Json string(std::string_view text);
    static Json number(int64_t value);
    static Json boolean(bool value);
    // "0x" and `digits` upper-case hexadecimal digits, as a string.
    static Json hex(uint64_t value, int digits);
    // Bytes as one string of lower-case hexadecimal pairs.
    static Json hex_bytes(const std::vector<uint8_t>& bytes);

    Json& set(std::string key, Json value);  // object member
    Json& push(Json value);                  // array element
    // The document, indented by two spaces per level, ending in a line end.
    std::string text() const;

    // A string literal with its quotes: ", \ and control characters escaped, everything else
    // (UTF-8 as it is) kept.
    static std::string quote(std::string_view text);

  private:
    enum class Kind { Null, Scalar, Object, Array };
    explicit Json(Kind kind) : kind_(kind) {}
    void write(std::string* out, int depth) const;

    Kind kind_ = Kind::Null;
    std::string scalar_;  // a scalar's text as written
    std::vector<std::pair<std::string, Json>> members_;
    std::vector<Json> items_;
};

constexpr const char* kJsonSchema = "vireojtag/1";

// What a run did, for its document.
struct JsonRun {
    std::string command;  // "detect", "flash verify", "list", ...
    int exit_code = 0;
    int status = 1;                  // the operation status (1 success); -1 none ran
    std::string connect;             // how the last connect ended ("connected", "no_board", ...)
    std::string error;               // a usage error or another failure said by the command line
    std::vector<std::string> lines;  // the log lines a person would have seen (for an error)
    const app::CommandFacts* facts = nullptr;
    bool board_known = false;
    BoardEntry board;                // the board the run used, when known
    std::vector<BoardEntry> boards;  // --list
    std::string remote;              // --xvc HOST:PORT
    std::string file;                // flash verify
    uint32_t offset = 0;
};

// The document of one run.
std::string json_document(const JsonRun& run);

// The board of `boards` that a run used: the one chosen by place or serial, else the only one,
// else the only one of the kind the answering cable drives. False when it cannot be told.
bool used_board(const std::vector<BoardEntry>& boards, const std::string& cable,
                const std::string& place, const std::string& serial, BoardEntry* board);

}  // namespace vireo::cli
