// Device database: the index "system.bix", the bb description records, and the database mkddb
// builds from data/devices.
#include "devdb/bix.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "ddb_source.h"
#include "jtag/msg.h"
#include "sim/xilinx_parts.h"
#include "support/printed.h"

namespace {

namespace fs = std::filesystem;
using vireo::test::printed;
using Names = std::vector<std::string>;

template <auto Free>
struct FreeWith {
    void operator()(auto* p) const { Free(p); }
};
using Db = std::unique_ptr<DeviceDatabase, FreeWith<bix_database_free>>;
using List = std::unique_ptr<DeviceList, FreeWith<devlist_free>>;
using Desc = std::unique_ptr<DeviceDescription, FreeWith<devdesc_free>>;

Names names(const DeviceList* list) {
    Names out;
    for (int i = 0; i < devlist_count(list); ++i) out.push_back(devlist_name(list, i));
    return out;
}

void write_bytes(const fs::path& path, const std::vector<uint8_t>& b) {
    std::ofstream(path, std::ios::binary) << std::string(b.begin(), b.end());
}

// Little-endian byte builder.
struct Bytes {
    std::vector<uint8_t> data;
    Bytes& u8(unsigned v) { return data.push_back(static_cast<uint8_t>(v)), *this; }
    Bytes& u16(unsigned v) { return u8(v).u8(v >> 8); }
    Bytes& u32(uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    Bytes& raw(const std::string& s) { return data.insert(data.end(), s.begin(), s.end()), *this; }
    Bytes& text(const std::string& s) { return raw(s).u8(0); }
    Bytes& field(std::string s, size_t size) { return s.resize(size, '\0'), raw(s); }
    Bytes& zeros(size_t n) { return raw(std::string(n, '\0')); }
};

// Index header: manufacturers, each with its families.
Bytes index_header(const std::vector<std::pair<std::string, Names>>& mfrs) {
    Bytes b;
    b.raw("BIX").u32(kBixVersion).u8(static_cast<unsigned>(mfrs.size()));
    for (const auto& [name, families] : mfrs) {
        b.text("code").text(name).text("info").u8(static_cast<unsigned>(families.size()));
        for (const std::string& f : families) b.text(f);
    }
    return b;
}

struct Record {
    uint32_t idcode = 0, mask = 0x0FFFFFFF;
    std::string key = "", name = "";
    uint8_t m = 1, f = 1;
    uint32_t idcode_opcode = 0, offset = 0, length = 0;
};

void append_record(Bytes& b, const Record& r) {
    Bytes rec;
    rec.u32(r.idcode).u32(r.mask).u32(r.offset).u32(r.length);
    rec.field(r.key, 32).field(r.name, 32).field("third", 16);
    rec.u8(r.m).u8(r.f).u16(6).u32(0).u32(0x3F).u32(r.idcode_opcode).zeros(16);
    bix_scramble(rec.data.data(), rec.data.size());
    b.data.insert(b.data.end(), rec.data.begin(), rec.data.end());
}

// A scratch directory with a bb folder, the message collector, and the database directory
// answered to query_value.
class Bix : public ::testing::Test {
  protected:
    void SetUp() override {
        set_print_callback(vireo::test::collect_print);
        printed().clear();
        fs::create_directories(dir_ / "bb");
        ddb_dir = dir_.string() + "/";
        set_query_callback([](const char* key) {
            return std::string(std::strcmp(key, "ddb_file_path") == 0 ? ddb_dir : "");
        });
    }
    void TearDown() override { fs::remove_all(dir_); }

    Db load(const Bytes& bytes, int expected = 1) {
        write_bytes(dir_ / "system.bix", bytes.data);
        Db db(bix_database_new());
        EXPECT_EQ(bix_load(db.get(), (dir_ / "system.bix").c_str()), expected);
        return db;
    }

