// Description records in the bb files: parsing, defaults and damaged records.
#include <cstring>
#include <string>
#include <vector>

#include "bix_fixture.h"

namespace {

using namespace bixtest;

// One record with every section filled, field by field; `counts` receives where the three
// table counts sit.
Bytes full_record(uint32_t instruction_count = 2, std::vector<size_t>* counts = nullptr) {
    Bytes b;
    auto mark = [&] {
        if (counts) counts->push_back(b.data.size());
    };
    b.u32(kBbRecordVersion);
    for (int i = 0; i < 20; ++i) b.u8(0xA0 + i);
    b.text("XC7A35T").zeros(24).text("csg324");
    b.u32(0x0362D093).u32(0x0FFFFFFF).u32(0xCAFEF00D);
    b.u8(6).zeros(3).text("XXXX01");
    mark();
    b.u32(instruction_count);
    if (instruction_count == 2) {
        b.u8(0).text("BYPASS").text("111111");
        b.u8(7).text("IDCODE").text("001001");
    }
    mark();
    b.u32(1).text("IO_L1P").text("A1").u8('0').u32(2).u32(0xFFFFFFFF).u32(0);
    mark();
    b.u32(2);
    b.text("*").u8(2).u8(static_cast<unsigned>(CellFunction::Control)).u8('1').u8('X').u8(0)
        .u16(0xFFFF).zeros(2);
    b.text("IO_L1P").u8(1).u8(static_cast<unsigned>(CellFunction::Output3)).u8('X').u8('1')
        .u8(static_cast<unsigned>(DisableResult::Pull0)).u16(0).zeros(2);
    return b;
}

// Parses from an exactly sized heap copy, so any read past the end is caught by the sanitizer.
Desc parse_copy(const std::vector<uint8_t>& bytes, size_t offset, size_t length,
                uint8_t* buffer20 = nullptr) {
    auto copy = std::make_unique<uint8_t[]>(bytes.size());
    if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
    return Desc(bix_parse_description(copy.get(), bytes.size(), offset, length, buffer20));
}

class BixRecord : public ::testing::Test {
protected:
    void SetUp() override {
        set_print_callback(collect_print);
        log_text().clear();
    }
};

TEST_F(BixRecord, ReadsEveryFieldInOrder) {
    uint8_t opaque[kBbOpaqueSize] = {};
    Desc d = parse_copy(full_record().data, 0, 0, opaque);
    ASSERT_TRUE(d);
    EXPECT_EQ(opaque[19], 0xA0 + 19);
    EXPECT_EQ(d->name + "/" + d->package + "/" + d->ir_capture, "XC7A35T/csg324/XXXX01");
    EXPECT_EQ(d->usercode, 0xCAFEF00Du);
    EXPECT_EQ(d->ir_length, 6);
    ASSERT_EQ(d->instructions.size(), 2u);
    EXPECT_EQ(d->instructions[1].name + d->instructions[1].opcode, "IDCODE001001");
    EXPECT_EQ(d->instructions[1].flag, 7);
    ASSERT_EQ(d->pins.size(), 1u);
    EXPECT_EQ(d->pins[0].pin, "A1");
    EXPECT_EQ(d->pins[0].input_cell, -1);
    EXPECT_EQ(d->pins[0].control_cell, 0);
    ASSERT_EQ(d->cells.size(), 2u);
    EXPECT_EQ(d->cells[0].control_cell, -1);
    EXPECT_EQ(d->cells[1].port, "IO_L1P");
    EXPECT_EQ(d->cells[1].function, CellFunction::Output3);
    EXPECT_EQ(d->cells[1].disable_value, '1');
    EXPECT_EQ(d->cells[1].disable_result, DisableResult::Pull0);
    EXPECT_EQ(log_text(), "");
}

TEST_F(BixRecord, NoInstructionsGiveASingleAllOnesBypass) {
    Desc d = parse_copy(full_record(0).data, 0, 0);
    ASSERT_TRUE(d);
    ASSERT_EQ(d->instructions.size(), 1u);
    EXPECT_EQ(d->instructions[0].name, "BYPASS");
    EXPECT_EQ(d->instructions[0].opcode, "111111");
    EXPECT_EQ(d->instructions[0].flag, 0);
}

TEST_F(BixRecord, WrongVersionAndEveryTruncationGiveNoDescription) {
    Bytes versioned = full_record();
    versioned.data[0] = 0x01;
    EXPECT_FALSE(parse_copy(versioned.data, 0, 0));
    EXPECT_EQ(log_text(), "デバイスデータベースのバージョンが異なります");

    // Cut by the end of the buffer, and by the recorded length inside a longer buffer.
    const Bytes full = full_record();
    Bytes padded = full;
    padded.zeros(64);
    for (size_t size = 0; size < full.data.size(); ++size) {
        std::vector<uint8_t> cut(full.data.begin(), full.data.begin() + size);
        EXPECT_FALSE(parse_copy(cut, 0, 0)) << size;
        if (size > 0) {
            EXPECT_FALSE(parse_copy(padded.data, 0, size)) << size;
        }
    }
    EXPECT_TRUE(parse_copy(padded.data, 0, full.data.size()));
    EXPECT_FALSE(parse_copy(full.data, full.data.size(), 0));
    EXPECT_FALSE(parse_copy(full.data, 0xFFFFFFF0u, 16));
    EXPECT_NE(log_text().find("truncated"), std::string::npos);

    // Table counts far beyond the data are refused before any table is built.
    std::vector<size_t> counts;
    full_record(2, &counts);
    for (size_t count_at : counts) {
        Bytes b = full_record();
        std::memset(b.data.data() + count_at, 0xFF, 4);
        EXPECT_FALSE(parse_copy(b.data, 0, 0)) << count_at;
    }
}

class BixReadDevice : public BixRecord {
protected:
    void SetUp() override {
        BixRecord::SetUp();
        static std::string dir;
        dir = dir_.dir();
        set_query_callback([](const char* key) {
            return std::string(std::strcmp(key, "ddb_file_path") == 0 ? dir : "");
        });
        Bytes index = index_header({{"Xilinx", {"Artix-7"}}});
        append_record(index, {.idcode = 0x0362D093, .key = "first", .name = "XC7A35T",
                              .idcode_opcode = 0x09, .offset = 0, .length = 5});
        record_offset_ = 5;
        append_record(index, {.idcode = 0x0362D093, .key = "second", .name = "XC7A35T",
                              .offset = record_offset_, .length = 0});
        write_bytes(dir_.path / "system.bix", index.data);
        ASSERT_EQ(bix_load(db_.get(), (dir_.path / "system.bix").c_str()), 1);
    }

    ScratchDir dir_;
    Db db_{bix_database_new()};
    uint32_t record_offset_ = 0;
};

TEST_F(BixReadDevice, MissingBbFileGivesTheDefaultDescription) {
    Desc d(bix_read_device(db_.get(), "FIRST", nullptr));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->name + "/" + d->package + "/" + d->ir_capture, "XC7A35T/unknown/XXXXXX");
    EXPECT_EQ(d->idcode, 0x0362D093u);
    EXPECT_EQ(d->ir_length, 6);
    ASSERT_EQ(d->instructions.size(), 2u);
    EXPECT_EQ(d->instructions[0].name + d->instructions[0].opcode, "BYPASS111111");
    EXPECT_EQ(d->instructions[1].name + d->instructions[1].opcode, "IDCODE001001");
    EXPECT_TRUE(d->pins.empty() && d->cells.empty());

    // An IDCODE opcode field of 0 means all ones.
    Desc zero(bix_read_device(db_.get(), "second", nullptr));
    ASSERT_TRUE(zero);
    EXPECT_EQ(zero->instructions[1].opcode, "111111");
    EXPECT_FALSE(bix_read_device(db_.get(), "nothing", nullptr));
    EXPECT_EQ(log_text(), "");
}

TEST_F(BixReadDevice, ReadsTheRecordAtTheEntryOffset) {
    Bytes bb;
    bb.raw("junk!");
    const Bytes record = full_record();
    bb.data.insert(bb.data.end(), record.data.begin(), record.data.end());
    write_bytes(dir_.path / "bb" / "sys_1_1.bb", bb.data);
    uint8_t opaque[kBbOpaqueSize] = {};
    Desc d(bix_read_device(db_.get(), "Second", opaque));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->package, "csg324");
    EXPECT_EQ(opaque[0], 0xA0);
    // The first entry's record (offset 0, 5 bytes) is no record at all.
    EXPECT_FALSE(bix_read_device(db_.get(), "first", nullptr));
}

}  // namespace
