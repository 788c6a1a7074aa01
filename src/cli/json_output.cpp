#include "cli/json_output.h"

#include <cstdio>

#include "jtag/status.h"

namespace vireo::cli {
namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitUsage = 2;
constexpr int kExitCancelled = 130;

Json board_json(const BoardEntry& board) {
    Json b = Json::object();
    b.set("place", Json::string(board.place));
    b.set("vid", board.vid || board.pid ? Json::hex(board.vid, 4) : Json());
    b.set("pid", board.vid || board.pid ? Json::hex(board.pid, 4) : Json());
    b.set("kind", Json::string(board.kind));
    b.set("serial", board.serial.empty() ? Json() : Json::string(board.serial));
    b.set("product", board.product.empty() ? Json() : Json::string(board.product));
    b.set("virtual", Json::boolean(board.is_virtual));
    return b;
}

Json device_json(const app::CommandFacts& facts) {
    if (facts.device_index < 0) return {};
    Json d = Json::object();
    d.set("index", Json::number(facts.device_index));
    d.set("part", Json::string(facts.device));
    d.set("idcode", Json::hex(facts.device_idcode, 8));
    return d;
}

Json flash_json(const app::FlashFacts& flash) {
    if (!flash.found) return {};
    Json f = Json::object();
    f.set("maker", flash.maker.empty() ? Json() : Json::string(flash.maker));
    f.set("part", Json::string(flash.part));
    f.set("jedec", Json::hex(flash.jedec, 6));
    f.set("page_size", Json::number(flash.page_size));
    f.set("pages", Json::number(flash.page_count));
    f.set("bytes", Json::number(int64_t{flash.page_size} * flash.page_count));
    return f;
}

const char* result_name(int exit_code) {
    switch (exit_code) {
        case kExitSuccess:
            return "success";
        case kExitUsage:
            return "usage_error";
        case kExitCancelled:
            return "cancelled";
        default:
            return "failure";
    }
}

void command_fields(const JsonRun& run, Json* doc) {
    const app::CommandFacts empty;
    const app::CommandFacts& facts = run.facts ? *run.facts : empty;
    const bool ok = run.exit_code == kExitSuccess;
    // A comparison's answer: true, false when it found a difference, null when it did not run.
    auto answer = [&](int difference) {
        return ok ? Json::boolean(true) : run.status == difference ? Json::boolean(false) : Json();
    };
    const std::string& c = run.command;
    if (c == "list") {
        Json boards = Json::array();
        for (const BoardEntry& board : run.boards) boards.push(board_json(board));
        doc->set("boards", std::move(boards));
        return;
    }
    doc->set("device", device_json(facts));
    if (c == "detect") {
        Json chain = Json::array();
        for (const app::ChainEntry& entry : facts.chain) {
            Json e = Json::object();
            e.set("index", Json::number(entry.index));
            e.set("idcode", Json::hex(entry.idcode, 8));
            e.set("part", entry.part.empty() ? Json() : Json::string(entry.part));
            e.set("ir_length", Json::number(entry.ir_length));
            chain.push(std::move(e));
        }
        doc->set("chain", std::move(chain));
    } else if (c == "idcode") {
        doc->set("idcode", facts.idcode_read ? Json::hex(*facts.idcode_read, 8) : Json());
        doc->set("expected", facts.idcode_expected ? Json::hex(*facts.idcode_expected, 8) : Json());
        doc->set("match", answer(JTAG_IDCODE));
    } else if (c == "dna") {
        doc->set("dna", ok && facts.dna ? Json::hex(*facts.dna, 16) : Json());
    } else if (c == "status") {
        const bool read = facts.config.has_value();
        const ConfigStatus s = read ? *facts.config : ConfigStatus{};
        const bool s6 = s.family == FpgaFamily::Spartan6;
        doc->set("family", read ? Json::string(s6 ? "spartan6" : "series7") : Json());
        doc->set("configured", read ? Json::boolean(facts.configured) : Json());
        doc->set("done", read ? Json::boolean((s.ir_capture & kIrCaptureDone) != 0) : Json());
        doc->set("init", read ? Json::boolean((s.ir_capture & kIrCaptureInit) != 0) : Json());
        doc->set("stat", read ? Json::hex(s.stat, s6 ? 4 : 8) : Json());
        doc->set("bootsts", read ? Json::hex(s.bootsts, s6 ? 4 : 8) : Json());
        doc->set("usercode", facts.usercode ? Json::hex(*facts.usercode, 8) : Json());
        Json problems = Json::array();
        for (const std::string& p : facts.problems) problems.push(Json::string(p));
        doc->set("problems", std::move(problems));
    } else if (c.starts_with("flash ")) {
        doc->set("flash", flash_json(facts.flash));
        if (c == "flash id") {
            doc->set("id_bytes", facts.flash.id.empty() ? Json() : Json::hex_bytes(facts.flash.id));
        } else if (c == "flash uid") {
            doc->set("unique_id", facts.flash.unique_id.empty()
                                      ? Json()
                                      : Json::hex_bytes(facts.flash.unique_id));
        } else if (c == "flash verify") {
            doc->set("file", Json::string(run.file));
            doc->set("offset", Json::hex(run.offset, 8));
            doc->set("match", answer(JTAG_VERIFY));
        } else if (c == "flash blank") {
            doc->set("blank", answer(JTAG_VERIFY));
        }
    }
}

}  // namespace