    static inline std::string ddb_dir;
    const fs::path dir_ = fs::temp_directory_path() /
                          ("bix_" + std::to_string(::getpid()) + "_" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
};

TEST_F(Bix, ScrambleKeyStream) {
    std::vector<uint8_t> zeros(6, 0);
    bix_scramble(zeros.data(), zeros.size());
    // State 0x6B2E91C4, then rotl(state, 1) + 0x3D5A7F19: 0x13B7A2A1, 0x64C9C45B, 0x06EE07CF, ...
    EXPECT_EQ(zeros, (std::vector<uint8_t>{0xC4, 0xA1, 0x5B, 0xCF, 0xB7, 0x87}));
}

// Two manufacturers; Xilinx has two families. Records deliberately interleave families.
Bytes sample_index() {
    Bytes b = index_header({{"Xilinx", {"Artix-7", "Spartan-6"}}, {"ARM", {"CoreSight"}}});
    append_record(b, {.idcode = 0x03631093, .key = "xc7a100t", .name = "XC7A100T"});
    append_record(b, {.idcode = 0x04002093, .key = "xc6slx16", .name = "XC6SLX16", .f = 2});
    append_record(b,
                  {.idcode = 0x04002090, .mask = 0x0FFFFFF0, .key = "w", .name = "WIDE", .f = 2});
    append_record(b, {.idcode = 0x4BA00477, .key = "dap", .name = "ARM_DAP", .m = 2});
    append_record(b, {.idcode = 0x03636093, .key = "xc7a200t_b", .name = "XC7A200T"});
    append_record(b, {.idcode = 0x03636093, .key = "xc7a200t_a", .name = "XC7A200T"});
    return b;
}

TEST_F(Bix, LookupRules) {
    Db db = load(sample_index());
    // The version nibble never takes part.
    List hit(bix_find_idcode(db.get(), 0xF3631093, 0x0FFFFFFF, nullptr));
    ASSERT_EQ(devlist_count(hit.get()), 1);
    const DeviceListEntry& e = hit->entries[0];
    EXPECT_EQ(e.manufacturer + e.part_name + e.key + e.third, "XilinxXC7A100Txc7a100tthird");
    EXPECT_EQ(e.idcode, 0x03631093u);
    // The entry mask clears bits only on the entry side: the query must have them clear.
    List exact(bix_find_idcode(db.get(), 0x04002093, 0x0FFFFFFF, nullptr));
    EXPECT_EQ(names(exact.get()), Names{"XC6SLX16"});
    List cleared(bix_find_idcode(db.get(), 0x04002090, 0x0FFFFFFF, nullptr));
    EXPECT_EQ(names(cleared.get()), Names{"WIDE"});
    // idcode 0 with mask 0 lists everything: manufacturers, families, then file order.
    List all(bix_find_idcode(db.get(), 0, 0, nullptr));
    EXPECT_EQ(names(all.get()),
              (Names{"XC7A100T", "XC7A200T", "XC7A200T", "XC6SLX16", "WIDE", "ARM_DAP"}));
    EXPECT_EQ(bix_find_idcode(nullptr, 0, 0, nullptr), nullptr);

    // Names and keys ignore letter case and keep file order.
    List twice(bix_find_name(db.get(), "xc7a200t", nullptr));
    bix_find_key(db.get(), "XC6SLX16", twice.get());
    EXPECT_EQ(twice->entries[0].key + twice->entries[1].key, "xc7a200t_bxc7a200t_a");
    EXPECT_EQ(names(twice.get()), (Names{"XC7A200T", "XC7A200T", "XC6SLX16"}));
    // Per-manufacturer lookups see only their manufacturer.
    List arm(bix_mfr_find_idcode(&db->manufacturers[1], 0x03631093, 0x0FFFFFFF, nullptr));
    EXPECT_EQ(names(bix_mfr_find_name(&db->manufacturers[1], "arm_dap", arm.get())),
              Names{"ARM_DAP"});
}

TEST_F(Bix, SkipsBadManufacturerAndFamilyNumbersAndAShortTail) {
    Bytes b = index_header({{"Xilinx", {"Artix-7"}}, {"ARM", {"CoreSight"}}});
    append_record(b, {.name = "M0", .m = 0});
    append_record(b, {.name = "M3", .m = 3});
    append_record(b, {.name = "F0", .f = 0});
    append_record(b, {.name = "F2", .m = 2, .f = 2});
    append_record(b, {.name = "OK", .m = 2, .f = 1});
    append_record(b, {.name = "TAIL"});
    b.data.pop_back();
    Db db = load(b);
    List all(bix_find_idcode(db.get(), 0, 0, nullptr));
    EXPECT_EQ(names(all.get()), Names{"OK"});

    // Growing a table beyond its declared count is refused, and the process lives on.
    testing::internal::CaptureStdout();
    EXPECT_EQ(bix_add_manufacturer(db.get(), "", "More", "", 1), nullptr);
    EXPECT_EQ(bix_add_family(&db->manufacturers[0], "More"), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "mfr_cnt overflow\nfam_cnt overflow\n");
}

TEST_F(Bix, DamagedIndexFilesAreRefusedOrReadSafely) {
    Db db = load(sample_index());
    EXPECT_EQ(bix_load(db.get(), (dir_ / "missing.bix").c_str()), 0);
    for (size_t at : {2, 3}) {  // wrong magic (silent), wrong version
        Bytes bad = sample_index();
        bad.data[at] ^= 0x02;
        write_bytes(dir_ / "bad.bix", bad.data);
        EXPECT_EQ(bix_load(db.get(), (dir_ / "bad.bix").c_str()), 0);
        EXPECT_EQ(db->manufacturers.size(), 2u) << "a refused file leaves the loaded contents";
    }
    EXPECT_EQ(
        printed(),
        "Error:デバイスデータベースのバージョンが異なるため登録済みデバイスが利用できません。");

    // Every cut of a valid file: the header part loads what it can, nothing crashes.
    const Bytes full = sample_index();
    for (size_t cut = 0; cut < full.data.size(); cut += 7) {
        Bytes part{{full.data.begin(), full.data.begin() + cut}};
        Db cut_db = load(part, cut >= 7 ? 1 : 0);
        List all(bix_find_idcode(cut_db.get(), 0, 0, nullptr));
        EXPECT_LE(devlist_count(all.get()), 6);
    }
}

// One bb record with every section filled; `counts` receives where the three table counts sit.
Bytes full_record(uint32_t instruction_count = 2, std::vector<size_t>* counts = nullptr) {
    Bytes b;
    auto mark = [&] { return counts ? counts->push_back(b.data.size()) : void(); };
    b.u32(kBbRecordVersion);
    for (int i = 0; i < 20; ++i) b.u8(0xA0 + i);
    b.text("XC7A35T").zeros(24).text("csg324").u32(0x0362D093).u32(0x0FFFFFFF).u32(0xCAFEF00D);
    b.u8(6).zeros(3).text("XXXX01");
    mark();
    b.u32(instruction_count);
    if (instruction_count == 2)
        b.u8(0).text("BYPASS").text("111111").u8(7).text("IDCODE").text("001001");
    mark();
    b.u32(1).text("IO_L1P").text("A1").u8('0').u32(2).u32(0xFFFFFFFF).u32(0);
    mark();
    b.u32(2).text("*").u8(2).u8(4).u8('1').u8('X').u8(0).u16(0xFFFF).zeros(2);  // control
    b.text("IO_L1P").u8(1).u8(3).u8('X').u8('1').u8(1).u16(0).zeros(2);         // output3, pull0
    return b;
}

// Parses from an exactly sized heap copy, so any read past the end is caught by the sanitizer.
Desc parse_copy(const std::vector<uint8_t>& bytes, size_t offset, size_t length,
                uint8_t* buffer20 = nullptr) {
    auto copy = std::make_unique<uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), copy.get());
    return Desc(bix_parse_description(copy.get(), bytes.size(), offset, length, buffer20));
}

// The fields the database built from data/devices leaves empty or constant; the rest is checked
// against that database below.
TEST_F(Bix, RecordReadsEveryFieldInOrder) {
    uint8_t opaque[kBbOpaqueSize] = {};
    Desc d = parse_copy(full_record().data, 0, 0, opaque);
    ASSERT_TRUE(d);
    EXPECT_EQ(std::tuple(opaque[0], opaque[19]), std::tuple(0xA0, 0xB3));
    EXPECT_EQ(std::tie(d->name, d->package, d->ir_capture),
              std::tuple("XC7A35T", "csg324", "XXXX01"));
    EXPECT_EQ(std::tuple(d->usercode, d->instructions.at(1).flag), std::tuple(0xCAFEF00D, 7));
    const PinMapEntry& pin = d->pins.at(0);
    EXPECT_EQ(std::tie(pin.port, pin.pin, pin.disable_value), std::tuple("IO_L1P", "A1", '0'));
    EXPECT_EQ(std::tuple(pin.output_cell, pin.input_cell, pin.control_cell), std::tuple(2, -1, 0));
    ASSERT_EQ(d->cells.size(), 2u);
    const BsrCell& c = d->cells[1];
    EXPECT_EQ(std::tie(c.port, c.bc_type, c.function, c.safe_value, c.disable_value,
                       c.disable_result, c.control_cell),
              std::tuple("IO_L1P", 1, CellFunction::Output3, 'X', '1', DisableResult::Pull0, 0));
    EXPECT_EQ(d->cells[0].control_cell, -1);
    EXPECT_EQ(printed(), "");

    Desc none = parse_copy(full_record(0).data, 0, 0);  // no instructions: a single BYPASS
    ASSERT_TRUE(none);
    ASSERT_EQ(none->instructions.size(), 1u);
    EXPECT_EQ(none->instructions[0].name + none->instructions[0].opcode, "BYPASS111111");
}

TEST_F(Bix, CorruptRecordsGiveNoDescription) {
    Bytes versioned = full_record();
    versioned.data[0] = 0x01;
    EXPECT_FALSE(parse_copy(versioned.data, 0, 0));
    EXPECT_EQ(printed(), "デバイスデータベースのバージョンが異なります");

    // Cut by the end of the buffer, and by the recorded length inside a longer buffer.
    const Bytes full = full_record();
    Bytes padded = full;
    padded.zeros(64);
    for (size_t size = 0; size < full.data.size(); ++size) {
        EXPECT_FALSE(parse_copy({full.data.begin(), full.data.begin() + size}, 0, 0)) << size;
        if (size > 0) {
            EXPECT_FALSE(parse_copy(padded.data, 0, size)) << size;
        }
    }
    EXPECT_TRUE(parse_copy(padded.data, 0, full.data.size()));
    EXPECT_FALSE(parse_copy(full.data, full.data.size(), 0));
    EXPECT_FALSE(parse_copy(full.data, 0xFFFFFFF0u, 16));
    EXPECT_NE(printed().find("truncated"), std::string::npos);

    // Table counts far beyond the data are refused before any table is built.
    std::vector<size_t> counts;
    full_record(2, &counts);
    for (size_t count_at : counts) {
        Bytes b = full_record();
        std::fill_n(b.data.begin() + count_at, 4, 0xFF);
        EXPECT_FALSE(parse_copy(b.data, 0, 0)) << count_at;
    }
}

TEST_F(Bix, ReadDeviceFromTheBbFileOrByDefault) {
    Bytes index = index_header({{"Xilinx", {"Artix-7"}}});
    Record first{.idcode = 0x0362D093, .key = "first", .name = "XC7A35T", .idcode_opcode = 9};
    first.length = 5;
    append_record(index, first);
    append_record(index, {.idcode = 0x0362D093, .key = "second", .name = "XC7A35T", .offset = 5});
    Db db = load(index);
    // No bb file: a description from the index entry; an IDCODE opcode field of 0 is all ones.
    Desc d(bix_read_device(db.get(), "FIRST", nullptr));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->name + "/" + d->package + "/" + d->ir_capture, "XC7A35T/unknown/XXXXXX");
    ASSERT_EQ(d->instructions.size(), 2u);
    EXPECT_EQ(d->instructions[0].name + d->instructions[0].opcode + d->instructions[1].name +
                  d->instructions[1].opcode,
              "BYPASS111111IDCODE001001");
    EXPECT_TRUE(d->pins.empty() && d->cells.empty());
    EXPECT_EQ(Desc(bix_read_device(db.get(), "second", nullptr))->instructions.at(1).opcode,
              "111111");
    EXPECT_FALSE(bix_read_device(db.get(), "nothing", nullptr));
    EXPECT_EQ(printed(), "");

