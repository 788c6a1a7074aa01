#include "xvc/xvc_cable.h"

#include <algorithm>
#include <cstdlib>

#include "cables/fx3.h"
#include "cables/usb_ids.h"
#include "jtag/lang.h"

namespace vireo::xvc {
namespace {

constexpr int kOutEndpoint = 2, kInEndpoint = 0x82;
// The text our firmware puts in its "V" reply, and the oldest firmware that knows "x".
constexpr char kFirmwareId[] = "NORVALE-FX3-JTAG";
constexpr long kOldestVersion = 102;
constexpr int kVersionMax = 1024, kStatusMax = 64, kTdoMax = 1024;
constexpr uint8_t kSuperSpeedBit = 0x10;
constexpr uint8_t kCmdEnd = 0x00;

}  // namespace

bool XvcCable::send(std::span<const uint8_t> commands) {
    packet_.assign({'T', 'K'});
    packet_.insert(packet_.end(), commands.begin(), commands.end());
    const int length = static_cast<int>(packet_.size());
    return fx3_holds(generation_) && fx3_write(kOutEndpoint, packet_.data(), length) == length;
}

int XvcCable::ask(uint8_t command, int max) {
    const uint8_t bytes[] = {command};
    if (!send(bytes)) return -1;
    return fx3_read(kInEndpoint, reply_.data(), std::min(max, static_cast<int>(reply_.size())));
}

bool XvcCable::fail(const std::string& status) {
    if (reports_.status) reports_.status(status);
    close();
    return false;
}

bool XvcCable::open() {
    close();
    uint16_t vid = 0, pid = 0;
    char text[100] = {};
    int generation = 0;
    if (!fx3_open_tracked(0, &vid, &pid, text, sizeof text, &generation)) generation = 0;
    generation_ = generation;
    if (generation_ && vid == usb_ids::kMakerVendor && pid == usb_ids::kKb2203Product) {
        if (reports_.out) reports_.out(tr_ja("KB2203(ノーヴェルArtix-7ボード)を発見しました\n"));
    } else if (generation_ && vid == usb_ids::kMakerVendor && pid == usb_ids::kKb2204Product) {
        if (reports_.out) reports_.out(tr_ja("KB2204(ノーヴェルFX3ボード)を発見しました\n"));
    } else {
        return fail(tr_ja("ノーヴェルSuperKeenProbeが見つかりません\n"));
    }
    const uint8_t jtag_mode[] = {'X'};
    if (!send(jtag_mode)) return fail("Hardware error. Version string is incorrect.");
    const int n = ask('V', kVersionMax);
    const std::string version(reinterpret_cast<const char*>(reply_.data()), n > 0 ? n : 0);
    if (version.find(kFirmwareId) == std::string::npos) {
        return fail("Hardware error. Version string is incorrect.");
    }
    // The decimal version starts at the reply's second byte (102 stands for 1.02).
    if (std::strtol(version.c_str() + 1, nullptr, 10) < kOldestVersion) {
        return fail("Hardware error. SuperkeenProbe version must be newer than 1.02.");
    }
    if (reports_.status) reports_.status(version);
    if (ask('Q', kStatusMax) < 1) return fail("Hardware error. Version string is incorrect.");
    superspeed_ = reply_[0] & kSuperSpeedBit;
    if (reports_.out) reports_.out(superspeed_ ? "Super Speed\n" : "NOT Super Speed\n");
    // One TCK with TMS 0 leaves the firmware's clock and TMS in a known state.
    const uint8_t settle[] = {'M', 0x02};
    if (!send(settle)) return fail("Hardware error. Version string is incorrect.");
    return true;
}

XvcShift XvcCable::shift(uint32_t bits, std::span<const uint8_t> tms, std::span<const uint8_t> tdi,
                         std::vector<uint8_t>* tdo) {
    const size_t bytes = (static_cast<size_t>(bits) + 7) / 8;
    tdo->assign(bytes, 0);
    if (bytes > kTdoMax || tms.size() < bytes || tdi.size() < bytes) return XvcShift::Short;
    std::vector<uint8_t> commands;
    commands.reserve(3 + 2 * bytes + 1);
    commands.push_back('x');
    commands.push_back(static_cast<uint8_t>(bits));
    commands.push_back(static_cast<uint8_t>(bits >> 8));
    for (size_t i = 0; i < bytes; ++i) {
        commands.push_back(tms[i]);
        commands.push_back(tdi[i]);
    }
    commands.push_back(kCmdEnd);
    if (!send(commands)) return XvcShift::Lost;
    // The TDO bytes may arrive in more than one transfer; all of them must, or none counts.
    size_t got = 0;
    while (got < bytes) {
        const int n = fx3_read(kInEndpoint, reply_.data(), kTdoMax);
        if (n <= 0) return got ? XvcShift::Short : XvcShift::Lost;
        const size_t take = std::min(static_cast<size_t>(n), bytes - got);
        std::copy_n(reply_.begin(), take, tdo->begin() + static_cast<std::ptrdiff_t>(got));
        got += take;
        if (static_cast<size_t>(n) > take) return XvcShift::Short;  // out of step with the board
    }
    return XvcShift::Done;
}

void XvcCable::close() {
    if (generation_) fx3_release(generation_);
    generation_ = 0;
}

}  // namespace vireo::xvc
