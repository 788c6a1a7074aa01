// The command logic the terminal and the window share: connect and detect (with the FX3
// firmware offer), the IDCODE check, the device DNA read, and configuring the FPGA from a file.
// It holds the open chain only while a command runs.
#pragma once

#include <atomic>
#include <string>

#include "app/app_ui.h"
#include "app/paths.h"

struct Chain;
struct Device;
struct Devopt;
struct DevAlgModule;

namespace vireo::app {

enum class Target { Fpga, SpiRom };

// How a connect ended.
enum class ConnectResult {
    Connected,
    NoBoard,           // no cable or board answered
    NoDevice,          // the chain is empty, or holds three or more devices
    IllegalDevice,     // the first device is not a supported FPGA
    FirmwareDeclined,  // an FX3 without firmware was found and the user said no
    FirmwareLoaded,    // firmware written (or failed): the program should end now
};

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

    // Connect (quiet while already connected): firmware offer, open a cable ("kprbemb" then
    // "skprb"), detect, accept one or two devices, bind device 0, check the supported names.
    ConnectResult connect();
    // Closes the chain and its module.
    void disconnect();
    // The Connect button: forget the connection and connect with messages.
    ConnectResult reconnect();

    // Each command connects first and disconnects at its end; results are operation statuses.
    int idcode_check();
    int device_dna();
    // AUTO on the FPGA target: Shutdown then Write with `file`. When `wait_for_update` is given,
    // it is called between connect and programming and may return false to cancel.
    int program_fpga(const std::string& file, bool (*wait_for_update)(const std::string&) = nullptr);
    // Asks a running Write to stop after its current piece (safe from the progress callback).
    void cancel();

    bool connected() const { return connected_; }
    const std::string& device_name() const { return device_name_; }
    Chain* chain() const { return chain_; }
    Target target() const { return target_; }

private:
    void log_no_board_picture();
    void show_board_picture();

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
};

}  // namespace vireo::app
