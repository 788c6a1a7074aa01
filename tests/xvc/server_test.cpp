// The XVC server over real loopback sockets against the virtual board: the protocol byte for
// byte, the IDCODEs read through shift vectors on every FX3 board, and how the server keeps the
// board and itself safe from clients that misbehave, go away or stall, and from a lost cable.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <filesystem>
#include <future>
#include <mutex>

#include "cables/fx3_backend.h"
#include "sim/xilinx_fpga.h"
#include "sim/xilinx_parts.h"
#include "xvc_test_support.h"

namespace vireo::test {
namespace {

class XvcServer : public ::testing::Test {
  protected:
    void SetUp() override { board_ = use_virtual_board("kb2203"); }
    void TearDown() override {
        if (server_) server_->server->stop();
        fx3_set_backend_factory({});
        use_virtual_board("");
    }
    TestServer& start(std::chrono::milliseconds read_timeout = 5000ms,
                      const std::function<void(xvc::XvcOptions&)>& tune = {}) {
        server_ = std::make_unique<TestServer>(read_timeout, tune);
        EXPECT_TRUE(server_->server->start());
        return *server_;
    }
    // A client the server has accepted and given the board.
    std::unique_ptr<Client> connect(size_t nth = 1) {
        auto c = std::make_unique<Client>(server_->port());
        EXPECT_TRUE(c->connected());
        EXPECT_TRUE(server_->status.wait_for("Connected from 127.0.0.1", nth))
            << server_->status.joined();
        return c;
    }
    std::vector<uint32_t> read_idcodes(Client& c, size_t devices) {
        const BitVector walk = idcode_walk(devices);
        if (!c.send(walk.command())) return {};
        const auto tdo = c.receive(walk.reply_bytes());
        if (!tdo) return {};
        return idcodes_in(*tdo, devices);
    }

    std::shared_ptr<sim::VirtualBoard> board_;
    std::unique_ptr<TestServer> server_;
};

uint32_t part_idcode(const char* name) {
    return sim::find_xilinx_part(name)->idcode;
}

// --- failure paths ---

TEST_F(XvcServer, BitCountsPastTheBufferCloseTheConnectionAsBufferSizeExceeded) {
    TestServer& s = start();
    for (const uint32_t bits : {8193u, 0xFFFFFFFFu, 0xFFFFFFF9u}) {
        auto c = connect(s.status.count("Connected from") + 1);
        // Only the header: a server that took the count as small would wait for, or shift, data.
        ASSERT_TRUE(c->send(shift_command(bits, {}, {})));
        EXPECT_TRUE(c->closed_by_server()) << bits;
    }
    EXPECT_TRUE(s.err.wait_for("buffer size exceeded\n", 3)) << s.err.joined();
    EXPECT_TRUE(s.status.wait_for("connection closed\n", 3));
}

TEST_F(XvcServer, MalformedInputClosesThatConnectionOnly) {
    TestServer& s = start();
    {
        auto c = connect(1);
        ASSERT_TRUE(c->send("xx"));
        EXPECT_TRUE(c->closed_by_server());
        EXPECT_TRUE(s.err.wait_for("invalid cmd 'xx'\n"));
    }
    // A client that goes away after every byte position of each command.
    const std::vector<std::vector<uint8_t>> commands = {
        {'g', 'e', 't', 'i', 'n', 'f', 'o', ':'},
        {'s', 'e', 't', 't', 'c', 'k', ':', 0x10, 0x27, 0, 0},
        idcode_walk(1).command()};
    size_t closed = 1;
    for (const auto& command : commands) {
        for (size_t cut = 0; cut < command.size(); ++cut) {
            auto c = connect(++closed);
            ASSERT_TRUE(c->send(std::vector<uint8_t>(command.begin(), command.begin() + cut)));
            c->close();
            ASSERT_TRUE(s.status.wait_for("connection closed\n", closed)) << cut;
        }
    }
    EXPECT_GE(s.err.count("reading length failed\n"), 1u);
    EXPECT_GE(s.err.count("reading data failed\n"), 1u);
    // The server still serves, and the TAP still answers.
    auto c = connect(closed + 1);
    EXPECT_EQ(read_idcodes(*c, 1)[0] & 0x0FFFFFFF, part_idcode("XC7A100T"));
}

TEST_F(XvcServer, CableThatCannotBeOpenedClosesTheNewConnectionAndTheServerListensOn) {
    use_virtual_board("kb2201");  // a USB 2.0 board: no FX3 device to open
    TestServer& s = start();
    {
        Client c(s.port());
        ASSERT_TRUE(c.connected());
        EXPECT_TRUE(c.closed_by_server());
        EXPECT_TRUE(s.status.wait_for("KeenProbe open failed"));
        EXPECT_EQ(s.status.count("ノーヴェルSuperKeenProbeが見つかりません\n"), 1u);
        EXPECT_EQ(s.status.count("Connected from"), 0u);
    }
    board_ = use_virtual_board("lumenk");
    auto c = connect(1);
    EXPECT_EQ(read_idcodes(*c, 1)[0] & 0x0FFFFFFF, part_idcode("XC7K160T"));
}

// The server's listening socket in this process, found by its port among the open files.
int listening_socket(uint16_t port) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::atoi(entry.path().filename().c_str());
        sockaddr_in address{};
        socklen_t length = sizeof address;
        int listening = 0;
        socklen_t size = sizeof listening;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
            address.sin_family == AF_INET && ntohs(address.sin_port) == port &&
            ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening)
            return fd;
    }
    return -1;
}

TEST_F(XvcServer, AFailedListeningSocketEndsOnlyTheListening) {
    TestServer& s = start();
    auto c = connect(1);
    const int listener = listening_socket(s.port());
    ASSERT_GE(listener, 0);
    ASSERT_EQ(::shutdown(listener, SHUT_RDWR), 0);  // poll reports it hung up
    EXPECT_TRUE(s.status.wait_for("Connection aborted")) << s.status.joined();
    // The client being served goes on; the server runs until it is stopped.
    EXPECT_EQ(read_idcodes(*c, 1)[0] & 0x0FFFFFFF, part_idcode("XC7A100T"));
    EXPECT_TRUE(s.server->running());
    EXPECT_EQ(s.status.count("XVC Server terminated"), 0u);
    s.server->stop();
    EXPECT_EQ(s.status.all().back(), "XVC Server terminated");
}

TEST_F(XvcServer, SecondClientIsClosedUntoldAndTheServedOneGoesOn) {
    TestServer& s = start();
    auto first = connect(1);
    ASSERT_TRUE(first->send("getinfo:"));
    ASSERT_TRUE(first->receive(20));
    // Half a command of the first client is in flight while the second knocks.
    const BitVector walk = idcode_walk(1);
    const std::vector<uint8_t> shift = walk.command();
    ASSERT_TRUE(first->send(std::vector<uint8_t>(shift.begin(), shift.begin() + 12)));
    Client second(s.port());
    ASSERT_TRUE(second.connected());
    EXPECT_TRUE(second.closed_by_server());
    EXPECT_TRUE(s.status.wait_for("refused: the cable is in use by 127.0.0.1"));
    ASSERT_TRUE(first->send(std::vector<uint8_t>(shift.begin() + 12, shift.end())));
    const auto tdo = first->receive(walk.reply_bytes());
    ASSERT_TRUE(tdo);
    EXPECT_EQ(idcodes_in(*tdo, 1)[0] & 0x0FFFFFFF, part_idcode("XC7A100T"));
    EXPECT_EQ(s.status.count("connection closed\n"), 0u);
}

