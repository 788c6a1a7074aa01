#include "app/session.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <optional>

#include "app/bridge_file.h"
#include "app/config_report.h"
#include "app/design_file.h"
#include "app/host.h"
#include "cables/cable.h"
#include "cables/fx3.h"
#include "cables/fx3_backend.h"
#include "cables/usb_ids.h"
#include "devalg/config_status.h"
#include "devdb/bsreg.h"
#include "formats/file_input.h"
#include "jtag/chain.h"
#include "jtag/devalg.h"
#include "jtag/lang.h"
#include "jtag/msg.h"
#include "jtag/opflag.h"
#include "jtag/status.h"
#include "jtag/tap.h"
#include "spirom/spirom.h"
#include "spirom/spirom_file.h"
#include "spirom/spirom_ops.h"

namespace vireo::app {
namespace {

constexpr std::array<const char*, 7> kSupportedDevices = {
    "XC6SLX16", "XC6SLX45", "XC6SLX45T", "XC7A100T", "XC7S50_CSGA324", "XC7A200T", "XC7K160T"};

constexpr uint32_t kWriteEntry = 1;
constexpr uint32_t kShutdownEntry = 3;
constexpr uint32_t kCancelEntry = 0xF;
constexpr std::array<uint32_t, 3> kPrepareEntries = {10, 11, 12};
constexpr uint32_t kIscDisable = 0x16;
constexpr int64_t kIscDisableClocks = 24;
// The boot from flash after JPROGRAM: polled every half second for at most 15 seconds (an
// XC7A100T image read at a slow configuration clock takes about 12).
constexpr int64_t kBootPollUsec = 500'000;
constexpr int kBootPolls = 30;

const char* maker_name(int maker) {
    switch (maker) {
        case 0:
            return "Unknown";
        case 1:
            return "ATMEL";
        case 2:
            return "ST/Numonyx";
        case 3:
            return "SST";
        case 4:
            return "Winbond";
        default:
            return "";
    }
}

// A command's cancel lasts until the command ends; the next command starts without it.
class CancelScope {
  public:
    explicit CancelScope(std::atomic<bool>& requested) : requested_(requested) {}
    ~CancelScope() { requested_ = false; }
    CancelScope(const CancelScope&) = delete;
    CancelScope& operator=(const CancelScope&) = delete;

