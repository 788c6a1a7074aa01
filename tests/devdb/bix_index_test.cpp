// Index file "system.bix": scrambling, loading, the lookup rules and damaged files.
#include <string>
#include <vector>

#include "bix_fixture.h"

namespace {

using namespace bixtest;

TEST(BixScramble, KnownStreamRestartsEveryCallAndUndoesItself) {
    std::vector<uint8_t> zeros(6, 0);
    bix_scramble(zeros.data(), zeros.size());
    // State 0x6B2E91C4, then rotl(state, 1) + 0x3D5A7F19: 0x13B7A2A1, 0x64C9C45B, 0x06EE07CF, ...
    EXPECT_EQ(zeros, (std::vector<uint8_t>{0xC4, 0xA1, 0x5B, 0xCF, 0xB7, 0x87}));

    std::vector<uint8_t> record(kBixRecordSize);
    for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(i * 7);
    const std::vector<uint8_t> original = record;
    bix_scramble(record.data(), record.size());
    EXPECT_NE(record, original);
    bix_scramble(record.data(), record.size());
    EXPECT_EQ(record, original);
}

class BixIndex : public ::testing::Test {
protected:
    void SetUp() override {
        set_print_callback(collect_print);
        log_text().clear();
    }
    // Loads the given bytes as system.bix into a fresh database.
    Db load(const Bytes& bytes, int expected = 1) {
        write_bytes(dir_.path / "system.bix", bytes.data);
        Db db(bix_database_new());
        EXPECT_EQ(bix_load(db.get(), (dir_.path / "system.bix").c_str()), expected);
        return db;
    }
    static std::vector<std::string> names(const DeviceList* list) {
        std::vector<std::string> out;
        for (int i = 0; i < devlist_count(list); ++i) out.push_back(devlist_name(list, i));
        return out;
    }

