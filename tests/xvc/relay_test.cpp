// The test relay between a client and the XVC server on the virtual board: the vector limit it
// advertises and holds clients to, the connection it drops, and replies it delays while keeping
// them in order with the ones it gives itself.
#include <gtest/gtest.h>

#include "sim/xilinx_parts.h"
#include "support/xvc_relay.h"
#include "xvc_test_support.h"

namespace vireo::test {
namespace {

class XvcRelayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        board_ = use_virtual_board("kb2203");
        server_ = std::make_unique<TestServer>();
        ASSERT_TRUE(server_->server->start());
    }
    void TearDown() override {
        relay_.reset();
        server_->server->stop();
        use_virtual_board("");
    }
    XvcRelay& relay(RelayOptions options) {
        options.upstream_port = server_->port();
        relay_ = std::make_unique<XvcRelay>(options);
        EXPECT_TRUE(relay_->start());
        return *relay_;
    }
    static std::string text(const std::optional<std::vector<uint8_t>>& bytes) {
        return bytes ? std::string(bytes->begin(), bytes->end()) : "(nothing)";
    }
    static uint32_t xc7a100t() { return sim::find_xilinx_part("XC7A100T")->idcode; }

    std::shared_ptr<sim::VirtualBoard> board_;
    std::unique_ptr<TestServer> server_;
    std::unique_ptr<XvcRelay> relay_;
};

TEST_F(XvcRelayTest, ShiftOverTheAdvertisedLimitClosesBothSidesBeforeTheServerSeesIt) {
    XvcRelay& r = relay({.advertised_limit = 64});
    {
        Client c(r.port());
        ASSERT_TRUE(c.send("getinfo:"));
        EXPECT_EQ(text(c.receive(18)), "xvcServer_v1.0:64\n");
        const BitVector walk = idcode_walk(1);
        ASSERT_TRUE(c.send(walk.command()));
        const auto tdo = c.receive(walk.reply_bytes());
        ASSERT_TRUE(tdo);
        EXPECT_EQ(idcodes_in(*tdo, 1)[0] & 0x0FFFFFFF, xc7a100t());
        // 256 bits: TMS and TDI together exactly at the limit.
        const std::vector<uint8_t> zeros(32, 0);
        ASSERT_TRUE(c.send(shift_command(256, zeros, zeros)));
        EXPECT_TRUE(c.receive(32));
        // One bit more; only the header, which the relay must judge alone.
        ASSERT_TRUE(c.send(shift_command(257, {}, {})));
        EXPECT_TRUE(c.closed_by_server());
    }
    EXPECT_TRUE(server_->status.wait_for("connection closed\n"));
    // Between commands for the server: a forwarded header would have been "reading data failed".
    EXPECT_TRUE(server_->err.all().empty()) << server_->err.joined();
    EXPECT_EQ(server_->out.count("xvcServer"), 0u);  // getinfo was the relay's
    EXPECT_EQ(r.violations(), 1u);
    EXPECT_EQ(r.shifts(), 2u);
    EXPECT_EQ(r.largest_vector_bytes(), 33u);

    // A stream that is not XVC is a violation too.
    Client bad(r.port());
    ASSERT_TRUE(bad.send("getinfx"));
    EXPECT_TRUE(bad.closed_by_server());
    EXPECT_TRUE(server_->status.wait_for("connection closed\n", 2));
    EXPECT_EQ(r.violations(), 2u);
}

TEST_F(XvcRelayTest, DropResetsTheFirstConnectionInsideACommandAndOnlyThatOne) {
    const BitVector walk = idcode_walk(1);  // 43 bits: 10 header bytes and 2 x 6 vector bytes
    XvcRelay& r = relay({.drop_after_bytes = 8 + 12});
    {
        Client c(r.port());
        ASSERT_TRUE(c.send("getinfo:"));
        EXPECT_EQ(text(c.receive(20)), "xvcServer_v1.0:1024\n");
        ASSERT_TRUE(c.send(walk.command()));
        EXPECT_FALSE(c.receive(walk.reply_bytes()));
        // Reset, not stalled: the connection is gone, so sending fails at once.
        EXPECT_FALSE(c.send("getinfo:"));
    }
    EXPECT_TRUE(r.dropped());
    EXPECT_TRUE(server_->status.wait_for("connection closed\n"));
    EXPECT_EQ(server_->err.count("reading data failed\n"), 1u) << server_->err.joined();

    Client again(r.port());
    ASSERT_TRUE(again.send(walk.command()));
    const auto tdo = again.receive(walk.reply_bytes());
    ASSERT_TRUE(tdo);
    EXPECT_EQ(idcodes_in(*tdo, 1)[0] & 0x0FFFFFFF, xc7a100t());
    EXPECT_EQ(r.connections(), 2u);
}

TEST_F(XvcRelayTest, DelayedPipelinedRepliesArriveInOrderWithTheRelaysOwn) {
    XvcRelay& r = relay({.advertised_limit = 64, .delay = std::chrono::milliseconds(20)});
    Client c(r.port());
    ASSERT_TRUE(c.connected());
    const BitVector walk = idcode_walk(1);
    const std::vector<uint8_t> settck = {'s', 'e', 't', 't', 'c', 'k', ':', 0x10, 0x27, 0, 0};
    std::vector<uint8_t> batch;
    for (int i = 0; i < 10; ++i) {
        const std::vector<uint8_t> command =
            i % 3 == 0   ? std::vector<uint8_t>{'g', 'e', 't', 'i', 'n', 'f', 'o', ':'}
            : i % 3 == 1 ? walk.command()
                         : settck;
        batch.insert(batch.end(), command.begin(), command.end());
    }
    // Back to back in pieces of 7 bytes, so that commands reach the relay cut anywhere.
    for (size_t at = 0; at < batch.size(); at += 7) {
        const auto end =
            batch.begin() + static_cast<std::ptrdiff_t>(std::min(at + 7, batch.size()));
        ASSERT_TRUE(
            c.send(std::vector<uint8_t>(batch.begin() + static_cast<std::ptrdiff_t>(at), end)));
    }
    for (int i = 0; i < 10; ++i) {
        if (i % 3 == 0) {
            EXPECT_EQ(text(c.receive(18)), "xvcServer_v1.0:64\n") << i;
        } else if (i % 3 == 1) {
            const auto tdo = c.receive(walk.reply_bytes());
            ASSERT_TRUE(tdo) << i;
            EXPECT_EQ(idcodes_in(*tdo, 1)[0] & 0x0FFFFFFF, xc7a100t()) << i;
        } else {
            EXPECT_EQ(c.receive(4), std::vector<uint8_t>(settck.begin() + 7, settck.end())) << i;
        }
    }
    EXPECT_EQ(r.shifts(), 3u);
    EXPECT_EQ(r.violations(), 0u);
}

}  // namespace
}  // namespace vireo::test
