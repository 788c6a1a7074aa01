// The cable of one XVC connection: the FX3 board opened for that connection alone, brought into
// JTAG mode and checked, then driven with the firmware's vector command "x", which carries TMS and
// TDI for every bit exactly as the client sends them. Only the open this record made is closed
// by it (fx3_release), so a later open by another user of the process stays untouched.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace vireo::xvc {

// Status lines (the log) and diagnostics (standard output / error by default).
struct XvcReports {
    std::function<void(const std::string&)> status;
    std::function<void(const std::string&)> out;
    std::function<void(const std::string&)> err;
};

enum class XvcShift {
    Done,
    Lost,   // a transfer failed: the board is gone or was taken over
    Short,  // the board answered with fewer TDO bytes than the vector has
};

class XvcCable {
  public:
    explicit XvcCable(const XvcReports& reports) : reports_(reports) {}
    ~XvcCable() { close(); }
    XvcCable(const XvcCable&) = delete;
    XvcCable& operator=(const XvcCable&) = delete;

    // Opens the board, enters JTAG mode, checks the firmware and its link. False (after the
    // status lines saying why, and with the board closed again) when it cannot be used.
    [[nodiscard]] bool open();
    // Shifts `bits` bits: tms and tdi hold ceil(bits/8) bytes each (at most 1024), tdo receives
    // as many. Nothing in tdo is valid unless the result is Done.
    [[nodiscard]] XvcShift shift(uint32_t bits, std::span<const uint8_t> tms,
                                 std::span<const uint8_t> tdi, std::vector<uint8_t>* tdo);
    // Closes the board if this record's open still holds it.
    void close();
    bool superspeed() const { return superspeed_; }

  private:
    bool send(std::span<const uint8_t> commands);
    // One reply of at most max bytes into reply_: its length, 0 or less on failure.
    int ask(uint8_t command, int max);
    bool fail(const std::string& status);

    const XvcReports& reports_;
    int generation_ = 0;  // of our open; 0 while closed
    bool superspeed_ = false;
    std::vector<uint8_t> packet_;
    std::vector<uint8_t> reply_ = std::vector<uint8_t>(1024);
};

}  // namespace vireo::xvc