    ScratchDir dir_;
};

// Two manufacturers; Xilinx has two families. Records deliberately interleave families.
Bytes sample_index() {
    Bytes b = index_header({{"Xilinx", {"Artix-7", "Spartan-6"}}, {"ARM", {"CoreSight"}}});
    append_record(b, {.idcode = 0x03631093, .key = "xc7a100t", .name = "XC7A100T", .f = 1});
    append_record(b, {.idcode = 0x04002093, .key = "xc6slx16", .name = "XC6SLX16", .f = 2});
    append_record(b, {.idcode = 0x04002090, .mask = 0x0FFFFFF0, .key = "wide", .name = "WIDE",
                      .f = 2});
    append_record(b, {.idcode = 0x4BA00477, .key = "dap", .name = "ARM_DAP", .m = 2});
    append_record(b, {.idcode = 0x03636093, .key = "xc7a200t_b", .name = "XC7A200T", .f = 1});
    append_record(b, {.idcode = 0x03636093, .key = "xc7a200t_a", .name = "XC7A200T", .f = 1});
    return b;
}

TEST_F(BixIndex, IdcodeLookupMasksTheVersionNibbleAndUsesTheEntryMask) {
    Db db = load(sample_index());
    ASSERT_EQ(db->manufacturers.size(), 2u);
    EXPECT_STREQ(db->magic, "BIX");

    List hit(bix_find_idcode(db.get(), 0xF3631093, 0x0FFFFFFF, nullptr));
    ASSERT_EQ(devlist_count(hit.get()), 1);
    const DeviceListEntry& e = hit->entries[0];
    EXPECT_EQ(e.manufacturer + e.part_name + e.key + e.third, "XilinxXC7A100Txc7a100tthird");
    EXPECT_EQ(e.idcode, 0x03631093u);

    // The entry mask clears the low nibble only on the entry side: the query must have it clear.
    List exact(bix_find_idcode(db.get(), 0x04002093, 0x0FFFFFFF, nullptr));
    EXPECT_EQ(names(exact.get()), (std::vector<std::string>{"XC6SLX16"}));
    List cleared(bix_find_idcode(db.get(), 0x04002090, 0x0FFFFFFF, nullptr));
    EXPECT_EQ(names(cleared.get()), (std::vector<std::string>{"WIDE"}));

    // idcode 0 with mask 0 lists everything: manufacturers, families, then file order.
    List all(bix_find_idcode(db.get(), 0, 0, nullptr));
    EXPECT_EQ(names(all.get()), (std::vector<std::string>{"XC7A100T", "XC7A200T", "XC7A200T",
                                                          "XC6SLX16", "WIDE", "ARM_DAP"}));
    EXPECT_EQ(bix_find_idcode(nullptr, 0, 0, nullptr), nullptr);
}

TEST_F(BixIndex, NameAndKeyLookupsIgnoreCaseAndKeepFileOrder) {
    Db db = load(sample_index());
    List twice(bix_find_name(db.get(), "xc7a200t", nullptr));
    ASSERT_EQ(devlist_count(twice.get()), 2);
    EXPECT_STREQ(devlist_key(twice.get(), 0), "xc7a200t_b");
    EXPECT_STREQ(devlist_key(twice.get(), 1), "xc7a200t_a");

    List by_key(bix_find_key(db.get(), "XC6SLX16", nullptr));
    EXPECT_EQ(names(by_key.get()), (std::vector<std::string>{"XC6SLX16"}));

    // Per-manufacturer lookups see only their manufacturer.
    DbManufacturer* arm = &db->manufacturers[1];
    List arm_hits(bix_mfr_find_name(arm, "arm_dap", nullptr));
    bix_mfr_find_key(arm, "DAP", arm_hits.get());
    bix_mfr_find_idcode(arm, 0x03631093, 0x0FFFFFFF, arm_hits.get());
    EXPECT_EQ(names(arm_hits.get()), (std::vector<std::string>{"ARM_DAP", "ARM_DAP"}));
}

TEST_F(BixIndex, SkipsRecordsOutsideTheHeaderAndAShortTail) {
    Bytes b = index_header({{"Xilinx", {"Artix-7"}}, {"ARM", {"CoreSight"}}});
    append_record(b, {.key = "m0", .name = "M0", .m = 0});
    append_record(b, {.key = "m3", .name = "M3", .m = 3});
    append_record(b, {.key = "f0", .name = "F0", .f = 0});
    append_record(b, {.key = "f2", .name = "F2", .m = 2, .f = 2});
    append_record(b, {.key = "ok", .name = "OK", .m = 2, .f = 1});
    append_record(b, {.key = "tail", .name = "TAIL"});
    b.data.pop_back();
    Db db = load(b);
    List all(bix_find_idcode(db.get(), 0, 0, nullptr));
    EXPECT_EQ(names(all.get()), (std::vector<std::string>{"OK"}));
}

TEST_F(BixIndex, HeaderTextsAreCutAt999Bytes) {
    Bytes b;
    b.raw("BIX").u32(kBixVersion).u8(1);
    // 999 bytes fill the first text; "Xilinx" then becomes the name and "info" the third text.
    b.raw(std::string(999, 'a')).text("Xilinx").text("info").u8(1).text("Artix-7");
    append_record(b, {.key = "k", .name = "XC7A35T"});
    Db db = load(b);
    ASSERT_EQ(db->manufacturers.size(), 1u);
    EXPECT_EQ(db->manufacturers[0].text1, std::string(999, 'a'));
    EXPECT_EQ(db->manufacturers[0].name + "/" + db->manufacturers[0].text3, "Xilinx/info");
    List all(bix_find_idcode(db.get(), 0, 0, nullptr));
    EXPECT_EQ(names(all.get()), (std::vector<std::string>{"XC7A35T"}));
}

TEST_F(BixIndex, DamagedFilesAreRefusedOrReadSafely) {
    Db db = load(sample_index());
    Db other(bix_database_new());
    EXPECT_EQ(bix_load(other.get(), (dir_.path / "missing.bix").c_str()), 0);

    // A refused file leaves the loaded contents alone.
    Bytes magic = sample_index();
    magic.data[2] = 'Y';
    write_bytes(dir_.path / "magic.bix", magic.data);
    EXPECT_EQ(bix_load(db.get(), (dir_.path / "magic.bix").c_str()), 0);
    EXPECT_EQ(db->manufacturers.size(), 2u);
    EXPECT_EQ(log_text(), "");

    Bytes version = sample_index();
    version.data[3] = 0x02;
    write_bytes(dir_.path / "version.bix", version.data);
    EXPECT_EQ(bix_load(db.get(), (dir_.path / "version.bix").c_str()), 0);
    EXPECT_EQ(log_text(),
              "Error:デバイスデータベースのバージョンが異なるため登録済みデバイスが利用できません。");

    // Every cut of a valid file: the header part loads what it can, nothing crashes.
    const Bytes full = sample_index();
    for (size_t cut = 0; cut < full.data.size(); cut += 7) {
        Bytes part;
        part.data.assign(full.data.begin(), full.data.begin() + cut);
        write_bytes(dir_.path / "cut.bix", part.data);
        Db cut_db(bix_database_new());
        const int loaded = bix_load(cut_db.get(), (dir_.path / "cut.bix").c_str());
        EXPECT_EQ(loaded, cut >= 7 ? 1 : 0) << cut;
        List all(bix_find_idcode(cut_db.get(), 0, 0, nullptr));
        EXPECT_LE(devlist_count(all.get()), 6);
    }
}

TEST(BixIndexDeathTest, AddingBeyondTheDeclaredCountsEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Db db(bix_database_new());
    db->mfr_cnt = 1;
    DbManufacturer* mfr = bix_add_manufacturer(db.get(), "", "Xilinx", "", 1);
    ASSERT_NE(mfr, nullptr);
    ASSERT_NE(bix_add_family(mfr, "Artix-7"), nullptr);
    EXPECT_EXIT(bix_add_family(mfr, "Kintex-7"), ::testing::ExitedWithCode(1), "");
    EXPECT_EXIT(bix_add_manufacturer(db.get(), "", "ARM", "", 0), ::testing::ExitedWithCode(1),
                "");
}

}  // namespace
