// Helpers of the device database tests: a scratch directory, byte builders for hand-made index
// and bb files, and a message collector.
#pragma once

#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "devdb/bix.h"
#include "jtag/msg.h"
#include "support/printed.h"

namespace bixtest {

namespace fs = std::filesystem;

template <auto Free>
struct FreeWith {
    template <typename T>
    void operator()(T* p) const { Free(p); }
};
using Db = std::unique_ptr<DeviceDatabase, FreeWith<bix_database_free>>;
using List = std::unique_ptr<DeviceList, FreeWith<devlist_free>>;
using Desc = std::unique_ptr<DeviceDescription, FreeWith<devdesc_free>>;

using vireo::test::collect_print;
inline std::string& log_text() { return vireo::test::printed(); }

// A fresh directory per test, removed afterwards.
struct ScratchDir {
    fs::path path;
    ScratchDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path = fs::temp_directory_path() / ("bix_" + std::to_string(::getpid()) + "_" +
                                            info->test_suite_name() + "_" + info->name());
        fs::remove_all(path);
        fs::create_directories(path / "bb");
    }
    ~ScratchDir() { fs::remove_all(path); }
    std::string dir() const { return path.string() + "/"; }
};

inline void write_bytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Little-endian byte builder.
struct Bytes {
    std::vector<uint8_t> data;
    Bytes& u8(unsigned v) {
        data.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    Bytes& u16(unsigned v) { return u8(v).u8(v >> 8); }
    Bytes& u32(uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    Bytes& raw(const std::string& s) {
        data.insert(data.end(), s.begin(), s.end());
        return *this;
    }
    Bytes& text(const std::string& s) { return raw(s).u8(0); }
    // A fixed-size text field, NUL-padded (and cut) to `size` bytes.
    Bytes& field(std::string s, size_t size) {
        s.resize(size, '\0');
        return raw(s);
    }
    Bytes& zeros(size_t n) {
        data.insert(data.end(), n, 0);
        return *this;
    }
};

struct HeaderMfr {
    std::string name;
    std::vector<std::string> families;
};

inline Bytes index_header(const std::vector<HeaderMfr>& mfrs) {
    Bytes b;
    b.raw("BIX").u32(kBixVersion).u8(static_cast<unsigned>(mfrs.size()));
    for (const HeaderMfr& m : mfrs) {
        b.text("code").text(m.name).text("info").u8(static_cast<unsigned>(m.families.size()));
        for (const std::string& f : m.families) b.text(f);
    }
    return b;
}

struct Record {
    uint32_t idcode = 0;
    uint32_t mask = 0x0FFFFFFF;
    std::string key;
    std::string name;
    uint8_t m = 1;
    uint8_t f = 1;
    uint16_t ir = 6;
    uint32_t idcode_opcode = 0;
    uint32_t offset = 0;
    uint32_t length = 0;
    std::string third = "third";
};

inline void append_record(Bytes& b, const Record& r) {
    Bytes rec;
    rec.u32(r.idcode).u32(r.mask).u32(r.offset).u32(r.length);
    rec.field(r.key, 32).field(r.name, 32).field(r.third, 16);
    rec.u8(r.m).u8(r.f).u16(r.ir).u32(0).u32(0x3F).u32(r.idcode_opcode).zeros(16);
    bix_scramble(rec.data.data(), rec.data.size());
    b.data.insert(b.data.end(), rec.data.begin(), rec.data.end());
}

}  // namespace bixtest
