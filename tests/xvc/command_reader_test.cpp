// The XVC command reader without sockets: every command from a byte string, the bounds on the
// bit count, and streams that end at every byte position. Also the inputs fuzzing keeps in
// tests/fuzz/regressions/xvc/.
#include <gtest/gtest.h>

#include "fuzz/regression_inputs.h"
#include "fuzz/xvc_checks.h"

namespace vireo::test {
namespace {

using fuzz::BytesInput;
using xvc::XvcCommand;
using xvc::XvcRead;

std::vector<uint8_t> bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

XvcRead read_one(const std::vector<uint8_t>& stream, XvcCommand* command) {
    BytesInput input(stream);
    return xvc::xvc_read_command(input, command);
}

TEST(XvcCommandReader, BitCountsPastTheBufferAreRefusedBeforeAnyDataIsRead) {
    XvcCommand c;
    for (const uint32_t bits : {8193u, 0xFFFFFFFFu, 0xFFFFFFF9u, 0x80000000u}) {
        const std::vector<uint8_t> s = {'s',
                                        'h',
                                        'i',
                                        'f',
                                        't',
                                        ':',
                                        static_cast<uint8_t>(bits),
                                        static_cast<uint8_t>(bits >> 8),
                                        static_cast<uint8_t>(bits >> 16),
                                        static_cast<uint8_t>(bits >> 24)};
        EXPECT_EQ(read_one(s, &c), XvcRead::TooLarge) << bits;
        EXPECT_TRUE(c.tms.empty() && c.tdi.empty());
    }
    EXPECT_EQ(xvc::xvc_vector_bytes(0xFFFFFFFFu), 0x20000000u);
}

TEST(XvcCommandReader, StreamEndingAtEveryBytePositionIsNamedByWhereItEnded) {
    const std::vector<uint8_t> shift = {'s', 'h', 'i', 'f',  't',  ':',  12,
                                        0,   0,   0,   0xA1, 0x0B, 0xC2, 0x0D};
    XvcCommand c;
    for (size_t cut = 0; cut < shift.size(); ++cut) {
        const XvcRead r = read_one({shift.begin(), shift.begin() + cut}, &c);
        const XvcRead want = cut < 6    ? XvcRead::Closed
                             : cut < 10 ? XvcRead::LengthFailed
                                        : XvcRead::DataFailed;
        EXPECT_EQ(r, want) << cut;
    }
    for (const std::string& word : {std::string("getinfo:"), std::string("settck:\1\2\3\4", 11)}) {
        for (size_t cut = 0; cut < word.size(); ++cut)
            EXPECT_EQ(read_one(bytes(word.substr(0, cut)), &c), XvcRead::Closed) << word << cut;
    }
}

TEST(XvcCommandReader, UnknownCommandsAreInvalidAndShownEscaped) {
    XvcCommand c;
    EXPECT_EQ(read_one(bytes("xxyz"), &c), XvcRead::Invalid);
    EXPECT_EQ(xvc::xvc_invalid_text(c.head), "invalid cmd 'xx'\n");
    EXPECT_EQ(read_one({'s', 0, 'x'}, &c), XvcRead::Invalid);
    EXPECT_EQ(xvc::xvc_invalid_text(c.head), "invalid cmd 's'\n");
    EXPECT_EQ(read_one(bytes("GE"), &c), XvcRead::Invalid) << "command words are lower case";
    // A terminal reset from the network is shown, not sent to the operator's terminal.
    EXPECT_EQ(read_one(bytes("\x1b"
                             "c"),
                       &c),
              XvcRead::Invalid);
    EXPECT_EQ(xvc::xvc_invalid_text(c.head), "invalid cmd '\\x1bc'\n");
}

TEST(XvcCommandReader, CommandsFollowingEachOtherAreReadWithTheirOperands) {
    std::vector<uint8_t> s = bytes("getinfo:");
    for (uint8_t b : std::string("settck:\x64\x00\x00\x01", 11)) s.push_back(b);
    const std::vector<uint8_t> shift9 = {'s', 'h', 'i', 'f',  't',  ':',  9,
                                         0,   0,   0,   0x01, 0x01, 0xAA, 0x01};
    const std::vector<uint8_t> shift0 = {'s', 'h', 'i', 'f', 't', ':', 0, 0, 0, 0};
    s.insert(s.end(), shift9.begin(), shift9.end());
    s.insert(s.end(), shift0.begin(), shift0.end());
    BytesInput input(s);
    XvcCommand c;
    EXPECT_EQ(xvc::xvc_read_command(input, &c), XvcRead::GetInfo);
    EXPECT_EQ(xvc::xvc_read_command(input, &c), XvcRead::SetTck);
    EXPECT_EQ(c.period, (std::array<uint8_t, 4>{0x64, 0, 0, 1}));
    EXPECT_EQ(xvc::xvc_read_command(input, &c), XvcRead::Shift);
    EXPECT_EQ(c.bits, 9u);
    EXPECT_EQ(c.tms, (std::vector<uint8_t>{0x01, 0x01}));
    EXPECT_EQ(c.tdi, (std::vector<uint8_t>{0xAA, 0x01}));
    EXPECT_EQ(xvc::xvc_read_command(input, &c), XvcRead::Shift);
    EXPECT_EQ(c.bits, 0u);
    EXPECT_TRUE(c.tms.empty());
    EXPECT_EQ(xvc::xvc_read_command(input, &c), XvcRead::Closed);
    EXPECT_EQ(fuzz::check_xvc_reader(s.data(), s.size()), "");
}

TEST(FuzzRegressions, XvcCommandReader) {
    fuzz::check_every_regression("xvc", [](const auto& file) {
        const std::vector<uint8_t> data = fuzz::file_bytes(file);
        return fuzz::check_xvc_reader(data.data(), data.size());
    });
}

}  // namespace
}  // namespace vireo::test
