#include "devdb/bix.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "jtag/lang.h"
#include "jtag/msg.h"

namespace {

constexpr uint32_t kScrambleSeed = 0x6B2E91C4;
constexpr uint32_t kScrambleStep = 0x3D5A7F19;
constexpr uint32_t kIdcodeBits = 0x0FFFFFFF;  // the version nibble never takes part
constexpr int kHeaderTextSize = 1000;         // read_cstring cuts header texts at 999 bytes

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

const char* or_empty(const char* text) {
    return text ? text : "";
}

bool iequals(std::string_view a, const char* b) {
    if (!b) return false;
    std::string_view other(b);
    return a.size() == other.size() &&
           std::equal(a.begin(), a.end(), other.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

uint32_t le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool read_u32(FILE* f, uint32_t& value) {
    uint8_t bytes[4];
    if (std::fread(bytes, 1, 4, f) != 4) return false;
    value = le32(bytes);
    return true;
}

uint8_t read_u8(FILE* f) {
    int c = std::fgetc(f);
    return c == EOF ? 0 : static_cast<uint8_t>(c);
}

std::string read_text(FILE* f) {
    char buffer[kHeaderTextSize];
    read_cstring(buffer, kHeaderTextSize, f);
    return buffer;
}

// A fixed-size text field of a record; stops at its NUL or at the end of the field.
std::string field_text(const uint8_t* p, size_t size) {
    const auto* begin = reinterpret_cast<const char*>(p);
    return std::string(begin, strnlen(begin, size));
}

DbEntry entry_from_record(const uint8_t* r) {
    DbEntry e;
    e.idcode = le32(r + 0);
    e.mask = le32(r + 4);
    e.offset = le32(r + 8);
    e.length = le32(r + 12);
    e.key = field_text(r + 16, 32);
    e.part_name = field_text(r + 48, 32);
    e.third = field_text(r + 80, 16);
    e.manufacturer = r[96];
    e.family = r[97];
    e.ir_length = static_cast<uint16_t>(r[98] | (r[99] << 8));
    e.reserved = le32(r + 100);
    e.bypass_opcode = le32(r + 104);
    e.idcode_opcode = le32(r + 108);
    return e;
}

void add_entry(DbFamily& family, DbEntry entry) {
    if (static_cast<int>(family.entries.size()) == family.capacity) family.capacity *= 2;
    family.entries.reserve(family.capacity);
    family.entries.push_back(std::move(entry));
}

bool header_ok(FILE* f) {
    char magic[3];
    if (std::fread(magic, 1, 3, f) != 3 || std::memcmp(magic, "BIX", 3) != 0) return false;
    uint32_t version = 0;
    if (!read_u32(f, version)) return false;
    if (version != kBixVersion) {
        msg_print(tr_ja(
            "Error:"
            "デバイスデータベースのバージョンが異なるため登録済みデバイスが利用できません。"));
        return false;
    }
    return true;
}

void read_header(DeviceDatabase* db, FILE* f) {
    db->mfr_cnt = read_u8(f);
    db->manufacturers.reserve(db->mfr_cnt);
    for (int m = 0; m < db->mfr_cnt; ++m) {
        std::string text1 = read_text(f);
        std::string name = read_text(f);
        std::string text3 = read_text(f);
        uint8_t fam_cnt = read_u8(f);
        DbManufacturer* mfr =
            bix_add_manufacturer(db, text1.c_str(), name.c_str(), text3.c_str(), fam_cnt);
        for (int i = 0; i < fam_cnt; ++i) bix_add_family(mfr, read_text(f).c_str());
    }
}

void read_records(DeviceDatabase* db, FILE* f) {
    uint8_t record[kBixRecordSize];
    while (std::fread(record, 1, kBixRecordSize, f) == kBixRecordSize) {
        bix_scramble(record, kBixRecordSize);
        const int m = record[96];
        const int fam = record[97];
        if (m < 1 || m > static_cast<int>(db->manufacturers.size())) continue;
        DbManufacturer& mfr = db->manufacturers[m - 1];
        if (fam < 1 || fam > static_cast<int>(mfr.families.size())) continue;
        add_entry(mfr.families[fam - 1], entry_from_record(record));
    }
}

void append(DeviceList*& list, const DbManufacturer& mfr, const DbEntry& e) {
    if (!list) list = devlist_new();
    devlist_add(list, mfr.name.c_str(), e.part_name.c_str(), e.key.c_str(), e.third.c_str(),
                e.idcode, e.mask);
}

bool idcode_matches(const DbEntry& e, uint32_t idcode, uint32_t query_mask) {
    return (e.idcode & e.mask & kIdcodeBits) == (idcode & query_mask & kIdcodeBits);
}

template <typename Pred>
DeviceList* mfr_find(const DbManufacturer* mfr, DeviceList* list, Pred pred) {
    if (!mfr) return list;
    if (!list) list = devlist_new();
    for (const DbFamily& fam : mfr->families)
        for (const DbEntry& e : fam.entries)
            if (pred(e)) append(list, *mfr, e);
    return list;
}

template <typename Pred>
DeviceList* db_find(const DeviceDatabase* db, DeviceList* list, Pred pred) {
    if (!db) return list;
    if (!list) list = devlist_new();
    for (const DbManufacturer& mfr : db->manufacturers) mfr_find(&mfr, list, pred);
    return list;
}

const DbEntry* first_with_key(const DeviceDatabase* db, const char* key) {
    if (!db) return nullptr;
    for (const DbManufacturer& mfr : db->manufacturers)
        for (const DbFamily& fam : mfr.families)
            for (const DbEntry& e : fam.entries)
                if (iequals(e.key, key)) return &e;
    return nullptr;
}

std::string ddb_directory() {
    std::string dir = query_value("ddb_file_path");
    return dir.empty() ? "./" : dir;
}

std::vector<uint8_t> read_whole_file(FILE* f) {
    std::vector<uint8_t> data;
    if (std::fseek(f, 0, SEEK_END) != 0) return data;
    long size = std::ftell(f);
    if (size <= 0 || std::fseek(f, 0, SEEK_SET) != 0) return data;
    data.resize(static_cast<size_t>(size));
    data.resize(std::fread(data.data(), 1, data.size(), f));
    return data;
}

// Reads fields of one bb record; every read fails instead of going past `end`.
class RecordReader {
  public:
    RecordReader(const uint8_t* data, size_t pos, size_t end) : data_(data), pos_(pos), end_(end) {}

    size_t remaining() const { return end_ - pos_; }

    bool bytes(uint8_t* out, size_t n) {
        if (remaining() < n) return false;
        if (out) std::memcpy(out, data_ + pos_, n);
        pos_ += n;
        return true;
    }
    bool skip(size_t n) { return bytes(nullptr, n); }
    bool u8(uint8_t& v) { return bytes(&v, 1); }
    bool ch(char& v) {
        uint8_t b;
        if (!u8(b)) return false;
        v = static_cast<char>(b);
        return true;
    }
    bool u16(uint16_t& v) {
        uint8_t b[2];
        if (!bytes(b, 2)) return false;
        v = static_cast<uint16_t>(b[0] | (b[1] << 8));
        return true;
    }
    bool u32(uint32_t& v) {
        uint8_t b[4];
        if (!bytes(b, 4)) return false;
        v = le32(b);
        return true;
    }
    bool i32(int32_t& v) {
        uint32_t u;
        if (!u32(u)) return false;
        v = static_cast<int32_t>(u);
        return true;
    }
    bool text(std::string& out) {
        const auto* begin = data_ + pos_;
        const auto* nul = static_cast<const uint8_t*>(std::memchr(begin, 0, remaining()));
        if (!nul) return false;
        out.assign(reinterpret_cast<const char*>(begin), nul - begin);
        pos_ += (nul - begin) + 1;
        return true;
    }
    // A table count is believable only when that many of the smallest items still fit.
    bool count(uint32_t& n, size_t min_item_size) {
        return u32(n) && n <= remaining() / min_item_size;
    }

  private:
    const uint8_t* data_;
    size_t pos_;
    size_t end_;
};

bool read_instructions(RecordReader& in, DeviceDescription& d) {
    uint32_t n;
    if (!in.count(n, 3)) return false;
    d.instructions.resize(n);
    for (InstructionDef& ins : d.instructions)
        if (!in.u8(ins.flag) || !in.text(ins.name) || !in.text(ins.opcode)) return false;
    if (n == 0) d.instructions.push_back({"BYPASS", std::string(d.ir_length, '1'), 0});
    return true;
}

bool read_pins(RecordReader& in, DeviceDescription& d) {
    uint32_t n;
    if (!in.count(n, 15)) return false;
    d.pins.resize(n);
    for (PinMapEntry& p : d.pins)
        if (!in.text(p.port) || !in.text(p.pin) || !in.ch(p.disable_value) ||
            !in.i32(p.output_cell) || !in.i32(p.input_cell) || !in.i32(p.control_cell))
            return false;
    return true;
}

bool read_cells(RecordReader& in, DeviceDescription& d) {
    uint32_t n;
    if (!in.count(n, 10)) return false;
    d.cells.resize(n);
    for (BsrCell& c : d.cells) {
        uint8_t function, result;
        uint16_t control;
        if (!in.text(c.port) || !in.u8(c.bc_type) || !in.u8(function) || !in.ch(c.safe_value) ||
            !in.ch(c.disable_value) || !in.u8(result) || !in.u16(control) || !in.skip(2))
            return false;
        c.function = static_cast<CellFunction>(function);
        c.disable_result = static_cast<DisableResult>(result);
        c.control_cell = static_cast<int16_t>(control);
    }
    return true;
}

bool read_body(RecordReader& in, DeviceDescription& d, uint8_t* buffer20) {
    uint8_t opaque[kBbOpaqueSize];
    if (!in.bytes(opaque, sizeof opaque) || !in.text(d.name) || !in.skip(24) ||
        !in.text(d.package) || !in.u32(d.idcode) || !in.u32(d.idcode_mask) || !in.u32(d.usercode) ||
        !in.u8(d.ir_length) || !in.skip(3) || !in.text(d.ir_capture))
        return false;
    if (!read_instructions(in, d) || !read_pins(in, d) || !read_cells(in, d)) return false;
    if (buffer20) std::memcpy(buffer20, opaque, sizeof opaque);
    return true;
}

}  // namespace

DeviceDatabase* bix_database() {
    static DeviceDatabase* const instance = [] {
        const std::string path = ddb_directory() + "system.bix";
        DeviceDatabase* db = bix_database_new();
        if (!bix_load(db, path.c_str()))
            msg_print(tr_ja("Error:デバイス定義ファイル \"%s\" が開けません"), path.c_str());
        return db;
    }();
    return instance;
}

DeviceDatabase* bix_database_new() {
    return std::make_unique<DeviceDatabase>().release();
}

void bix_database_free(DeviceDatabase* db) {
    std::unique_ptr<DeviceDatabase> owned(db);
}

int bix_load(DeviceDatabase* db, const char* path) {
    if (!db || !path) return 0;
    File f(std::fopen(path, "rb"));
    if (!f || !header_ok(f.get())) return 0;
    bix_clear(db);
    std::memcpy(db->magic, "BIX", 4);
    db->version = kBixVersion;
    read_header(db, f.get());
    read_records(db, f.get());
    return 1;
}

void bix_clear(DeviceDatabase* db) {
    if (!db) return;
    db->manufacturers.clear();
    db->manufacturers.shrink_to_fit();
    db->mfr_cnt = 0;
}

DbManufacturer* bix_add_manufacturer(DeviceDatabase* db, const char* text1, const char* name,
                                     const char* text3, uint8_t fam_cnt) {
    if (!db) return nullptr;
    if (db->manufacturers.size() >= db->mfr_cnt) {
        std::puts("mfr_cnt overflow");
        return nullptr;
    }
    DbManufacturer& mfr = db->manufacturers.emplace_back();
    mfr.text1 = or_empty(text1);
    mfr.name = or_empty(name);
    mfr.text3 = or_empty(text3);
    mfr.fam_cnt = fam_cnt;
    mfr.families.reserve(fam_cnt);
    mfr.database = db;
    return &mfr;
}

DbFamily* bix_add_family(DbManufacturer* manufacturer, const char* name) {
    if (!manufacturer) return nullptr;
    if (manufacturer->families.size() >= manufacturer->fam_cnt) {
        std::puts("fam_cnt overflow");
        return nullptr;
    }
    DbFamily& fam = manufacturer->families.emplace_back();
    fam.name = or_empty(name);
    return &fam;
}

DeviceList* bix_find_idcode(DeviceDatabase* db, uint32_t idcode, uint32_t query_mask,
                            DeviceList* list) {
    const bool all = idcode == 0 && query_mask == 0;
    return db_find(db, list,
                   [&](const DbEntry& e) { return all || idcode_matches(e, idcode, query_mask); });
}

DeviceList* bix_find_name(DeviceDatabase* db, const char* name, DeviceList* list) {
    return db_find(db, list, [&](const DbEntry& e) { return iequals(e.part_name, name); });
}

DeviceList* bix_find_key(DeviceDatabase* db, const char* key, DeviceList* list) {
    return db_find(db, list, [&](const DbEntry& e) { return iequals(e.key, key); });
}

DeviceList* bix_mfr_find_idcode(DbManufacturer* manufacturer, uint32_t idcode, uint32_t query_mask,
                                DeviceList* list) {
    return mfr_find(manufacturer, list,
                    [&](const DbEntry& e) { return idcode_matches(e, idcode, query_mask); });
}

DeviceList* bix_mfr_find_name(DbManufacturer* manufacturer, const char* name, DeviceList* list) {
    return mfr_find(manufacturer, list,
                    [&](const DbEntry& e) { return iequals(e.part_name, name); });
}

DeviceList* bix_mfr_find_key(DbManufacturer* manufacturer, const char* key, DeviceList* list) {
    return mfr_find(manufacturer, list, [&](const DbEntry& e) { return iequals(e.key, key); });
}

DeviceDescription* bix_read_device(DeviceDatabase* db, const char* key, uint8_t* buffer20) {
    const DbEntry* entry = first_with_key(db, key);
    if (!entry) return nullptr;
    char name[64];
    std::snprintf(name, sizeof name, "/bb/sys_%d_%d.bb", entry->manufacturer, entry->family);
    const std::string path = ddb_directory() + name;
    std::vector<uint8_t> data;
    {
        File f(std::fopen(path.c_str(), "rb"));
        if (!f) return bix_default_description(entry);
        try {
            data = read_whole_file(f.get());
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }
    return bix_parse_description(data.data(), data.size(), entry->offset, entry->length, buffer20);
}

DeviceDescription* bix_parse_description(const uint8_t* data, size_t size, size_t offset,
                                         size_t length, uint8_t* buffer20) {
    const size_t start = std::min(offset, size);
    const size_t end = (length == 0 || length > size - start) ? size : start + length;
    RecordReader in(data, start, end);
    uint32_t version = 0;
    if (!data || !in.u32(version)) {
        msg_print("Device database: description record at offset %zu is truncated\n", offset);
        return nullptr;
    }
    if (version != kBbRecordVersion) {
        msg_print(tr_ja("デバイスデータベースのバージョンが異なります"));
        return nullptr;
    }
    try {
        auto d = std::make_unique<DeviceDescription>();
        if (!read_body(in, *d, buffer20)) {
            msg_print("Device database: description record at offset %zu is truncated\n", offset);
            return nullptr;
        }
        return d.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

DeviceDescription* bix_default_description(const DbEntry* entry) {
    if (!entry) return nullptr;
    auto d = std::make_unique<DeviceDescription>();
    const int ir = entry->ir_length & 0xFF;
    d->name = entry->part_name;
    d->package = "unknown";
    d->idcode = entry->idcode;
    d->idcode_mask = entry->mask;
    d->ir_length = static_cast<uint8_t>(ir);
    d->ir_capture.assign(ir, 'X');
    std::string idcode_op(ir, '1');
    if (entry->idcode_opcode != 0)
        for (int i = 0; i < ir; ++i) {
            const int bit = ir - 1 - i;
            idcode_op[i] = (bit < 32 && ((entry->idcode_opcode >> bit) & 1)) ? '1' : '0';
        }
    d->instructions.push_back({"BYPASS", std::string(ir, '1'), 0});
    d->instructions.push_back({"IDCODE", idcode_op, 0});
    return d.release();
}

void bix_scramble(uint8_t* data, size_t size) {
    if (!data) return;
    uint32_t state = kScrambleSeed;
    for (size_t i = 0; i < size; ++i) {
        data[i] ^= static_cast<uint8_t>(state);
        state = ((state << 1) | (state >> 31)) + kScrambleStep;
    }
}

int bix_save_file() {
    msg_print(tr_ja("この関数 %s はまだ実装されていません"), "bix_save_file");
    return 0;
}

int bix_regist_cr() {
    msg_print(tr_ja("この関数 %s はまだ実装されていません"), "bix_regist_cr");
    return 0;
}
