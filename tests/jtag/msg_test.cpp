#include "jtag/msg.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace {

std::string g_printed;
int g_print_calls = 0;

int capture_print(const char* format, va_list args) {
    ++g_print_calls;
    char buffer[256];
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    g_printed += buffer;
    return n;
}

int other_print(const char*, va_list) {
    return -7;
}

std::string answer_query(const char* key) {
    return std::string("answer:") + key;
}

TEST(MessageSink, RoutesThroughTheRegisteredCallbackAndKeepsItOnNull) {
    EXPECT_EQ(set_print_callback(capture_print), capture_print);
    g_printed.clear();
    g_print_calls = 0;
    EXPECT_EQ(msg_print("idcode=%x %s\n", 0x3631093u, "ok"), 18);
    EXPECT_EQ(g_printed, "idcode=3631093 ok\n");

    const char* empty = "";
    EXPECT_EQ(msg_print(empty), 0);
    EXPECT_EQ(msg_print(nullptr), 0);
    EXPECT_EQ(g_print_calls, 1) << "an empty format must not reach the callback";

    EXPECT_EQ(set_print_callback(nullptr), nullptr);
    EXPECT_EQ(msg_print("x"), 1) << "null must keep the previous callback";
    set_print_callback(other_print);
    EXPECT_EQ(msg_print("x"), -7);
    set_print_callback(capture_print);
}

TEST(MessageSink, QueriesAnswerEmptyWithoutHostAndTheHostsAnswerWithOne) {
    EXPECT_EQ(query_value("ddb_file_path"), "");
    set_query_callback(answer_query);
    EXPECT_EQ(query_value("overwrite"), "answer:overwrite");
    EXPECT_EQ(library_version(), 0xC199);
}

TEST(TextUtilities, BitPatternsAndHexFollowTheValueAndMaskRules) {
    EXPECT_EQ(bits_value("10X1"), 9u);
    EXPECT_EQ(bits_mask("10X1"), 13u);
    EXPECT_EQ(bits_value("XXXX01"), 1u);
    EXPECT_EQ(bits_mask("XXXX01"), 3u);
    EXPECT_EQ(bits_value(nullptr), 0u);
    EXPECT_EQ(hex_value("1g"), 16u);
    EXPECT_EQ(hex_value("0362D093"), 0x0362D093u);
    EXPECT_EQ(hex_value("ff00AA55"), 0xFF00AA55u);
    EXPECT_EQ(hex_value("0x10"), 0x010u) << "'x' counts as a zero digit";
}

TEST(TextUtilities, TrimRemovesTrailingControlsAndLeadingUnprintables) {
    char text[] = "\t \x01  XC7A100T csg324 \r\n";
    char* end = trim_text(text);
    EXPECT_STREQ(text, "XC7A100T csg324");
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(*end, '\0');
    EXPECT_EQ(end - text, 15);

    char blanks[] = " \t\r\n";
    EXPECT_EQ(trim_text(blanks), blanks);
    EXPECT_STREQ(blanks, "");
    char empty[] = "";
    EXPECT_EQ(trim_text(empty), nullptr);
    EXPECT_EQ(trim_text(nullptr), nullptr);
}

TEST(TextUtilities, ReadCstringStaysInsideItsBuffer) {
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    const char data[] = "abc\0defghijklmnop";
    std::fwrite(data, 1, sizeof data - 1, f);
    std::rewind(f);

    char buffer[8];
    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(read_cstring(buffer, sizeof buffer, f), 3);
    EXPECT_STREQ(buffer, "abc");
    // The next read fills the buffer: seven characters and the terminator, nothing beyond.
    char guarded[10];
    std::memset(guarded, 'Z', sizeof guarded);
    EXPECT_EQ(read_cstring(guarded, 8, f), 7);
    EXPECT_STREQ(guarded, "defghij");
    EXPECT_EQ(guarded[8], 'Z');
    EXPECT_EQ(read_cstring(guarded, 8, f), 6);
    EXPECT_STREQ(guarded, "klmnop");
    EXPECT_EQ(read_cstring(guarded, 8, f), 0) << "end of file gives empty text";
    EXPECT_EQ(read_cstring(guarded, 0, f), 0);
    std::fclose(f);
}

TEST(Timing, ShortWaitsLastAtLeastTheirTimeAndTheCounterIsConsistent) {
    EXPECT_GT(perf_frequency(), 0);
    const int64_t before = perf_microseconds();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(wait_us(1500), 1);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::microseconds(1500));
    EXPECT_GE(perf_microseconds() - before, 1500);
    // Waiting sleeps: 300 ms of waits in 1 ms steps leave the CPU nearly idle.
    const std::clock_t cpu = std::clock();
    for (int i = 0; i < 300; ++i) wait_us(1000);
    EXPECT_LT(std::clock() - cpu, CLOCKS_PER_SEC / 10);
}

}  // namespace