  private:
    std::atomic<bool>& requested_;
};

std::string result_text(const char* name, int status) {
    const char* suffix = status == JTAG_OK          ? " Success!!"
                         : status == JTAG_CANCELLED ? " Canceled"
                                                    : " Failed!!";
    return std::string(name) + suffix;
}

uint32_t captured_word(BsReg* reg, int offset) {
    uint32_t value = 0;
    bsreg_get(reg, BSREG_TDOCAPTURE, offset, 32, &value);
    return value;
}

// Every device of a freshly scanned chain: index, IDCODE, part name, IR length. The IDCODEs
// are read again so that the list shows them as the parts answer (revision included); the
// part records hold the database's.
void log_chain(Chain* chain, std::vector<ChainEntry>* entries) {
    const int count = jtag_count(chain);
    jtag_select_all(chain);
    const bool read = count > 0 && jtag_idcode(chain) == JTAG_OK;
    chain_reset_status(chain);
    log_message("JTAG chain: %d device(s)", count);
    for (int i = 0; i < count; ++i) {
        const Device* device = chain_get_device(chain, i);
        const PartRecord* part = device_part(device);
        const Devopt* devopt = device_devopt(device);
        const uint32_t idcode = read && devopt ? devopt->idcode_read : device_get_idcode(device);
        const std::string name = part && !part->name.empty() ? part->name : "(unknown)";
        log_message("  #%d  IDCODE 0x%08lX  %-16s IR length %d", i,
                    static_cast<unsigned long>(idcode), name.c_str(), part ? part->ir_length : 0);
        entries->push_back({i, idcode, part ? part->name : "", part ? part->ir_length : 0});
    }
}

}  // namespace

bool supported_device(const std::string& name) {
    for (const char* supported : kSupportedDevices) {
        if (name == supported) return true;
    }
    return false;
}

std::string board_picture(const std::string& name, Target target, const std::string& sys_dir) {
    const bool fpga = target == Target::Fpga;
    if (name == "XC6SLX4") {
        const std::string custom = fpga ? "custom_board_top.bmp" : "custom_board_bot.bmp";
        return std::filesystem::exists(sys_dir + custom) ? custom : "none.bmp";
    }
    if (name == "XC6SLX16" || name == "XC6SLX45") return fpga ? "kb2201a.bmp" : "kb2201b.bmp";
    if (name == "XC6SLX45T") return fpga ? "kb2202a.bmp" : "kb2202b.bmp";
    if (name == "XC7A100T") return fpga ? "kb2203a.bmp" : "kb2203b.bmp";
    if (name == "XC7S50_CSGA324") return fpga ? "kb2205a.bmp" : "kb2205b.bmp";
    if (name == "XC7K160T") return fpga ? "lumenka.bmp" : "lumenkb.bmp";
    return "";
}

Session::Session(AppUi& ui, AppPaths paths) : ui_(ui), paths_(std::move(paths)) {}

Session::~Session() {
    disconnect();
}

void Session::log_no_board_picture() {
    ui_.show_picture(paths_.sys_dir + "none.bmp");
}

void Session::show_board_picture() {
    const std::string picture = board_picture(device_name_, target_, paths_.sys_dir);
    if (!picture.empty()) ui_.show_picture(paths_.sys_dir + picture);
}

void Session::disconnect() {
    if (!chain_) return;
    // The device's record owns the module binding and releases it with the chain.
    jtag_close_chain(chain_);
    chain_ = nullptr;
    device_ = nullptr;
    devopt_ = nullptr;
    module_ = nullptr;
}

ConnectResult Session::connect() {
    return last_connect_ = open_and_check(false);
}

ConnectResult Session::reconnect() {
    disconnect();
    connected_ = false;
    return connect();
}

ConnectResult Session::detect() {
    disconnect();
    connected_ = false;
    return last_connect_ = open_and_check(true);
}

ConnectResult Session::refuse(ConnectResult result) {
    log_no_board_picture();
    disconnect();
    connected_ = false;
    return result;
}

ConnectResult Session::open_and_check(bool list_chain) {
    disconnect();
    if (!cable_driver_.empty()) return open_chain(list_chain);

    // The look for a boot loader closes only the FX3 open it made itself.
    uint16_t vid = 0, pid = 0;
    char text[256] = {};
    int generation = 0;
    if (fx3_open_tracked(0, &vid, &pid, text, sizeof text, &generation) &&
        is_fx3_boot_loader(vid, pid)) {
        if (!ui_.ask_yes_no(
                tr_ja("ファームウェア書き込みの確認"),
                tr_ja("Cypress EZ-USB FX3が検出されました。\nファームウェアを書き換えますか？"))) {
            fx3_release(generation);
            return ConnectResult::FirmwareDeclined;
        }
        log_message(tr_ja("ファームウェアを書き込みます"));
        ui_.set_busy(true);
        char error[256] = {};
        const std::string image = paths_.sys_dir + "SlaveFifoKB2203-XVC.img";
        if (chdir(paths_.sys_dir.c_str()) != 0) {
            // The image path is absolute; the current folder only matters to the download.
        }
        // The boot loader's download cannot be broken off.
        ui_.allow_cancel(false);
        const int ok = fx3_download(image.c_str(), error, sizeof error);
        ui_.allow_cancel(true);
        fx3_release(generation);
        if (!ok) {
            log_message(tr_ja("ファームウェア書き込み失敗 %s \n"), error);
            return ConnectResult::FirmwareFailed;
        }
        ui_.show_message(
            tr_ja("書き換え成功"),
            tr_ja("ファームウェアを書き込みました。USBを抜き差ししてボードを再起動してください。"));
        return ConnectResult::FirmwareLoaded;
    }
    fx3_release(generation);
    return open_chain(list_chain);
}

ConnectResult Session::open_chain(bool list_chain) {
    if (!connected_) {
        log_blank_line();
        log_message("Connecting to Spartan-6 or Artix-7 board...");
    }
    {
        // The cable's announcements once per command: on a reconnect inside it they are detail.
        const DetailLines quiet(connected_);
        if (!cable_driver_.empty()) {
            chain_ = jtag_open_chain(cable_driver_.c_str(), cable_parameter_.c_str());
        } else {
            chain_ = jtag_open_chain("kprbemb", "");
            if (!chain_) chain_ = jtag_open_chain("skprb", "");
        }
    }
    if (!chain_) {
        log_message("Spartan-6 nor Artix-7 board was not found");
        return refuse(ConnectResult::NoBoard);
    }

    // A scan the cable did not make leaves the chain empty: no devices, not noise. A cable that
    // failed during the scan is said to be lost, not mistaken for an empty chain.
    const bool scanned = chain_detect(chain_) == JTAG_OK;
    if (!scanned && !cable_alive(chain_get_cable(chain_))) {
        log_message(jtag_status_text(JTAG_DISCONNECTED), "");
        return refuse(ConnectResult::CableLost);
    }
    facts_.cable = cable_name(chain_get_cable(chain_)) ? cable_name(chain_get_cable(chain_)) : "";
    facts_.chain.clear();
    facts_.device_index = -1;
    if (list_chain) log_chain(chain_, &facts_.chain);
    const int count = scanned ? jtag_count(chain_) : 0;
    for (int i = 0; !list_chain && i < count; ++i) {
        const Device* device = chain_get_device(chain_, i);
        const PartRecord* part = device_part(device);
        facts_.chain.push_back(
            {i, device_get_idcode(device), part ? part->name : "", part ? part->ir_length : 0});
    }
    const bool own_rule = device_index_ == kDefaultDevice;
    if (count == 0 || (own_rule && count >= 3)) {
        log_message(count == 0 ? "Any device was not found on Spartan-6 or Artix-7 board."
                               : "Three or more deivices were fount on Spartan-6 or Artix-7 "
                                 "board. It may have some error.");
        if (count > 0) log_device_hint();
        return refuse(ConnectResult::NoDevice);
    }
    device_at_ = own_rule ? 0 : device_index_;
    if (device_at_ >= count) {
        log_message("Device %d was not found: the chain holds %d device(s).", device_at_, count);
        return refuse(ConnectResult::NoDevice);
    }

    device_ = chain_get_device(chain_, device_at_);
    devopt_ = device_devopt(device_);
    module_ = jtag_bind_algorithm(chain_, device_at_);
    if (devopt_) {
        devopt_->algorithm = module_;
        devopt_->algorithm_release = module_ ? devalg_close : nullptr;
    }
    device_name_ = device_part(device_) ? device_part(device_)->name : "";
    ui_.show_device_name(device_name_);

    // A device chosen by index needs only a configuration module for its part.
    if (own_rule ? !supported_device(device_name_) : !module_) {
        log_message("Illegal device %s was found.", device_name_.c_str());
        log_device_hint();
        return refuse(ConnectResult::IllegalDevice);
    }
    show_board_picture();
    facts_.device_index = device_at_;
    facts_.device = device_name_;
    facts_.device_idcode = device_get_idcode(device_);
    if (!connected_) log_message("Device %s was found succesfully.", device_name_.c_str());
    connected_ = true;
    return ConnectResult::Connected;
}

void Session::log_device_hint() {
    const int count = jtag_count(chain_);
    for (int i = 0; i < count; ++i) {
        const Device* device = chain_get_device(chain_, i);
        const PartRecord* part = device_part(device);
        if (i == device_at_ || !part || devalg_family(device_get_idcode(device)) == 0) continue;
        log_message(
            "Device %d, %s, is an FPGA this programmer configures: "
            "vireo --device %d addresses it.",
            i, part->name.c_str(), i);
        return;
    }
}

int Session::connect_failure() const {
    return last_connect_ == ConnectResult::CableLost ? JTAG_DISCONNECTED : JTAG_NO_DEVICE;
}

void Session::report_failure(int status) {
    if (devopt_) devopt_->status = status;
    chain_report_errors(chain_);
}

int Session::idcode_check() {
    if (connect() != ConnectResult::Connected) return connect_failure();
    jtag_select_all(chain_);
    int status = jtag_idcode(chain_);
    if (status == JTAG_OK) {
        const PartRecord* part = device_part(device_);
        const uint32_t mask = part->idcode_mask & 0x0FFFFFFF;
        const uint32_t read = devopt_->idcode_read;
        facts_.idcode_read = read;
        facts_.idcode_expected = part->idcode;
        if ((read & mask) == (part->idcode & mask)) {
            log_message(tr_ja("デバイス'%s'のIDCODEは 0x%08lX で正常です"), device_name_.c_str(),
                        static_cast<unsigned long>(read));
        } else {
            log_message(
                tr_ja("ERROR:デバイスのIDCODEが期待値と異なります。期待値:%08lX, 取得値:%08lX"),
                static_cast<unsigned long>(part->idcode), static_cast<unsigned long>(read));
            status = JTAG_IDCODE;
        }
    } else {
        chain_report_errors(chain_);
    }
    disconnect();
    return status;
}

int Session::device_dna() {
    if (connect() != ConnectResult::Connected) return connect_failure();
    jtag_select_all(chain_);
    int status = jtag_bypass(chain_);
    chain_settings(chain_)->stay = 0;
    BsReg* ir = device_get_register(device_, DEVICE_IR);
    BsReg* dr = device_get_register(device_, DEVICE_DR);
    auto load = [&](uint32_t instruction) {
        bsreg_set(ir, BSREG_TDI, instruction, 0, 0);
        return chain_shift(chain_, DEVICE_IR, CHAIN_WRITE_BACK);
    };
    // Spartan-6 reads its DNA with ISC_DNA (0x30); on 7-series 0x30 is not the DNA register,
    // so those parts use their XSC_DNA instruction instead.
    const PartInstruction* xsc_dna = part_find_instruction(device_part(device_), "XSC_DNA", 0);
    const uint32_t dna_instruction = xsc_dna ? xsc_dna->value : 0x30u;
    bool shifted = status == JTAG_OK;
    for (uint32_t instruction : {0x10u, 0x36u, 0x10u, 0x36u, 0x10u, dna_instruction}) {
        shifted = load(instruction) && shifted;
    }
    bsreg_resize(dr, 96);
    shifted = chain_shift(chain_, DEVICE_DR, CHAIN_WRITE_BACK) && shifted;
    const uint32_t low = captured_word(dr, 0);
    const uint32_t high = captured_word(dr, 32);
    shifted = load(0x36) && shifted;
    // ISC_ENABLE shut the design down; ISC_DISABLE and a few clocks start it again, so reading
    // the DNA never leaves a configured FPGA stopped.
    shifted = load(kIscDisable) && shifted;
    shifted =
        chain_runtest(chain_, RUNTEST_IDLE, 0, kIscDisableClocks, nullptr, nullptr) == JTAG_OK &&
        shifted;
    jtag_select_all(chain_);
    const int bypass = jtag_bypass(chain_);
    if (shifted && bypass == JTAG_OK) {
        log_message("DeviceDNA:%08lx-%08lx", static_cast<unsigned long>(high),
                    static_cast<unsigned long>(low));
        facts_.dna = uint64_t{high} << 32 | low;
    } else {
        // A lost cable must not be shown as a DNA of zeros.
        status = cable_alive(chain_get_cable(chain_)) ? JTAG_FAIL : JTAG_DISCONNECTED;
        report_failure(status);
    }
    disconnect();
    return shifted && bypass == JTAG_OK ? JTAG_OK : status;
}

int Session::program_fpga(const std::string& file, const WaitForUpdate& wait_for_update) {
    const CancelScope scope(cancel_requested_);
    if (connect() != ConnectResult::Connected) return refuse_command("Program", connect_failure());
    if (wait_for_update && !wait_for_update(file)) {
        log_message(tr_ja("書き込みはキャンセルされました"));
        disconnect();
        return JTAG_CANCELLED;
    }
    file_ = file;
    devopt_->file_path = file_;
    devopt_->selected = 1;
    ui_.set_busy(true);

    // Shutdown clears the running design, so a file Write would refuse is refused first. The
    // checks and Write read one private copy: a file rewritten meanwhile cannot slip through.
    int result = JTAG_FILE_OPEN;
    DesignFileCheck check = check_design_file(file_);
    std::optional<DesignSnapshot> snapshot;
    if (check.ok) {
        snapshot.emplace(file_);
        DesignFileCheck copy;
        if (!snapshot->path().empty()) copy = check_design_file(snapshot->path());
        if (!copy.ok) {
            check.ok = false;
            check.messages = {"Bit file format error",
                              shown_text(file_) + ": " +
                                  (snapshot->path().empty() ? snapshot->problem()
                                                            : "it changed while it was read")};
        }
    }
    for (const std::string& line : check.messages) log_message("%s", line.c_str());
    if (check.ok) devopt_->file_path = snapshot->path();
    if (check.ok && !file_for_device(snapshot->path(), true)) {
        result = JTAG_IDCODE;
    } else if (check.ok) {
        // Entries a module may offer to prepare a configuration (the built-in ones have none).
        for (const uint32_t code : kPrepareEntries) {
            if (auto prepare = devalg_entry<DevAlgSetupFn>(module_, code)) prepare(module_, 1);
        }
        set_progress_phase("Shutdown");
        result = devalg_call(module_, kShutdownEntry);
        set_progress_phase("Write");
        if (result == JTAG_OK || result == JTAG_UNSUPPORTED) {
            result = devalg_call(module_, kWriteEntry);
        }
        set_progress_phase("");
    }

    if (result == JTAG_OK) {
        log_message(tr_ja("FPGAへファイル\"%s\"を書き込みました"), shown_text(file_).c_str());
    } else if (result == JTAG_CANCELLED) {
        log_message(tr_ja("FPGAへの書き込みはキャンセルされました"));
    } else {
        log_message(tr_ja("FPGAへの書き込みは失敗しました"));
        report_failure(result);
    }
    ui_.show_result(result_text("Program", result), result);
    file_.clear();
    ui_.set_busy(false);
    disconnect();
    return result;
}

int Session::config_status() {
    if (connect() != ConnectResult::Connected) return connect_failure();
    ConfigStatus status;
    const int result = devalg_read_config_status(module_, &status);
    if (result != JTAG_OK) {
        log_message("The configuration status of %s could not be read.", device_name_.c_str());
        report_failure(result);
        disconnect();
        return result;
    }
    // USERCODE of the addressed device only, the others in BYPASS.
    jtag_select_all(chain_);
    int usercode_status = jtag_bypass(chain_);
    jtag_select_none(chain_);
    jtag_select(chain_, device_at_, 1);
    if (usercode_status == JTAG_OK) usercode_status = jtag_usercode(chain_);
    jtag_select_all(chain_);
    const std::optional<uint32_t> usercode =
        usercode_status == JTAG_OK ? std::optional(devopt_->usercode) : std::nullopt;

    log_message("Configuration status of device %d, %s:", device_at_, device_name_.c_str());
    const ConfigReport report = explain_config_status(status, usercode);
    facts_.config = status;
    facts_.usercode = usercode;
    facts_.configured = report.configured;
    facts_.problems = report.problems;
    for (const std::string& line : report.lines) {
        log_message("  %s", line.c_str());
    }
    disconnect();
    return JTAG_OK;
}

void Session::cancel() {
    cancel_requested_ = true;
    if (flash_busy_) {
        set_flash_running(false);
        return;
    }
    if (!chain_ || !devopt_ || !devopt_->algorithm) return;
    devopt_->selected = 1;
    if (auto cancel = devalg_entry<DevAlgStatusFn>(devopt_->algorithm, kCancelEntry)) {
        cancel(devopt_->algorithm);
    }
}

int Session::set_target(Target target, bool trim) {
    const CancelScope scope(cancel_requested_);
    target_ = target;
    show_board_picture();
    ui_.set_busy(false);
    if (target == Target::Fpga) {
        if (!spi_mode_) return JTAG_OK;
        spi_mode_ = false;
        return restart_fpga();
    }
    if (stop_requested()) return JTAG_CANCELLED;
    if (connect() != ConnectResult::Connected) {
        target_ = Target::Fpga;
        return connect_failure();
    }
    show_board_picture();
    devopt_->selected = 1;
    ui_.set_busy(true);
    log_message("Now entering SPI ROM mode.");
    const std::string bridge = bridge_path();
    if (bridge.empty()) {
        log_message("SPI ROM setup was failed.");
        target_ = Target::Fpga;
        show_board_picture();
        ui_.set_busy(false);
        disconnect();
        return JTAG_FAIL;
    }
    jtag_select_all(chain_);
    SpiRomContext* context = spirom_open(module_, bridge.c_str(), trim ? SPIROM_OPT_TRIM : 0);
    if (!context) {
        // A Ctrl-C that stopped the bridge's configuration is a cancel, not a failure.
        const bool cancelled = stop_requested();
        log_message("SPI ROM setup was failed.");
        spi_mode_ = true;  // the bridge may be half-loaded: leave through the restart
        const int back = set_target(Target::Fpga);
        (void)back;  // the restart says itself whether the FPGA came back
        log_blank_line();
        ui_.set_busy(false);
        disconnect();
        return cancelled ? JTAG_CANCELLED : JTAG_FAIL;
    }
    log_message("SPI ROM was found.");
    facts_.flash.found = true;
    facts_.flash.maker = maker_name(context->maker);
    facts_.flash.part = tr_ja(context->name);  // "不明" is a text, the other names are not
    facts_.flash.jedec = context->jedec;
    facts_.flash.page_size = context->page_size;
    facts_.flash.page_count = context->page_count;
    log_message("-------------------------------------------");
    log_message("Device type       %s %s", maker_name(context->maker),
                tr_ja(context->name.c_str()));
    log_message("Page size         %d", context->page_size);
    log_message("Max pages         %d", context->page_count);
    log_message("Device capability %d", context->page_count * context->page_size);
    log_message("-------------------------------------------");
    spirom_close(context);
    ui_.set_busy(false);
    disconnect();
    spi_mode_ = true;
    return JTAG_OK;
}

int Session::refuse_command(const char* name, int status) {
    if (name) ui_.show_result(result_text(name, status), status);
    return status;
}

bool Session::on_virtual_board() const {
    return cable_driver_.empty() && !fx3_backend_is_libusb();
}

std::string Session::bridge_path() {
    const auto file_name = devalg_entry<DevAlgNameFn>(module_, DEVALG_SPI_FILE_NAME);
    const char* name = file_name ? file_name(module_) : nullptr;
    if (!name || !*name) {
        log_message("%s has no SPI bridge.", device_name_.c_str());
        return {};
    }
    const BridgeFile bridge = find_bridge_file(paths_, name, device_name_, on_virtual_board());
    for (const std::string& line : bridge.refusal) log_message("%s", line.c_str());
    // A bridge made for another part would not configure: the FPGA would only lose its design.
    if (!bridge.path.empty() && !on_virtual_board()) {
        const PartRecord* part = device_part(device_);
        const std::string refusal = design_part_refusal(
            bridge.path, device_name_, part ? part->idcode : device_get_idcode(device_), true);
        if (!refusal.empty()) {
            log_message("SPI bridge %s: it cannot run on this FPGA.", refusal.c_str());
            log_message("Nothing was sent to the FPGA: it keeps its design.");
            return {};
        }
    }
    if (!bridge.path.empty() && bridge_shown_ != bridge.path) {
        log_message("SPI bridge: %s (%s)", shown_text(bridge.path).c_str(),
                    shown_text(bridge.design).c_str());
        bridge_shown_ = bridge.path;
    }
    return bridge.path;
}

bool Session::stop_requested() {
    ui_.process_events();
    return ui_.stop_requested() || cancel_requested_;
}

int Session::run_flash(const char* name, bool trim, const std::function<int(SpiRomContext*)>& op) {
    if (!spi_mode_) return JTAG_UNSUPPORTED;
    const CancelScope scope(cancel_requested_);
    if (stop_requested()) {
        log_message("Cancelled before the operation started.");
        return refuse_command(name, JTAG_CANCELLED);
    }
    if (connect() != ConnectResult::Connected) return refuse_command(name, connect_failure());
    const std::string bridge = bridge_path();
    if (bridge.empty()) return refuse_command(name, JTAG_FAIL);
    ui_.show_progress(0, 0);
    jtag_select_all(chain_);
    SpiRomContext* context = spirom_open(module_, bridge.c_str(), trim ? SPIROM_OPT_TRIM : 0);
    if (!context) {
        const int status = cable_alive(chain_get_cable(chain_)) ? JTAG_FAIL : JTAG_DISCONNECTED;
        log_message("The SPI ROM could not be opened%s.",
                    status == JTAG_DISCONNECTED ? ": the cable stopped answering" : "");
        report_failure(status);
        return refuse_command(name, status);
    }
    ui_.set_busy(true);
    flash_busy_ = true;
    set_flash_running(!cancel_requested_);
    set_progress_phase(name ? name : "");
    int result = op(context);
    // A Ctrl-C that arrived after the operation's last look at the running flag still cancels:
    // the command did not finish as asked, so it must not claim success.
    if (result == JTAG_OK && (stop_requested() || !flash_running())) {
        log_message("Cancelled at the end of the operation.");
        result = JTAG_CANCELLED;
    }
    set_progress_phase("");
    flash_busy_ = false;
    set_flash_running(true);
    spirom_close(context);
    ui_.set_busy(false);
    if (result != JTAG_OK && result != JTAG_CANCELLED) report_failure(result);
    if (name) ui_.show_result(result_text(name, result), result);
    return result;
}

int Session::flash_id() {
    return run_flash(nullptr, false, [this](SpiRomContext* context) {
        spirom_show_id(context, &facts_.flash.id);
        return static_cast<int>(JTAG_OK);
    });
}

int Session::flash_unique_id() {
    return run_flash(nullptr, false, [this](SpiRomContext* context) {
        spirom_show_unique_id(context, &facts_.flash.unique_id);
        return static_cast<int>(JTAG_OK);
    });
}

int Session::flash_program(const std::string& file, uint32_t offset, bool trim, bool verify) {
    if (!spi_mode_) return JTAG_UNSUPPORTED;
    if (const int check = check_flash_input(FlashOp::Program, file, offset, false, trim);
        check != JTAG_OK)
        return check;
    const int result = run_flash("Program", trim, [&](SpiRomContext* context) {
        int status = spirom_program(context, file.c_str(), offset);
        if (status == JTAG_OK && verify) {
            if (stop_requested() || !flash_running()) {
                log_message("The verify was cancelled: the flash is programmed, not verified.");
                return static_cast<int>(JTAG_CANCELLED);
            }
            set_progress_phase("Verify");
            status = spirom_verify(context, file.c_str(), offset);
        } else if (status == JTAG_OK) {
            log_message("Programmed without a verify (--no-verify).");
        }
        return status;
    });
    // A rescue file written back has done its work, but while it lies there program refuses its
    // sector: say so (it is the user's to delete; it may have been meant for another board).
    const std::string name = std::filesystem::path(file).filename().string();
    if (result == JTAG_OK && verify && name.starts_with("vireo-flash-"))
        log_message(
            "%s is written back and verified: delete it now (program refuses to write over "
            "its sector while it is there).",
            shown_text(file).c_str());
    // The FPGA still runs the bridge: a restart boots what the flash now holds. Whether it
    // booted is said in the log and the flash result stands; a cancelled restart leaves the
    // command unfinished.
    const int restarted = restart_fpga();
    return result == JTAG_OK && restarted == JTAG_CANCELLED ? restarted : result;
}

int Session::flash_verify(const std::string& file, uint32_t offset, bool trim) {
    if (!spi_mode_) return JTAG_UNSUPPORTED;
    if (const int check = check_flash_input(FlashOp::Verify, file, offset, false, trim);
        check != JTAG_OK)
        return check;
    return run_flash("Verify", trim, [&](SpiRomContext* context) {
        return spirom_verify(context, file.c_str(), offset);
    });
}

int Session::flash_erase() {
    return run_flash("Erase", false, [](SpiRomContext* context) { return spirom_erase(context); });
}

int Session::flash_erase(uint32_t offset, int64_t count) {
    if (!spi_mode_) return JTAG_UNSUPPORTED;
    if (const int check = check_flash_input(FlashOp::Erase, "", offset, false, true, count);
        check != JTAG_OK)
        return check;
    return run_flash("Erase", false, [&](SpiRomContext* context) {
        return spirom_erase_range(context, offset, count);
    });
}

int Session::flash_blank() {
    return run_flash("BlankCheck", false,
                     [](SpiRomContext* context) { return spirom_blank_check(context); });
}

int Session::flash_read(const std::string& file, uint32_t offset, bool overwrite, int64_t count) {
    if (!spi_mode_) return JTAG_UNSUPPORTED;
    if (const int check = check_flash_input(FlashOp::Read, file, offset, overwrite, true, count);
        check != JTAG_OK)
        return check;
    // The question, if any, was asked and answered yes.
    set_flash_assume_yes(true);
    const int result = run_flash("Readback", false, [&](SpiRomContext* context) {
        return spirom_read_back(context, file.c_str(), offset, count);
    });
    set_flash_assume_yes(false);
    return result;
}

int Session::flash_dump(uint32_t offset, int64_t count) {
    if (const int check = check_flash_input(FlashOp::Dump, "", offset, false, true, count);
        check != JTAG_OK)
        return check;
    return run_flash(nullptr, false,
                     [&](SpiRomContext* context) { return spirom_dump(context, offset, count); });
}

bool Session::file_for_device(const std::string& file, bool configures) {
    const bool bit = has_bit_extension(file);
    if ((!bit && !spirom_has_extension(file.c_str(), ".bin")) || !device_) return true;
    const PartRecord* part = device_part(device_);
    // A .bit is a bitstream, which must write the device's IDCODE; a .bin may hold other data.
    const std::string refusal = design_part_refusal(
        file, device_name_, part ? part->idcode : device_get_idcode(device_), configures || bit);
    if (refusal.empty()) return true;
    if (allow_other_part_) {
        log_message("%s; written anyway (--force).", refusal.c_str());
        return true;
    }
    log_message("%s: it would not configure the FPGA. Refused (--force writes it anyway).",
                refusal.c_str());
    return false;
}

int Session::check_flash_input(FlashOp op, const std::string& file, uint32_t offset, bool overwrite,
                               bool trim, int64_t count) {
    const char* name = op == FlashOp::Program  ? "Program"
                       : op == FlashOp::Verify ? "Verify"
                       : op == FlashOp::Read   ? "Readback"
                       : op == FlashOp::Erase  ? "Erase"
                                               : nullptr;
    // A range must lie within some flash; the flash itself checks it again once identified. The
    // whole-flash erase has no range.
    const bool ranged =
        op == FlashOp::Read || op == FlashOp::Dump || (op == FlashOp::Erase && count >= 0);
    if (ranged && count == 0) {
        log_message("An empty range (0 bytes): nothing to do.");
        return refuse_command(name, JTAG_ADDRESS_OVERFLOW);
    }
    if (ranged) {
        if (const int status = spirom_check_range(offset, count); status != JTAG_OK)
            return refuse_command(name, status);
    }
    if (op == FlashOp::Program || op == FlashOp::Verify) {
        if (const int status = spirom_check_image(file.c_str(), offset, trim); status != JTAG_OK)
            return refuse_command(name, status);
    }
    if (op == FlashOp::Read) {
        if (const std::string problem = vireo::formats::output_problem(file.c_str());
            !problem.empty()) {
            log_message("Cannot write '%s': %s.", shown_text(file).c_str(), problem.c_str());
            return refuse_command(name, JTAG_FILE_OPEN);
        }
        std::error_code error;
        if (!overwrite && std::filesystem::exists(file, error)) {
            char question[4096];
            std::snprintf(question, sizeof question,
                          tr_ja("ファイル%sはすでに存在します。上書きしますか？ (y/n)"),
                          shown_text(file).c_str());
            if (!ui_.ask_yes_no("query", question)) {
                // The user's no: said in the log, no failure shown; the command did not run.
                log_message(tr_ja("読み出しを中止します\n"));
                return JTAG_FAIL;
            }
        }
    }
    if (op == FlashOp::Program) {
        // The chain alone tells the part: nothing runs on the FPGA for it.
        const bool was_connected = chain_ != nullptr;
        if (connect() != ConnectResult::Connected) return refuse_command(name, connect_failure());
        const bool fits = file_for_device(file);
        if (!was_connected) disconnect();
        if (!fits) return refuse_command(name, JTAG_IDCODE);
    }
    return JTAG_OK;
}

bool Session::booted_from_flash() {
    BsReg* ir = device_get_register(device_, DEVICE_IR);
    for (int poll = 0; poll < kBootPolls; ++poll) {
        if (chain_runtest(chain_, RUNTEST_IDLE, kBootPollUsec, 0, nullptr, nullptr) != JTAG_OK) {
            return false;
        }
        jtag_select_all(chain_);
        if (jtag_bypass(chain_) != JTAG_OK) return false;
        uint32_t capture = 0;
        bsreg_get(ir, BSREG_TDOCAPTURE, 0, std::min(32, bsreg_length(ir)), &capture);
        // DONE, or INIT low: the boot ended either way.
        if ((capture & kIrCaptureDone) || !(capture & kIrCaptureInit)) break;
    }
    ConfigStatus status;
    if (devalg_read_config_status(module_, &status) != JTAG_OK) return false;
    return (status.ir_capture & kIrCaptureDone) != 0;
}

int Session::restart_fpga() {
    if (connect() != ConnectResult::Connected) return JTAG_FAIL;
    jtag_select_all(chain_);
    set_progress_phase("Shutdown");
    const int shutdown = devalg_call(module_, kShutdownEntry);
    set_progress_phase("");
    const bool booted = shutdown == JTAG_OK && booted_from_flash();
    // A cable lost on the way (a server gone) restarted nothing, whatever the module said.
    const bool lost = !booted && !cable_alive(chain_get_cable(chain_));
    if (booted) {
        log_message("The FPGA restarted and booted from the SPI ROM (DONE high).");
    } else if (shutdown == JTAG_CANCELLED) {
        log_message(
            "The FPGA restart was cancelled: it has not booted from the SPI ROM "
            "(configure it again or power-cycle the board).");
    } else if (shutdown != JTAG_OK || lost) {
        log_message("The FPGA could not be restarted%s.",
                    lost ? ": the cable stopped answering" : "");
        if (shutdown != JTAG_OK) report_failure(shutdown);
    } else {
        log_message("The FPGA restarted but did not boot from the SPI ROM (DONE low).");
    }
    disconnect();
    return booted ? JTAG_OK : shutdown == JTAG_CANCELLED ? JTAG_CANCELLED : JTAG_FAIL;
}

}  // namespace vireo::app