    // With the bb file: the record at the entry's offset; 5 bytes of junk are no record.
    const std::vector<uint8_t> record = full_record().data;
    write_bytes(dir_ / "bb" / "sys_1_1.bb",
                Bytes().raw("junk!").raw({record.begin(), record.end()}).data);
    uint8_t opaque[kBbOpaqueSize] = {};
    Desc second(bix_read_device(db.get(), "Second", opaque));
    ASSERT_TRUE(second);
    EXPECT_EQ(second->package, "csg324");
    EXPECT_EQ(opaque[0], 0xA0);
    EXPECT_FALSE(bix_read_device(db.get(), "first", nullptr));
}

// The database the build writes with mkddb from data/devices.
class DeviceDatabase : public Bix {
  protected:
    void SetUp() override {
        Bix::SetUp();
        ddb_dir = VIREO_BIN_DIR "/sys/";
        ASSERT_EQ(bix_load(db_.get(), (ddb_dir + "system.bix").c_str()), 1);
    }
    Db db_{bix_database_new()};
};

TEST_F(DeviceDatabase, EveryPartReadsBackAsWritten) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(VIREO_DEVICE_SOURCE_DIR))
        if (entry.path().extension() == ".txt") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ddbgen::Source source;
    std::vector<std::string> errors;
    for (const fs::path& f : files) ddbgen::read_source(f.string(), source, errors);
    ASSERT_TRUE(errors.empty()) << errors.front();
    ASSERT_GE(source.parts.size(), 25u);
    List all(bix_find_idcode(db_.get(), 0, 0, nullptr));
    EXPECT_EQ(devlist_count(all.get()), static_cast<int>(source.parts.size()));

    for (const ddbgen::Part& part : source.parts) {
        SCOPED_TRACE(part.where);
        const ddbgen::InstructionSet& set = source.set_of(part);
        List found(bix_find_key(db_.get(), part.key.c_str(), nullptr));
        ASSERT_EQ(devlist_count(found.get()), 1);
        const DeviceListEntry& l = found->entries[0];
        EXPECT_EQ(std::tie(l.manufacturer, l.part_name, l.third, l.idcode, l.mask),
                  std::tie(source.manufacturers[part.manufacturer - 1].name, part.name,
                           source.family_of(part).name, part.idcode, part.mask));
        const DbEntry* e = nullptr;  // under the part's manufacturer and family numbers
        for (const DbEntry& x :
             db_->manufacturers.at(part.manufacturer - 1).families.at(part.family - 1).entries)
            if (x.key == part.key) e = &x;
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(std::tuple(int{e->ir_length}, e->bypass_opcode),
                  std::tuple(set.ir_length, (1u << set.ir_length) - 1));

        Desc d(bix_read_device(db_.get(), part.key.c_str(), nullptr));
        ASSERT_TRUE(d);
        EXPECT_EQ(
            std::tie(d->name, d->package, d->idcode, d->idcode_mask, d->usercode, d->ir_capture),
            std::tie(part.name, part.package, part.idcode, part.mask, part.usercode, set.capture));
        EXPECT_EQ(d->ir_length, set.ir_length);
        Names got, want;
        for (const InstructionDef& i : d->instructions) got.push_back(i.name + "=" + i.opcode);
        for (const ddbgen::Instruction& i : set.instructions) {
            want.push_back(i.name + "=" + i.opcode);
            if (i.name == "IDCODE") {
                EXPECT_EQ(e->idcode_opcode, bits_value(i.opcode.c_str()));
            }
        }
        EXPECT_EQ(got, want);
        ASSERT_EQ(d->cells.size(), static_cast<size_t>(part.bsr_len));
        for (const BsrCell& c : d->cells)
            if (c.control_cell >= 0) {
                ASSERT_LT(c.control_cell, part.bsr_len);
                EXPECT_EQ(d->cells[c.control_cell].function, CellFunction::Control);
            }
    }
    EXPECT_EQ(printed(), "");
}

