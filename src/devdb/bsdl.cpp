// The BSDL reader's entry points: the file is read whole, then tokens (bsdl_lexer.cpp), the
// statements (bsdl_statements.cpp) and the tables (bsdl_tables.cpp) make the description.
#include "devdb/bsdl.h"

#include <algorithm>
#include <fstream>
#include <new>
#include <string>

#include "devdb/bsdl_reader.h"
#include "jtag/msg.h"

namespace {

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
        bsdl_reader::Reader reader(text ? text : "", size, path ? path : "");
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
