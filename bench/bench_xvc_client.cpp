// Configuring kb2203's XC7A100T from the example bitstream as a user waits for it: wall time of
// the programs run as child processes. `vireo --xvc` goes through a relay that delays every reply
// by the benchmark's argument (ms of round trip) in front of our XVC server on the virtual board;
// the same `vireo program` on the local virtual cable is the baseline; openFPGALoader is the peer
// XVC client through the same relay and server. Counter: shift commands per configuration.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "support/use_virtual_board.h"
#include "support/xvc_relay.h"
#include "xvc/Xvcserver.h"

namespace {

namespace fs = std::filesystem;

const std::string kBin = BENCH_BIN_DIR;
const std::string kBit = kBin + "/examples/example_xc7a100t.bit";
const char kPeer[] = "/usr/bin/openFPGALoader";

const vireo::xvc::XvcReports kQuiet{[](const std::string&) {}, [](const std::string&) {},
                                    [](const std::string&) {}};

// A directory of its own for the child's HOME, cache and log.
struct Scratch {
    Scratch()
        : dir(fs::temp_directory_path() / ("vireo_bench_xvc_client_" + std::to_string(getpid()))) {
        fs::create_directories(dir);
    }
    ~Scratch() { fs::remove_all(dir); }
    // `program args` in a clean environment, output to the log: its exit status (-1 when it did
    // not exit, e.g. killed after ten minutes).
    int run(const std::string& program, const std::string& args) const {
        const std::string d = dir.string();
        const std::string command = "cd '" + d + "' && env -i PATH=/usr/bin:/bin HOME='" + d +
                                    "' XDG_CACHE_HOME='" + d + "' timeout -s KILL 600 '" + program +
                                    "' " + args + " >log 2>&1 </dev/null";
        const int status = std::system(command.c_str());
        return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // The end of the log, for the error message.
    std::string tail() const {
        std::ifstream in(dir / "log");
        const std::string log{std::istreambuf_iterator<char>(in), {}};
        return log.substr(log.size() > 300 ? log.size() - 300 : 0);
    }
    fs::path dir;
};

// The virtual board, our server on it and the relay in front of the server.
class Remote {
  public:
    explicit Remote(std::chrono::milliseconds delay)
        : board_(vireo::test::use_virtual_board("kb2203")) {
        vireo::xvc::XvcOptions options;
        options.address = "127.0.0.1";
        options.port = 0;
        server_ = std::make_unique<vireo::xvc::TXvc>(options, nullptr, kQuiet);
        if (!board_ || !server_->start()) return;
        relay_ = std::make_unique<vireo::test::XvcRelay>(
            vireo::test::RelayOptions{server_->port(), 0, delay, 0});
        if (!relay_->start()) relay_.reset();
    }
    ~Remote() {
        relay_.reset();
        server_->stop();
        vireo::test::use_virtual_board("");
    }
    bool ok() const { return relay_ != nullptr; }
    uint16_t port() const { return relay_->port(); }
    size_t shifts() const { return relay_->shifts(); }

  private:
    std::shared_ptr<vireo::sim::VirtualBoard> board_;
    std::unique_ptr<vireo::xvc::TXvc> server_;
    std::unique_ptr<vireo::test::XvcRelay> relay_;
};

// Runs `program args` once per iteration through a relay of state.range(0) ms.
void configure_remote(benchmark::State& state, const std::string& program, const std::string& args,
                      const char* name) {
    const Scratch scratch;
    const Remote remote{std::chrono::milliseconds(state.range(0))};
    if (!remote.ok()) {
        state.SkipWithError("no server or relay on loopback");
        return;
    }
    const std::string at = std::to_string(remote.port());
    const std::string line = std::string(args).replace(args.find("PORT"), 4, at);
    for (auto _ : state) {
        if (const int rc = scratch.run(program, line); rc != 0) {
            state.SkipWithError(
                (std::string(name) + " exited with " + std::to_string(rc) + ": " + scratch.tail())
                    .c_str());
            return;
        }
    }
    state.counters["shifts"] =
        static_cast<double>(remote.shifts()) / static_cast<double>(state.iterations());
}

void BM_XvcClientConfigure(benchmark::State& state) {
    configure_remote(state, kBin + "/vireo", "--xvc 127.0.0.1:PORT program '" + kBit + "'",
                     "vireo --xvc");
}

void BM_XvcPeerConfigure(benchmark::State& state) {
    if (::access(kPeer, X_OK) != 0) {
        state.SkipWithError("openFPGALoader is not installed (/usr/bin/openFPGALoader)");
        return;
    }
    configure_remote(state, kPeer,
                     "-c xvc-client --ip 127.0.0.1 --port PORT --bitstream '" + kBit + "'",
                     "openFPGALoader");
}

void BM_XvcClientLocal(benchmark::State& state) {
    const Scratch scratch;
    for (auto _ : state) {
        const std::string sim = "kb2203,state=" + (scratch.dir / "board").string();
        if (const int rc =
                scratch.run(kBin + "/vireo", "--sim '" + sim + "' program '" + kBit + "'");
            rc != 0) {
            state.SkipWithError(
                ("vireo --sim exited with " + std::to_string(rc) + ": " + scratch.tail()).c_str());
            return;
        }
    }
}

BENCHMARK(BM_XvcClientConfigure)
    ->Name("XvcClientConfigure")
    ->Arg(0)
    ->Arg(1)
    ->Arg(10)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XvcClientLocal)
    ->Name("XvcClientLocal")
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
// One run each: openFPGALoader waits for each of its 7500-odd replies, over a minute at 10 ms.
BENCHMARK(BM_XvcPeerConfigure)
    ->Name("XvcPeerConfigure")
    ->Arg(0)
    ->Arg(1)
    ->Arg(10)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