TEST_F(DeviceDatabase, AgreesWithTheVirtualBoardAndTheApplicationNames) {
    for (const char* name : {"XC6SLX16", "XC6SLX45", "XC6SLX45T", "XC7A100T", "XC7S50_CSGA324",
                             "XC7A200T", "XC7K160T"}) {
        List found(bix_find_name(db_.get(), name, nullptr));
        EXPECT_STREQ(devlist_name(found.get(), 0), name);
    }
    // Detection (first entry of an IDCODE, any revision) names every virtual FPGA, and the
    // description has its boundary length and package.
    for (const vireo::sim::XilinxPart& p : vireo::sim::xilinx_parts()) {
        const std::string expected = p.name == std::string("XC7S50") ? "XC7S50_CSGA324" : p.name;
        List found(bix_find_idcode(db_.get(), p.idcode | 0x30000000, 0x0FFFFFFF, nullptr));
        ASSERT_GE(devlist_count(found.get()), 1) << p.name;
        EXPECT_EQ(devlist_name(found.get(), 0), expected);
        Desc d(bix_read_device(db_.get(), devlist_key(found.get(), 0), nullptr));
        ASSERT_TRUE(d);
        EXPECT_EQ(std::tuple(d->cells.size(), d->package),
                  std::tuple(size_t(p.bsr_len), p.package));
    }
    List dap(bix_find_idcode(db_.get(), 0x4BA00477, 0x0FFFFFFF, nullptr));
    EXPECT_STREQ(devlist_name(dap.get(), 0), "ARM_DAP");
}

