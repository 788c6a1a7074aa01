// The command logic the terminal and the window share: connect and detect (with the FX3
// firmware offer), the IDCODE check, the device DNA read, configuring the FPGA from a file and
// reading its configuration state. It holds the open chain only while a command runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "app/app_ui.h"
#include "app/command_facts.h"
#include "app/paths.h"

struct Chain;
struct Device;
struct Devopt;
struct DevAlgModule;
struct SpiRomContext;

namespace vireo::app {

enum class Target { Fpga, SpiRom };

// How a connect ended.
enum class ConnectResult {
    Connected,
    NoBoard,           // no cable or board answered
    NoDevice,          // the chain is empty, or holds three or more devices
    IllegalDevice,     // the first device is not a supported FPGA
    FirmwareDeclined,  // an FX3 without firmware was found and the user said no
    FirmwareLoaded,    // firmware written: the program should end now, the user replugs
    FirmwareFailed,    // the firmware download failed: the program should end now
    CableLost,         // the cable stopped answering while the chain was scanned
};

// The device a session addresses by default: the programmer's own rule.
constexpr int kDefaultDevice = -1;

// The part names the programmer accepts, exactly as the device database names them.
bool supported_device(const std::string& name);
// The board picture file name for a device and target; "" keeps the current picture.
std::string board_picture(const std::string& device_name, Target target,
                          const std::string& sys_dir);

class Session {
  public:
    Session(AppUi& ui, AppPaths paths);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The device the commands address. kDefaultDevice: one or two devices on the chain, the
    // first one, a supported part. An index: that device of a chain of any length, when its
    // part has a configuration module (the Zynq PL behind the ARM DAP is index 1).
    void select_device(int index) { device_index_ = index; }
    // The cable every connect opens: a registered driver's name and its parameter (the XVC
    // client's "host:port"). None given: the USB boards, "kprbemb" then "skprb", with the offer
    // of firmware to an FX3 boot loader.
    void use_cable(std::string driver, std::string parameter) {
        cable_driver_ = std::move(driver);
        cable_parameter_ = std::move(parameter);
    }

    // Connect (quiet while already connected): firmware offer, open a cable ("kprbemb" then
    // "skprb"), detect, accept the chain and bind the selected device, check its part.
    ConnectResult connect();
    // Closes the chain and its module.
    void disconnect();
    // The Connect button: forget the connection and connect with messages.
    ConnectResult reconnect();
    // A connect with messages that lists every device on the chain (index, IDCODE, part, IR
    // length) before the verdict, also on chains it then refuses.
    ConnectResult detect();
    // How the last connect ended.
    ConnectResult last_connect() const { return last_connect_; }

    // Each command connects first and disconnects at its end; results are operation statuses.
    int idcode_check();
    int device_dna();
    // AUTO on the FPGA target: Shutdown then Write with `file`. When `wait_for_update` is given,
    // it is called between connect and programming and may return false to cancel.
    // A missing, unreadable or non-.bit file is refused before Shutdown, so the running design
    // stays. The result is the module's: 1 only for a verified configuration.
    using WaitForUpdate = std::function<bool(const std::string&)>;
    int program_fpga(const std::string& file, const WaitForUpdate& wait_for_update = {});
    // Reads and explains the FPGA's configuration state without changing it: 1 when read.
    int config_status();
    // Asks a running Write to stop after its current piece, or clears the running flag of an SPI
    // ROM operation (safe from the progress callback). A cancel that comes between the steps of
    // a command (before its flash operation started) stops the command at its next step; it
    // lasts until the command (target switch, flash operation, FPGA program) ends.
    void cancel();
    // A new command from the user: an earlier command's cancel no longer applies.
    void begin_command() { cancel_requested_ = false; }

    // The programming target. SPI ROM opens the flash behind the FPGA (loading the SPI bridge
    // when the FPGA does not run it) and logs what was found; on failure the target falls back to
    // the FPGA. Leaving the SPI ROM restarts the FPGA (Shutdown, JPROGRAM) so that it boots from
    // the flash, and says whether it did. 1 when the new target is in place. `trim`: the flash is
    // opened with the bitstream-trim option, as the window's check box sets it.
    int set_target(Target target, bool trim = true);
    bool spi_mode() const { return spi_mode_; }

    // Lets a configuration file for another part than the device through (--force).
    void allow_other_part(bool allow) { allow_other_part_ = allow; }

    // What a flash command is given, checked before the board is touched (the FPGA keeps its
    // design when the input is refused): program and verify need a file that holds an image (a
    // complete HEX / S-record file) and an offset that starts a page of every flash, from which
    // the image fits the largest one; a .bit or .bin file to program must be for the device's
    // part (the chain is scanned for it, nothing else); read needs a folder it can write to, and
    // an existing file is replaced only with `overwrite` or the user's yes. 1 when the command
    // may run, else its failure with the reason in the log and the result line (the user's no
    // is logged, and shows no failure). Read, dump and a range erase need `count` bytes from the
    // offset (count < 0: to the end of the flash; a dump's 256 bytes) to lie within the largest
    // flash; any offset, aligned or not.
    enum class FlashOp { Program, Verify, Read, Dump, Erase, Other };
    int check_flash_input(FlashOp op, const std::string& file, uint32_t offset,
                          bool overwrite = false, bool trim = true, int64_t count = -1);

    // The SPI ROM commands (SPI ROM target only, else 17). Each opens the flash again on a fresh
    // connect and leaves the chain open. Results are operation statuses: 1 success, 24
    // cancelled, 15 a verify difference or a flash that is not blank, anything else failure.
    int flash_id();
    int flash_unique_id();
    // Program then, unless told not to, verify; a cancel before the verify is a cancel (24),
    // never a success. The FPGA is restarted afterwards so that it boots the new contents.
    // `trim` strips the header of .bit files.
    int flash_program(const std::string& file, uint32_t offset, bool trim = true,
                      bool verify = true);
    int flash_verify(const std::string& file, uint32_t offset, bool trim = true);
    int flash_erase();
    // Erases the bytes [offset, offset + count): the sectors that hold them, their other bytes
    // kept as program keeps them, then the range blank-checked. A range past the end of the flash
    // is refused before anything is erased.
    int flash_erase(uint32_t offset, int64_t count);
    int flash_blank();
    // Reads count bytes from offset (count < 0: to the end of the flash) into file. An existing
    // file is replaced only when `overwrite` is given or the user answers yes.
    int flash_read(const std::string& file, uint32_t offset, bool overwrite = false,
                   int64_t count = -1);
    // count bytes from offset to the log (count < 0: 256).
    int flash_dump(uint32_t offset, int64_t count = -1);
    // Restarts the FPGA through the module's Shutdown entry and waits (bounded) for it to boot
    // from the flash: JTAG_OK when DONE is high afterwards, JTAG_CANCELLED when a Ctrl-C stopped
    // the restart, JTAG_FAIL otherwise.
    int restart_fpga();

    bool connected() const { return connected_; }
    const std::string& device_name() const { return device_name_; }
    Chain* chain() const { return chain_; }
    Device* device() const { return device_; }  // the addressed device while connected
    Target target() const { return target_; }
    // What the commands so far found and read, as values.
    const CommandFacts& facts() const { return facts_; }

  private:
    ConnectResult open_and_check(bool list_chain);
    // Opens the chosen cable's chain and accepts its devices (after the firmware offer).
    ConnectResult open_chain(bool list_chain);
    ConnectResult refuse(ConnectResult result);
    // What a command that could not connect returns: 21 for a lost cable, else "no device".
    int connect_failure() const;
    // On a chain the default rule refuses: names a device further on that --device reaches.
    void log_device_hint();
    void log_no_board_picture();
    void show_board_picture();
    // Stores a failure in the device's record and prints the chain's status report.
    void report_failure(int status);
    // One SPI ROM operation: connect, open the flash, run `op`, show the result under `name`
    // (none for the dumps). A cancel that came while `op` ran makes its success a cancel.
    int run_flash(const char* name, bool trim, const std::function<int(SpiRomContext*)>& op);
    // Whether a .bit / .bin file is for the connected device (its header's part, the IDCODEs
    // its stream writes); logs a refusal. `configures`: the file goes to the FPGA itself.
    bool file_for_device(const std::string& file, bool configures = false);
    // The SPI bridge file of the addressed FPGA (bridge_file.h), checked before the FPGA is
    // touched; the refusal is logged when none can serve.
    std::string bridge_path();
    // Whether the flash commands reach the virtual board (its bridge stand-ins serve there).
    bool on_virtual_board() const;
    // Whether the user asked the whole command to stop (pending input handled first).
    bool stop_requested();
    // A command that ends before it ran: its result line.
    int refuse_command(const char* name, int status);
    bool booted_from_flash();

    AppUi& ui_;
    AppPaths paths_;
    Chain* chain_ = nullptr;
    Device* device_ = nullptr;
    Devopt* devopt_ = nullptr;
    DevAlgModule* module_ = nullptr;
    std::string device_name_;
    std::string file_;  // the file handed to the module's Write entry
    bool connected_ = false;
    Target target_ = Target::Fpga;
    bool spi_mode_ = false;
    std::atomic<bool> flash_busy_{false};
    std::atomic<bool> cancel_requested_{false};
    int device_index_ = kDefaultDevice;
    std::string cable_driver_, cable_parameter_;
    bool allow_other_part_ = false;
    int device_at_ = 0;         // the index of device_ on the chain
    std::string bridge_shown_;  // the bridge file the log last named
    ConnectResult last_connect_ = ConnectResult::NoBoard;
    CommandFacts facts_;
};

}  // namespace vireo::app
