// A virtual board: the chain of models behind one board preset, its USB link (transfer counting,
// latency, unplug) and the boot-loader download. A front end builds one from its --sim text and
// hands it to the USB back-ends (cables/usb_virtual.h), which share it with every device they
// open; it lives as long as any of them, so the FPGA keeps its configuration between cable opens
// as it does on hardware.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "sim/sim_config.h"
#include "sim/tap_chain.h"

namespace vireo::sim {

class StateFolder;

// What crossed the virtual USB link, for benchmarks and tests.
struct UsbCounters {
    uint64_t transfers = 0;
    uint64_t bytes_out = 0;
    uint64_t bytes_in = 0;
    uint64_t model_cpu_ns = 0;  // host CPU time the models spent (ModelWork)
};

class VirtualBoard {
  public:
    explicit VirtualBoard(SimConfig config);
    ~VirtualBoard();
    VirtualBoard(const VirtualBoard&) = delete;
    VirtualBoard& operator=(const VirtualBoard&) = delete;

    // Makes this board the one kept in the state folder (config().state_dir): what a previous
    // process left there replaces the fresh board (flash contents, the running design while the
    // board stayed powered, the FX3 firmware), and save_state() (also run when the board is
    // destroyed) writes it back. A folder with nothing saved is a fresh board, just powered up.
    // The board holds the folder until it is destroyed; another process's board on the same
    // folder waits for it. False, with the reason in *error, when the folder cannot be used:
    // locked, a state file unreadable or malformed, or the saved flash of this board's part not
    // its size (a flash saved for another part is replaced by a blank one).
    // on_wait runs once when another process holds the folder, before the wait for it.
    bool attach_state(std::string* error = nullptr, const std::function<void()>& on_wait = {});
    // False when the state could not be written; *error then says why and that this run's flash
    // and design are lost, in a sentence for the user.
    bool save_state(std::string* error = nullptr);

    const SimConfig& config() const { return config_; }
    // The preset the board currently poses as (a boot loader becomes its board after download).
    const BoardPreset& preset() const { return *preset_; }
    TapChain& chain() { return *chain_; }

    // Counts one USB transfer of the given sizes that the host waits for (a read, or a write
    // sent alone) and adds a full round trip of the link to modeled time. False once the board
    // has been unplugged (unplug=N: the transfers after the Nth fail).
    bool transfer(uint64_t bytes_out, uint64_t bytes_in);
    // An OUT transfer the host queues without waiting, with up to `window` such transfers in
    // flight. It reaches the device once the host could submit it (a slot of the window free)
    // and the bus has carried it; the device idles until then. Call queued_transfer_done() once
    // the device has executed it. A transfer the host waits for ends the pipeline.
    bool queue_transfer(uint64_t bytes_out, size_t window);
    void queued_transfer_done();
    // An IN transfer carrying a reply the device had ready at ready_ns (modeled time). It
    // arrives a round trip after both the host's request and the reply, so work the host queued
    // before asking runs on meanwhile, as it does on the bus.
    bool reply_transfer(uint64_t bytes_in, uint64_t ready_ns);
    // IN transfers the host submits at once, one reply each (bytes_in[i], complete on the device
    // at ready_ns[i]). The controller serves them back to back: each takes the bus for its
    // packets once its reply is ready and the bus is free, and the host learns of the last a
    // round trip later, one latency for the group. Each counts as a transfer; false once the
    // board is unplugged, also part-way through the group.
    bool reply_transfers(std::span<const uint64_t> bytes_in, std::span<const uint64_t> ready_ns);
    bool unplugged() const { return unplugged_; }
    void unplug() { unplugged_ = true; }
    const UsbCounters& counters() const { return counters_; }
    void reset_counters() { counters_ = {}; }

    // After a firmware download the boot loader re-enumerates as the board it becomes.
    void become_board();

    // Counts the time the calling thread spends while it lives as the models' own CPU time
    // (firmware, chain), so that benchmarks tell the programmer's cost apart from the board's.
    class ModelWork {
      public:
        explicit ModelWork(VirtualBoard& board);
        ~ModelWork();
        ModelWork(const ModelWork&) = delete;
        ModelWork& operator=(const ModelWork&) = delete;

      private:
        VirtualBoard& board_;
        uint64_t start_ns_;
    };

    // Serialises the GUI thread and the XVC server thread on the one board.
    std::mutex& mutex() { return mutex_; }

    // A board lent to a network client lives in the host's time as a real one does: from now on,
    // each transfer first lets modeled time catch up with the host time passed since. A client
    // that waits by sleeping (an XVC client) then sees the flash and the FPGA move on meanwhile.
    void follow_host_clock();

  private:
    bool count_transfer(uint64_t bytes_out, uint64_t bytes_in);
    bool superspeed() const;

    SimConfig config_;
    const BoardPreset* preset_;
    std::unique_ptr<TapChain> chain_;
    UsbCounters counters_;
    // The pipelined link: when the host may submit again, when the bus is free, and when each
    // transfer still counted in the window was executed.
    uint64_t host_free_ns_ = 0, bus_free_ns_ = 0;
    std::deque<uint64_t> in_flight_done_ns_;
    bool unplugged_ = false;
    bool follow_host_ = false;
    uint64_t host_base_ns_ = 0, model_base_ns_ = 0;  // when following began
    std::unique_ptr<StateFolder> state_;             // claimed while the board runs
    uint64_t flash_changes_saved_ = 0;  // the flash's changes() when last saved or loaded
    std::mutex mutex_;
};

std::shared_ptr<VirtualBoard> make_virtual_board(SimConfig config);

// A board from `text` in the VIREO_SIM syntax; null when the text names none (an empty text
// too), with the one-line reason in *error when given ("VIREO_SIM: ..."). Nothing here reads
// the environment variable itself: the front end decides where the text comes from.
std::shared_ptr<VirtualBoard> make_virtual_board(std::string_view text,
                                                 std::string* error = nullptr);

}  // namespace vireo::sim
