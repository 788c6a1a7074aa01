// The XVC server over loopback on the virtual FX3 boards: round-trip time per shift for small
// (32-bit) and full (8192-bit) vectors, against the same "x" vector shift sent straight to the
// FX3 component on kb2203 (no socket: the difference is the server's overhead), and the skprb
// driver's own capture shift on the same board for the sustained throughput. Counters: TDI/TDO
// bits per second of wall-clock time, and the board's modeled hardware time per shift.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "board_figures.h"
#include "cables/cable.h"
#include "cables/usb_drivers.h"
#include "jtag/msg.h"
#include "jtag/tap.h"
#include "support/use_virtual_board.h"
#include "xvc/Xvcserver.h"

namespace {

using vireo::sim::VirtualBoard;

const vireo::xvc::XvcReports kQuiet{[](const std::string&) {}, [](const std::string&) {},
                                    [](const std::string&) {}};

int quiet(const char*, va_list) {
    return 0;
}

uint64_t model_ns(VirtualBoard& board) {
    std::lock_guard lock(board.mutex());
    return board.chain().now_ns();
}

// Vectors of `bits` bits in Shift-DR: TMS low, a TDI pattern.
struct Vectors {
    explicit Vectors(uint32_t n) : bits(n), tms((n + 7) / 8, 0), tdi((n + 7) / 8) {
        for (size_t i = 0; i < tdi.size(); ++i) tdi[i] = static_cast<uint8_t>(i * 37 + 11);
    }
    uint32_t bits;
    std::vector<uint8_t> tms, tdi;
};

// Test-Logic-Reset, then Shift-DR (9 bits).
const Vectors& to_shift_dr() {
    static Vectors v = [] {
        Vectors w(9);
        w.tms = {0x5F, 0x00};  // 1,1,1,1,1,0,1,0 then 0
        w.tdi = {0, 0};
        return w;
    }();
    return v;
}

void finish(benchmark::State& state, VirtualBoard& board, uint64_t model_start, uint32_t bits) {
    const double shifts = static_cast<double>(state.iterations());
    state.counters["bits/s"] = benchmark::Counter(shifts * bits, benchmark::Counter::kIsRate);
    state.counters["hw_us/shift"] =
        shifts ? static_cast<double>(model_ns(board) - model_start) / 1000.0 / shifts : 0;
}

bool send_all(int fd, const std::vector<uint8_t>& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool receive(int fd, std::vector<uint8_t>* bytes) {
    for (size_t done = 0; done < bytes->size();) {
        const ssize_t n = ::recv(fd, bytes->data() + done, bytes->size() - done, 0);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::vector<uint8_t> shift_command(const Vectors& v) {
    std::vector<uint8_t> c = {'s', 'h', 'i', 'f', 't', ':'};
    for (int i = 0; i < 4; ++i) c.push_back(static_cast<uint8_t>(v.bits >> (8 * i)));
    c.insert(c.end(), v.tms.begin(), v.tms.end());
    c.insert(c.end(), v.tdi.begin(), v.tdi.end());
    return c;
}

// A board mark taken under the board's lock: the server thread works on the board.
vireo::bench::BoardMark mark(VirtualBoard& board) {
    std::lock_guard lock(board.mutex());
    return vireo::bench::BoardMark(board);
}

// A server on a free loopback port, started; null when it cannot listen.
std::unique_ptr<vireo::xvc::TXvc> loopback_server() {
    vireo::xvc::XvcOptions options;
    options.address = "127.0.0.1";
    options.port = 0;
    auto server = std::make_unique<vireo::xvc::TXvc>(options, nullptr, kQuiet);
    return server->start() ? std::move(server) : nullptr;
}

void BM_XvcServerShift(benchmark::State& state, const char* preset) {
    const std::shared_ptr<VirtualBoard> board = vireo::test::use_virtual_board(preset);
    const auto server = loopback_server();
    if (!board || !server) {
        state.SkipWithError("no server");
        return;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(server->port());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<uint8_t> reply(2);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        !send_all(fd, shift_command(to_shift_dr())) || !receive(fd, &reply)) {
        state.SkipWithError("no connection");
        ::close(fd);
        return;
    }
    const Vectors v(static_cast<uint32_t>(state.range(0)));
    const std::vector<uint8_t> command = shift_command(v);
    reply.resize(v.tdi.size());
    const uint64_t model_start = model_ns(*board);
    const vireo::bench::BoardMark from = mark(*board);
    for (auto _ : state) {
        if (!send_all(fd, command) || !receive(fd, &reply)) {
            state.SkipWithError("connection lost");
            break;
        }
    }
    finish(state, *board, model_start, v.bits);
    // Per shift: the modeled time against the TCK cycles it clocked.
    vireo::bench::BoardFigures figures;
    figures.add(from, mark(*board), static_cast<double>(board->chain().tck_hz()));
    figures.report(state, static_cast<double>(state.iterations()));
    ::close(fd);
    server->stop();
}

void BM_XvcCableShift(benchmark::State& state) {
    const std::shared_ptr<VirtualBoard> board = vireo::test::use_virtual_board("kb2203");
    vireo::xvc::XvcCable cable(kQuiet);
    std::vector<uint8_t> tdo;
    if (!board || !cable.open() ||
        cable.shift(9, to_shift_dr().tms, to_shift_dr().tdi, &tdo) != vireo::xvc::XvcShift::Done) {
        state.SkipWithError("no cable");
        return;
    }
    const Vectors v(static_cast<uint32_t>(state.range(0)));
    const uint64_t model_start = model_ns(*board);
    for (auto _ : state) {
        if (cable.shift(v.bits, v.tms, v.tdi, &tdo) != vireo::xvc::XvcShift::Done) {
            state.SkipWithError("shift failed");
            break;
        }
    }
    finish(state, *board, model_start, v.bits);
}

// The driver's own capture shift of the same length (TDI and TDO through "S" commands).
void BM_SkprbCaptureShift(benchmark::State& state) {
    set_print_callback(quiet);
    cables_register_usb_drivers();
    const std::shared_ptr<VirtualBoard> board = vireo::test::use_virtual_board("kb2203");
    Cable* cable = board ? cable_new("", "skprb", "") : nullptr;
    if (!cable || cable_tap_goto(cable, TEST_LOGIC_RESET, 1) != 1 ||
        cable_tap_goto(cable, SHIFT_DR, 1) != 1) {
        state.SkipWithError("no cable");
        return;
    }
    const auto bits = static_cast<uint32_t>(state.range(0));
    std::vector<uint8_t> tdi(bits), mask(bits, 1), capture(bits);
    for (uint32_t i = 0; i < bits; ++i) tdi[i] = (i * 7 + i / 3) % 5 < 2;
    const uint64_t model_start = model_ns(*board);
    for (auto _ : state) {
        int rc = cable_shift_inout(cable, static_cast<int>(bits), tdi.data(), mask.data(), nullptr,
                                   nullptr, capture.data(), 2, 0, "", 1);
        if (rc == 1) rc = cable_tap_goto(cable, SHIFT_DR, 0);
        if (rc != 1) {
            state.SkipWithError("shift failed");
            break;
        }
    }
    finish(state, *board, model_start, bits);
    cable_free(cable);
}

// openFPGALoader as a real XVC client (Nagle on, a command's header and vectors in two writes)
// configuring kb2203's XC7A100T from a real bitstream through the server: the wall time a user
// waits. Skipped where openFPGALoader or its bitstream is not installed.
void BM_XvcPeerConfigure(benchmark::State& state) {
    const char* client = "/usr/bin/openFPGALoader";
    const char* packed = "/usr/share/openFPGALoader/spiOverJtag_xc7a100tcsg324.bit.gz";
    if (::access(client, X_OK) != 0 || ::access(packed, R_OK) != 0) {
        state.SkipWithError("openFPGALoader or its bitstream is not installed");
        return;
    }
    const std::string bit = "/tmp/vireo_bench_peer_" + std::to_string(::getpid()) + ".bit";
    if (std::system(("gzip -dc '" + std::string(packed) + "' > '" + bit + "'").c_str()) != 0) {
        state.SkipWithError("the bitstream cannot be unpacked");
        return;
    }
    const std::shared_ptr<VirtualBoard> board = vireo::test::use_virtual_board("kb2203");
    const auto server = loopback_server();
    if (!board || !server) {
        state.SkipWithError("no server");
        return;
    }
    const std::string command = std::string(client) + " -c xvc-client --ip 127.0.0.1 --port " +
                                std::to_string(server->port()) + " --bitstream '" + bit +
                                "' >/dev/null 2>&1";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("openFPGALoader failed");
            break;
        }
    }
    server->stop();
    ::unlink(bit.c_str());
}

const bool registered = [] {
    for (const char* preset : {"kb2203", "kb2204", "lumenk", "zynq"}) {
        benchmark::RegisterBenchmark((std::string("XvcShift/") + preset).c_str(), BM_XvcServerShift,
                                     preset)
            ->Arg(32)
            ->Arg(8192)
            ->UseRealTime()
            ->Unit(benchmark::kMicrosecond);
    }
    return true;
}();
BENCHMARK(BM_XvcCableShift)->Arg(32)->Arg(8192)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SkprbCaptureShift)->Arg(8192)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_XvcPeerConfigure)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace
