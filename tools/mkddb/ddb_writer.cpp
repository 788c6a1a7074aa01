#include "ddb_writer.h"

#include <cstdio>
#include <fstream>
#include <system_error>

#include "devdb/bix.h"
#include "jtag/msg.h"

namespace ddbgen {
namespace {

class Bytes {
  public:
    explicit Bytes(std::vector<uint8_t>& out) : out_(out) {}
    void u8(unsigned v) { out_.push_back(static_cast<uint8_t>(v)); }
    void u16(unsigned v) {
        u8(v);
        u8(v >> 8);
    }
    void u32(uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    void zeros(size_t n) { out_.insert(out_.end(), n, 0); }
    void text(const std::string& s) {
        out_.insert(out_.end(), s.begin(), s.end());
        u8(0);
    }

  private:
    std::vector<uint8_t>& out_;
};

void put_field(uint8_t* record, size_t offset, size_t size, const std::string& text) {
    text.copy(reinterpret_cast<char*>(record + offset), size - 1);
}

void put_u32(uint8_t* record, size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) record[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t opcode_of(const InstructionSet& set, const char* name) {
    for (const Instruction& i : set.instructions)
        if (i.name == name) return bits_value(i.opcode.c_str());
    return 0;
}

void write_description(std::vector<uint8_t>& out, const Part& part, const InstructionSet& set) {
    Bytes b(out);
    b.u32(kBbRecordVersion);
    b.zeros(kBbOpaqueSize);
    b.text(part.name);
    b.zeros(24);
    b.text(part.package);
    b.u32(part.idcode);
    b.u32(part.mask);
    b.u32(part.usercode);
    b.u8(set.ir_length);
    b.zeros(3);
    b.text(set.capture);
    b.u32(static_cast<uint32_t>(set.instructions.size()));
    for (const Instruction& i : set.instructions) {
        b.u8(0);
        b.text(i.name);
        b.text(i.opcode);
    }
    b.u32(0);  // no pin map
    const std::vector<BsrCell> cells = boundary_cells(part.bsr_len);
    b.u32(static_cast<uint32_t>(cells.size()));
    for (const BsrCell& c : cells) {
        b.text(c.port);
        b.u8(c.bc_type);
        b.u8(static_cast<unsigned>(c.function));
        b.u8(static_cast<unsigned char>(c.safe_value));
        b.u8(static_cast<unsigned char>(c.disable_value));
        b.u8(static_cast<unsigned>(c.disable_result));
        b.u16(static_cast<uint16_t>(c.control_cell));
        b.zeros(2);
    }
}

void write_index_header(std::vector<uint8_t>& out, const Source& source) {
    Bytes b(out);
    for (char c : {'B', 'I', 'X'}) b.u8(static_cast<unsigned char>(c));
    b.u32(kBixVersion);
    b.u8(static_cast<unsigned>(source.manufacturers.size()));
    for (const Manufacturer& m : source.manufacturers) {
        b.text(m.code);
        b.text(m.name);
        b.text(m.info);
        b.u8(static_cast<unsigned>(m.families.size()));
        for (const Family& f : m.families) b.text(f.name);
    }
}

void write_index_record(std::vector<uint8_t>& out, const Source& source, const Part& part,
                        uint32_t offset, uint32_t length) {
    const InstructionSet& set = source.set_of(part);
    uint8_t r[kBixRecordSize] = {};
    put_u32(r, 0, part.idcode);
    put_u32(r, 4, part.mask);
    put_u32(r, 8, offset);
    put_u32(r, 12, length);
    put_field(r, 16, 32, part.key);
    put_field(r, 48, 32, part.name);
    put_field(r, 80, 16, source.family_of(part).name);
    r[96] = static_cast<uint8_t>(part.manufacturer);
    r[97] = static_cast<uint8_t>(part.family);
    r[98] = static_cast<uint8_t>(set.ir_length);
    put_u32(r, 104, opcode_of(set, "BYPASS"));
    put_u32(r, 108, opcode_of(set, "IDCODE"));
    bix_scramble(r, sizeof r);
    out.insert(out.end(), r, r + sizeof r);
}

std::filesystem::path temp_name(const std::filesystem::path& path) {
    return path.string() + ".tmp";
}

bool write_file(const std::filesystem::path& path, const std::vector<uint8_t>& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    out.close();
    return static_cast<bool>(out);
}

}  // namespace

std::vector<BsrCell> boundary_cells(int bsr_len) {
    std::vector<BsrCell> cells(bsr_len > 0 ? bsr_len : 0);
    const int groups = bsr_len / 3;
    for (int i = 0; i < static_cast<int>(cells.size()); ++i) {
        BsrCell& c = cells[i];
        c.bc_type = 2;
        c.port.assign(1, '*');
        if (i >= groups * 3) continue;  // internal remainder
        const int control = i - i % 3;
        char io[16];
        std::snprintf(io, sizeof io, "IO_%d", i / 3);
        switch (i % 3) {
            case 0:
                c.function = CellFunction::Control;
                c.safe_value = '1';
                break;
            case 1:
                c.port = io;
                c.function = CellFunction::Output3;
                c.control_cell = static_cast<int16_t>(control);
                c.disable_value = '1';
                break;
            default:
                c.port = io;
                c.function = CellFunction::Input;
                break;
        }
    }
    return cells;
}

DatabaseImage build_database(const Source& source) {
    DatabaseImage image;
    write_index_header(image.index, source);
    for (const Part& part : source.parts) {
        std::vector<uint8_t>& bb = image.bb[{part.manufacturer, part.family}];
        const size_t offset = bb.size();
        write_description(bb, part, source.set_of(part));
        write_index_record(image.index, source, part, static_cast<uint32_t>(offset),
                           static_cast<uint32_t>(bb.size() - offset));
    }
    return image;
}

bool write_database(const DatabaseImage& image, const std::filesystem::path& sys_dir,
                    std::string& error) {
    std::vector<std::pair<std::filesystem::path, const std::vector<uint8_t>*>> files;
    files.emplace_back(sys_dir / "system.bix", &image.index);
    for (const auto& [mf, data] : image.bb)
        files.emplace_back(
            sys_dir / "bb" /
                ("sys_" + std::to_string(mf.first) + "_" + std::to_string(mf.second) + ".bb"),
            &data);
    std::error_code ec;
    std::filesystem::create_directories(sys_dir / "bb", ec);
    if (ec) {
        error = "cannot create " + (sys_dir / "bb").string() + ": " + ec.message();
        return false;
    }
    for (size_t i = 0; i < files.size(); ++i) {
        if (write_file(temp_name(files[i].first), *files[i].second)) continue;
        error = "cannot write " + temp_name(files[i].first).string();
        for (size_t j = 0; j <= i; ++j) std::filesystem::remove(temp_name(files[j].first), ec);
        return false;
    }
    for (const auto& file : files) {
        std::filesystem::rename(temp_name(file.first), file.first, ec);
        if (ec) {
            error = "cannot rename to " + file.first.string() + ": " + ec.message();
            return false;
        }
    }
    return true;
}

}  // namespace ddbgen