TEST_F(XvcServer, ClientStallingInACommandIsTimedOutAndReleasesTheCable) {
    TestServer& s = start(300ms);
    auto staller = connect(1);
    ASSERT_TRUE(staller->send(std::vector<uint8_t>{'s', 'h', 'i', 'f', 't', ':', 8, 0}));
    EXPECT_TRUE(staller->closed_by_server());
    EXPECT_TRUE(s.status.wait_for("Connection timed out"));
    EXPECT_TRUE(s.status.wait_for("connection closed\n"));
    // An idle client (between commands) is not timed out; the next one gets the board.
    auto next = connect(2);
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(read_idcodes(*next, 1)[0] & 0x0FFFFFFF, part_idcode("XC7A100T"));
}

TEST_F(XvcServer, StopEndsTheServerWhileIdleAndWhileAClientStalls) {
    {
        TestServer& s = start();
        auto stopped = std::async(std::launch::async, [&] { s.server->stop(); });
        ASSERT_EQ(stopped.wait_for(5s), std::future_status::ready);
        EXPECT_EQ(s.status.all().back(), "XVC Server terminated");
        EXPECT_FALSE(s.server->running());
    }
    TestServer& s = start(60000ms);
    auto staller = connect(1);
    ASSERT_TRUE(staller->send(std::vector<uint8_t>{'s', 'h', 'i', 'f', 't', ':', 0, 1, 0, 0, 1}));
    std::this_thread::sleep_for(100ms);
    auto stopped = std::async(std::launch::async, [&] { s.server->stop(); });
    ASSERT_EQ(stopped.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(s.status.all().back(), "XVC Server terminated");
    EXPECT_TRUE(staller->closed_by_server());
    // The board was released: another user of the process can open it.
    xvc::XvcReports quiet{{}, [](const std::string&) {}, [](const std::string&) {}};
    xvc::XvcCable cable(quiet);
    EXPECT_TRUE(cable.open());
}

TEST_F(XvcServer, PeersOutsideTheAllowListAreRefusedBeforeTheBoardIsOpened) {
    TestServer& s = start(5000ms, [](xvc::XvcOptions& o) { o.allow = {"127.0.0.2"}; });
    EXPECT_TRUE(s.status.wait_for("Clients are let in only from 127.0.0.2"));
    {
        Client stranger(s.port());  // from 127.0.0.1
        ASSERT_TRUE(stranger.connected());
        EXPECT_TRUE(stranger.closed_by_server());
        EXPECT_TRUE(s.status.wait_for("Connection from 127.0.0.1 refused: not an allowed address"));
    }
    EXPECT_EQ(s.out.count("を発見しました"), 0u) << "the board was opened for a stranger";
    Client friend_(s.port(), "127.0.0.2");
    ASSERT_TRUE(friend_.connected());
    EXPECT_TRUE(s.status.wait_for("Connected from 127.0.0.2"));
    EXPECT_EQ(read_idcodes(friend_, 1)[0] & 0x0FFFFFFF, part_idcode("XC7A100T"));
    // An entry that is not a network never starts a server that would let everyone in.
    TestServer bad(5000ms, [](xvc::XvcOptions& o) { o.allow = {"127.0.0.2", "10.0.0.0/33"}; });
    EXPECT_FALSE(bad.server->start());
    EXPECT_TRUE(bad.err.wait_for("10.0.0.0/33"));
}

TEST_F(XvcServer, ClientIdleBetweenCommandsIsDisconnectedAndFreesTheBoard) {
    TestServer& s = start(5000ms, [](xvc::XvcOptions& o) { o.idle_timeout = 300ms; });
    auto idle = connect(1);
    ASSERT_TRUE(idle->send("getinfo:"));
    ASSERT_TRUE(idle->receive(20));
    EXPECT_TRUE(idle->closed_by_server());
    EXPECT_TRUE(s.status.wait_for("Connection from 127.0.0.1 idle for 300 ms: closed"));
    auto next = connect(2);
    EXPECT_EQ(read_idcodes(*next, 1)[0] & 0x0FFFFFFF, part_idcode("XC7A100T"));
}

TEST_F(XvcServer, ClientThatClosesAndReconnectsAtOnceIsServedEveryTime) {
    TestServer& s = start();
    for (size_t round = 1; round <= 20; ++round) {
        Client c(s.port());
        ASSERT_TRUE(c.connected());
        ASSERT_EQ(read_idcodes(c, 1).size(), 1u) << "round " << round << s.status.joined();
    }
    EXPECT_EQ(s.status.count("refused"), 0u) << s.status.joined();
}

TEST_F(XvcServer, StartUpSaysWhoMayConnectAndWhetherABoardCanServe) {
    {
        // An allow list that holds every address is no limit.
        TestServer open(5000ms, [](xvc::XvcOptions& o) {
            o.address = "0.0.0.0";
            o.allow = {"10.0.0.0/8", "0.0.0.0/0"};
        });
        ASSERT_TRUE(open.server->start());
        EXPECT_TRUE(open.status.wait_for("Warning: any host that reaches port"));
        open.server->stop();
        EXPECT_EQ(open.status.count("No FX3 board"), 0u);
    }
    use_virtual_board("kb2201");
    TestServer& local = start();
    EXPECT_TRUE(local.status.wait_for("No FX3 board is plugged in"));
    EXPECT_EQ(local.status.count("Warning"), 0u);
}

TEST_F(XvcServer, CableLostMidSessionIsReportedAndTheServerKeepsListening) {
    TestServer& s = start();
    {
        auto c = connect(1);
        ASSERT_EQ(read_idcodes(*c, 1).size(), 1u);
        {
            std::lock_guard lock(board_->mutex());
            board_->unplug();
        }
        ASSERT_TRUE(c->send(idcode_walk(1).command()));
        EXPECT_TRUE(c->closed_by_server());  // no stale or zero bytes as TDO
        EXPECT_TRUE(s.status.wait_for("KeenProbe lost"));
        EXPECT_TRUE(s.status.wait_for("connection closed\n"));
    }
    board_ = use_virtual_board("kb2204");  // plugged in again (another board)
    auto c = connect(2);
    EXPECT_EQ(read_idcodes(*c, 1)[0] & 0x0FFFFFFF, part_idcode("XC7A200T"));
}

// The virtual firmware, with its TDO replies cut short by one byte.
class ShortReplies : public Fx3Backend {
  public:
    explicit ShortReplies(std::unique_ptr<Fx3Backend> inner) : inner_(std::move(inner)) {}
    bool open(int index, uint16_t* vid, uint16_t* pid, std::string* text) override {
        return inner_->open(index, vid, pid, text);
    }
    int write(const uint8_t* data, int length) override {
        shift_ = length > 2 && data[2] == 'x';
        return inner_->write(data, length);
    }
    int read(uint8_t* data, int max) override {
        const int n = inner_->read(data, max);
        return shift_ && n > 1 ? n - 1 : n;
    }
    bool download(const std::vector<uint8_t>& image, std::string* error) override {
        return inner_->download(image, error);
    }

  private:
    std::unique_ptr<Fx3Backend> inner_;
    bool shift_ = false;
};

TEST_F(XvcServer, ShortTdoReplyClosesTheConnectionInsteadOfSendingStaleBytes) {
    fx3_set_backend_factory(
        [board = board_] { return std::make_unique<ShortReplies>(fx3_virtual_backend(board)); });
    TestServer& s = start();
    auto c = connect(1);
    ASSERT_TRUE(c->send(idcode_walk(1).command()));
    EXPECT_TRUE(c->closed_by_server());
    EXPECT_TRUE(s.status.wait_for("KeenProbe answered short"));
}

// --- the protocol ---

TEST_F(XvcServer, GetinfoAndSettckAreAnsweredByteForByte) {
    TestServer& s = start();
    auto c = connect(1);
    ASSERT_TRUE(c->send("getinfo:"));
    const auto info = c->receive(20);
    ASSERT_TRUE(info);
    EXPECT_EQ(std::string(info->begin(), info->end()), "xvcServer_v1.0:1024\n");
    ASSERT_TRUE(c->send(std::string("settck:\xE8\x03\x00\x00", 11)));
    const auto period = c->receive(4);
    ASSERT_TRUE(period);
    EXPECT_EQ(*period, (std::vector<uint8_t>{0xE8, 0x03, 0x00, 0x00}));
    {
        std::lock_guard lock(board_->mutex());
        EXPECT_EQ(board_->chain().tck_hz(), board_->preset().tck_hz) << "the period is not applied";
    }
    EXPECT_EQ(s.out.count("xvcServer_v1.0:1024\n\n"), 1u);
    EXPECT_EQ(s.out.count("settck 1000 ns\n\n"), 1u);
    EXPECT_EQ(s.out.count("Super Speed\n"), 1u);
    EXPECT_TRUE(s.status.all().front().starts_with("Listening port "));
}

TEST_F(XvcServer, ShiftVectorsReadTheIdcodesOfEveryFx3Board) {
    const struct {
        const char* preset;
        std::vector<uint32_t> ids;  // TDO end first
    } boards[] = {
        {"kb2203", {part_idcode("XC7A100T")}},
        {"kb2204", {part_idcode("XC7A200T")}},
        {"lumenk", {part_idcode("XC7K160T")}},
        {"zynq", {part_idcode("XC7Z020"), 0x4BA00477 & 0x0FFFFFFF}},
    };
    for (const auto& b : boards) {
        SCOPED_TRACE(b.preset);
        board_ = use_virtual_board(b.preset);
        TestServer& s = start();
        auto c = connect(1);
        std::vector<uint32_t> ids = read_idcodes(*c, b.ids.size());
        for (uint32_t& id : ids) id &= 0x0FFFFFFF;
        EXPECT_EQ(ids, b.ids);
        EXPECT_EQ(s.status.count("NORVALE-FX3-JTAG"), 1u) << "the firmware's version line";
        c.reset();
        s.server->stop();
    }
}

TEST_F(XvcServer, FullVectorOf8192BitsAndAZeroBitShiftAreServed) {
    start();
    auto c = connect(1);
    // To Shift-DR with the IDCODE register (32 bits) between TDI and TDO.
    BitVector to_shift;
    for (int i = 0; i < 5; ++i) to_shift.add(true);
    for (bool tms : {false, true, false, false}) to_shift.add(tms);
    ASSERT_TRUE(c->send(to_shift.command()));
    ASSERT_TRUE(c->receive(to_shift.reply_bytes()));
    // 8192 bits: the IDCODE, then the TDI pattern 32 bits late.
    std::vector<uint8_t> tms(1024, 0), tdi(1024);
    for (size_t i = 0; i < tdi.size(); ++i) tdi[i] = static_cast<uint8_t>(i * 37 + 11);
    ASSERT_TRUE(c->send(shift_command(8192, tms, tdi)));
    const auto tdo = c->receive(1024);
    ASSERT_TRUE(tdo);
    uint32_t id = 0;
    for (size_t b = 0; b < 32; ++b) id |= static_cast<uint32_t>(bit(*tdo, b)) << b;
    EXPECT_EQ(id & 0x0FFFFFFF, part_idcode("XC7A100T"));
    for (size_t i = 32; i < 8192; ++i) ASSERT_EQ(bit(*tdo, i), bit(tdi, i - 32)) << i;
    // 0 bits: no TDO byte; the next command's reply comes first.
    ASSERT_TRUE(c->send(shift_command(0, {}, {})));
    ASSERT_TRUE(c->send("getinfo:"));
    const auto info = c->receive(20);
    ASSERT_TRUE(info);
    EXPECT_EQ((*info)[0], 'x');
}

}  // namespace
}  // namespace vireo::test