Json Json::string(std::string_view text) {
    Json j(Kind::Scalar);
    j.scalar_ = quote(text);
    return j;
}

Json Json::number(int64_t value) {
    Json j(Kind::Scalar);
    j.scalar_ = std::to_string(value);
    return j;
}

Json Json::boolean(bool value) {
    Json j(Kind::Scalar);
    j.scalar_ = value ? "true" : "false";
    return j;
}

Json Json::hex(uint64_t value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return string(text);
}

Json Json::hex_bytes(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (const uint8_t b : bytes) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", b);
        text += pair;
    }
    return string(text);
}

Json& Json::set(std::string key, Json value) {
    members_.emplace_back(std::move(key), std::move(value));
    return *this;
}

Json& Json::push(Json value) {
    items_.push_back(std::move(value));
    return *this;
}

namespace {

// Length of the well-formed UTF-8 sequence at `at` (lead byte 0x80 or above), 0 when it is not
// one: a file name from outside may hold any bytes, a JSON text may not.
size_t utf8_sequence(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    }
    if (length == 0 || at + length > text.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    }
    return length;
}

}  // namespace

std::string Json::quote(std::string_view text) {
    std::string out = "\"";
    for (size_t at = 0; at < text.size(); ++at) {
        const char ch = text[at];
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x80) {
            // Each byte that is not part of a well-formed sequence becomes U+FFFD.
            const size_t length = utf8_sequence(text, at);
            if (length == 0) {
                out += "\\ufffd";
            } else {
                out.append(text.substr(at, length));
                at += length - 1;
            }
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", c);
                    out += escape;
                } else {
                    out += ch;
                }
        }
    }
    return out + "\"";
}

void Json::write(std::string* out, int depth) const {
    const std::string indent(2 * (depth + 1), ' '), close(2 * depth, ' ');
    switch (kind_) {
        case Kind::Null:
            *out += "null";
            return;
        case Kind::Scalar:
            *out += scalar_;
            return;
        case Kind::Object:
            if (members_.empty()) {
                *out += "{}";
                return;
            }
            *out += "{\n";
            for (size_t i = 0; i < members_.size(); ++i) {
                *out += indent + quote(members_[i].first) + ": ";
                members_[i].second.write(out, depth + 1);
                *out += i + 1 < members_.size() ? ",\n" : "\n";
            }
            *out += close + "}";
            return;
        case Kind::Array:
            if (items_.empty()) {
                *out += "[]";
                return;
            }
            *out += "[\n";
            for (size_t i = 0; i < items_.size(); ++i) {
                *out += indent;
                items_[i].write(out, depth + 1);
                *out += i + 1 < items_.size() ? ",\n" : "\n";
            }
            *out += close + "]";
            return;
    }
}

std::string Json::text() const {
    std::string out;
    write(&out, 0);
    return out + "\n";
}

bool used_board(const std::vector<BoardEntry>& boards, const std::string& cable,
                const std::string& place, const std::string& serial, BoardEntry* board) {
    const BoardEntry* found = nullptr;
    int matches = 0;
    for (const BoardEntry& b : boards) {
        const bool fits =
            !place.empty() ? b.place == place
            : !serial.empty()
                ? b.serial == serial
                : boards.size() == 1 ||
                      (cable == "skprb" ? b.kind == "FX3 board"
                                        : cable == "kprbemb" && b.kind.starts_with("USB 2.0"));
        if (fits && matches++ == 0) found = &b;
    }
    // Two boards of one kind and neither chosen: which one answered cannot be told.
    if (!found || (matches > 1 && place.empty() && serial.empty())) return false;
    *board = *found;
    return true;
}

std::string json_document(const JsonRun& run) {
    Json doc = Json::object();
    doc.set("schema", Json::string(kJsonSchema));
    doc.set("command", run.command.empty() ? Json() : Json::string(run.command));
    doc.set("result", Json::string(result_name(run.exit_code)));
    doc.set("exit_code", Json::number(run.exit_code));
    if (run.exit_code == kExitSuccess) {
        doc.set("error", Json());
    } else {
        Json error = Json::object();
        // A usage error ran no operation: it has no status.
        error.set("status", run.status < 0 ? Json() : Json::number(run.status));
        error.set("status_name",
                  run.status < 0 ? Json() : Json::string(jtag_status_name(run.status)));
        error.set("connect", run.connect.empty() ? Json() : Json::string(run.connect));
        error.set("message", run.error.empty() ? Json() : Json::string(run.error));
        Json lines = Json::array();
        for (const std::string& line : run.lines) lines.push(Json::string(line));
        error.set("lines", std::move(lines));
        doc.set("error", std::move(error));
    }
    if (run.command != "list") {
        doc.set("board", run.board_known ? board_json(run.board) : Json());
        const std::string cable = run.facts ? run.facts->cable : "";
        doc.set("cable", cable.empty() ? Json() : Json::string(cable));
        doc.set("remote", run.remote.empty() ? Json() : Json::string(run.remote));
    }
    command_fields(run, &doc);
    return doc.text();
}

}  // namespace vireo::cli