TEST_F(Bix, MkddbRefusesBadSourceWithFileAndLineAndWritesNothing) {
    const fs::path bad = dir_ / "bad.txt";
    std::ofstream(bad) << "set s ir=6 capture=XXXX01\n"
                          "  BYPASS 11111\n"                                    // 2: short opcode
                          "end\n"                                               // 3: so no BYPASS
                          "part EARLY key=e idcode=1 mask=1 package=p bsr=1\n"  // 4: no family
                          "manufacturer M\n"
                          "family F set=nope\n"  // 6: unknown set
                          "family G set=s\n"
                          "part P key=k idcode=XYZ mask=0FFFFFFF package=p bsr=3\n"    // 8: idcode
                          "part Q key=K idcode=1 mask=1 package=p bsr=3 color=red\n";  // 9
    write_bytes(dir_ / "system.bix", {1, 2, 3});
    const std::string command = VIREO_BIN_DIR "/mkddb -o " + dir_.string() + " " + bad.string() +
                                " 2>" + (dir_ / "err.txt").string();
    EXPECT_NE(std::system(command.c_str()), 0);
    const std::string err = (std::stringstream() << std::ifstream(dir_ / "err.txt").rdbuf()).str();
    for (int line : {2, 3, 4, 6, 8, 9})
        EXPECT_NE(err.find(bad.string() + ":" + std::to_string(line) + ": "), std::string::npos)
            << line << "\n"
            << err;
    EXPECT_EQ(fs::file_size(dir_ / "system.bix"), 3u);
    EXPECT_TRUE(fs::is_empty(dir_ / "bb"));
}

}  // namespace
