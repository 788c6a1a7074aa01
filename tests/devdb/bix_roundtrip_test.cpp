// The database the build writes from data/devices reads back exactly as the source says.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bix_fixture.h"
#include "ddb_source.h"
#include "ddb_writer.h"
#include "sim/xilinx_parts.h"

namespace {

using namespace bixtest;

const char kSysDir[] = VIREO_BIN_DIR "/sys/";

ddbgen::Source real_source() {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(VIREO_DEVICE_SOURCE_DIR))
        if (entry.path().extension() == ".txt") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ddbgen::Source source;
    std::vector<std::string> errors;
    for (const fs::path& f : files) ddbgen::read_source(f.string(), source, errors);
    EXPECT_TRUE(errors.empty()) << errors.front();
    return source;
}

std::string sys_dir_answer(const char* key) {
    return std::strcmp(key, "ddb_file_path") == 0 ? kSysDir : "";
}

class DeviceDatabaseRoundTrip : public ::testing::Test {
protected:
    void SetUp() override {
        set_query_callback(sys_dir_answer);
        set_print_callback(collect_print);
        log_text().clear();
        ASSERT_EQ(bix_load(db_.get(), (std::string(kSysDir) + "system.bix").c_str()), 1);
    }

    const DbEntry* entry(const std::string& key) const {
        for (const DbManufacturer& m : db_->manufacturers)
            for (const DbFamily& f : m.families)
                for (const DbEntry& e : f.entries)
                    if (e.key == key) return &e;
        return nullptr;
    }

    ddbgen::Source source_ = real_source();
    Db db_{bix_database_new()};
};

TEST_F(DeviceDatabaseRoundTrip, EveryPartReadsBackAsWritten) {
    ASSERT_GE(source_.parts.size(), 25u);
    List all(bix_find_idcode(db_.get(), 0, 0, nullptr));
    EXPECT_EQ(devlist_count(all.get()), static_cast<int>(source_.parts.size()));

    for (const ddbgen::Part& part : source_.parts) {
        SCOPED_TRACE(part.where);
        const ddbgen::InstructionSet& set = source_.set_of(part);
        List found(bix_find_key(db_.get(), part.key.c_str(), nullptr));
        ASSERT_EQ(devlist_count(found.get()), 1);
        const DeviceListEntry& listed = found->entries[0];
        EXPECT_EQ(listed.manufacturer, source_.manufacturers[part.manufacturer - 1].name);
        EXPECT_EQ(listed.part_name, part.name);
        EXPECT_EQ(listed.third, source_.family_of(part).name);
        EXPECT_EQ(listed.idcode, part.idcode);
        EXPECT_EQ(listed.mask, part.mask);

        const DbEntry* e = entry(part.key);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->manufacturer, part.manufacturer);
        EXPECT_EQ(e->family, part.family);
        EXPECT_EQ(e->ir_length, set.ir_length);
        EXPECT_EQ(e->bypass_opcode, (1u << set.ir_length) - 1);

        uint8_t opaque[kBbOpaqueSize];
        Desc d(bix_read_device(db_.get(), part.key.c_str(), opaque));
        ASSERT_TRUE(d);
        EXPECT_EQ(d->name, part.name);
        EXPECT_EQ(d->package, part.package);
        EXPECT_EQ(d->idcode, part.idcode);
        EXPECT_EQ(d->idcode_mask, part.mask);
        EXPECT_EQ(d->usercode, part.usercode);
        EXPECT_EQ(d->ir_length, set.ir_length);
        EXPECT_EQ(d->ir_capture, set.capture);
        ASSERT_EQ(d->instructions.size(), set.instructions.size());
        for (size_t i = 0; i < set.instructions.size(); ++i) {
            EXPECT_EQ(d->instructions[i].name, set.instructions[i].name);
            EXPECT_EQ(d->instructions[i].opcode, set.instructions[i].opcode);
            if (d->instructions[i].name == "IDCODE") {
                EXPECT_EQ(e->idcode_opcode, bits_value(d->instructions[i].opcode.c_str()));
            }
        }
        ASSERT_EQ(d->cells.size(), static_cast<size_t>(part.bsr_len));
        for (const BsrCell& c : d->cells)
            if (c.control_cell >= 0) {
                ASSERT_LT(c.control_cell, part.bsr_len);
                EXPECT_EQ(d->cells[c.control_cell].function, CellFunction::Control);
            }
    }
    EXPECT_EQ(log_text(), "");
}

TEST_F(DeviceDatabaseRoundTrip, AgreesWithTheVirtualBoardAndTheApplicationNames) {
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
        EXPECT_EQ(d->cells.size(), static_cast<size_t>(p.bsr_len)) << p.name;
        EXPECT_EQ(d->package, p.package) << p.name;
    }
    List dap(bix_find_idcode(db_.get(), 0x4BA00477, 0x0FFFFFFF, nullptr));
    EXPECT_STREQ(devlist_name(dap.get(), 0), "ARM_DAP");
}

TEST_F(DeviceDatabaseRoundTrip, ProcessInstanceLoadsFromTheConfiguredDirectory) {
    DeviceDatabase* db = bix_database();
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(bix_database(), db);
    List found(bix_find_idcode(db, 0x03636093, 0x0FFFFFFF, nullptr));
    ASSERT_EQ(devlist_count(found.get()), 1);
    Desc d(bix_read_device(db, devlist_key(found.get(), 0), nullptr));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->cells.size(), 1214u);
}

TEST(DeviceDatabaseCompiler, RefusesBadSourceWithFileAndLineAndWritesNothing) {
    ScratchDir dir;
    const fs::path bad = dir.path / "bad.txt";
    std::ofstream(bad) << "set s ir=6 capture=XXXX01\n"
                          "  BYPASS 11111\n"                       // 2: short opcode
                          "end\n"
                          "part EARLY key=e idcode=1 mask=1 package=p bsr=1\n"  // 4: no family
                          "manufacturer M\n"
                          "family F set=nope\n"                    // 6: unknown set
                          "family G set=s\n"
                          "part P key=k idcode=XYZ mask=0FFFFFFF package=p bsr=3\n"  // 8: idcode
                          "part Q key=K idcode=1 mask=1 package=p bsr=3 color=red\n";  // 9
    const fs::path out = dir.path / "sys";
    fs::create_directories(out);
    write_bytes(out / "system.bix", {1, 2, 3});
    const std::string command = std::string(VIREO_BIN_DIR "/mkddb -o ") + out.string() + " " +
                                bad.string() + " 2>" + (dir.path / "err.txt").string();
    EXPECT_NE(std::system(command.c_str()), 0);

    std::ifstream err_in(dir.path / "err.txt");
    const std::string err((std::istreambuf_iterator<char>(err_in)), {});
    for (int line : {2, 3, 4, 6, 8, 9})
        EXPECT_NE(err.find(bad.string() + ":" + std::to_string(line) + ": "), std::string::npos)
            << line << "\n" << err;
    EXPECT_EQ(fs::file_size(out / "system.bix"), 3u);
    EXPECT_FALSE(fs::exists(out / "bb"));
}

}  // namespace
