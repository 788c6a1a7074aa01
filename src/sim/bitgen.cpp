#include "sim/bitgen.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <stdexcept>

#include "sim/config_crc.h"

namespace vireo::sim {
namespace {

constexpr uint32_t kSync = 0xAA995566;

// Builds a packet stream word by word and keeps the running checksum the device will compute.
class Stream {
  public:
    explicit Stream(bool series7) : s7_(series7) {}

    void raw(uint32_t w) { words_.push_back(w); }
    void noop(size_t n = 1) { words_.insert(words_.end(), n, s7_ ? 0x20000000u : 0x2000u); }

    void write(unsigned reg, std::initializer_list<uint32_t> data) {
        raw(s7_ ? 0x30000000u | (reg << 13) | static_cast<uint32_t>(data.size())
                : 0x3000u | (reg << 5) | static_cast<uint32_t>(data.size()));
        for (uint32_t w : data) payload(reg, w);
        if (reg == cmd_reg() && data.size() == 1 && *data.begin() == kRcrc) crc_ = 0;
    }
    void cmd(uint32_t code) { write(cmd_reg(), {code}); }

    // Frame data: a 7-series type-1 FDRI header (count 0) + type-2 burst, or the Spartan-6
    // type-2 header with its two count half-words.
    void fdri_burst(uint32_t count) {
        if (s7_) {
            raw(0x30004000);
            raw(0x50000000 | count);
        } else {
            raw(0x5060);
            raw(count >> 16);
            raw(count & 0xFFFF);
        }
        for (uint32_t i = 0; i < count; ++i) payload(s7_ ? 2 : 3, 0);
    }
    // A short FDRI write with a type-1 header (one frame of a compressed image).
    void fdri_frame(uint32_t words) {
        raw(0x30004000 | words);
        for (uint32_t i = 0; i < words; ++i) payload(2, 0);
    }
    void mfwr(uint32_t words) {
        raw(0x30014000 | words);
        for (uint32_t i = 0; i < words; ++i) payload(0x0A, 0);
    }

    // Spartan-6: the expected checksum right after a type-2 FDRI burst (not a packet).
    void auto_crc(bool corrupt) {
        const uint32_t v = crc_ ^ (corrupt ? 1u : 0u);
        raw((v >> 16) & 0x3F);
        raw(v & 0xFFFF);
    }
    // A write of the running checksum to the CRC register.
    void crc_check(bool corrupt) {
        const uint32_t v = crc_ ^ (corrupt ? 1u : 0u);
        if (s7_) {
            raw(0x30000001);
            raw(v);
            crc_ = 0;
        } else {
            raw(0x3002);
            raw(v >> 16);
            raw(v & 0xFFFF);
        }
    }

    size_t size() const { return words_.size(); }
    const std::vector<uint32_t>& words() const { return words_; }

  private:
    static constexpr uint32_t kRcrc = 0x07;
    unsigned cmd_reg() const { return s7_ ? 0x04 : 0x05; }
    void payload(unsigned reg, uint32_t w) {
        raw(w);
        if (s7_) {
            if (!crc_skips_series7(reg)) crc_ = crc_series7(crc_, reg, w);
        } else if (!crc_skips_spartan6(reg)) {
            crc_ = crc_spartan6(crc_, reg, static_cast<uint16_t>(w));
        }
    }

    bool s7_;
    uint32_t crc_ = 0;
    std::vector<uint32_t> words_;
};

uint32_t stream_idcode(const XilinxPart& part, const BitgenOptions& opt) {
    return opt.wrong_idcode ? part.idcode ^ 0x00010000 : part.idcode;
}

// Layout of a Vivado image: preamble, setup, one FDRI burst (or MFW / MFWR for repeated frames),
// CRC, GRESTORE / LFRM, START, second CRC, DESYNC, NOOP padding.
std::vector<uint32_t> series7_words(const XilinxPart& part, const BitgenOptions& opt) {
    Stream s(true);
    for (int i = 0; i < 8; ++i) s.raw(0xFFFFFFFF);
    s.raw(0x000000BB);
    s.raw(0x11220044);
    s.raw(0xFFFFFFFF);
    s.raw(0xFFFFFFFF);
    s.raw(opt.no_sync ? 0xFFFFFFFF : kSync);
    s.noop();
    s.write(0x1F, {0x0000026B});  // BSPI
    s.cmd(0x12);                  // BSPI_READ
    s.noop();
    s.write(0x11, {0});  // TIMER
    s.write(0x10, {0});  // WBSTAR
    s.cmd(0x00);
    s.noop();
    s.cmd(0x07);  // RCRC
    s.noop(2);
    s.write(0x13, {0});                                                       // RBCRC_SW
    s.write(0x09, {0x02003FE5u | (opt.jtag_startup_clock ? 2u << 15 : 0u)});  // COR0
    s.write(0x0E, {0});                                                       // COR1
    if (!opt.no_idcode) s.write(0x0C, {stream_idcode(part, opt)});
    s.cmd(0x09);  // SWITCH
    s.noop();
    s.write(0x06, {0x401});  // MASK
    s.write(0x05, {0x501});  // CTL0
    s.write(0x06, {0});
    s.write(0x18, {0});  // CTL1
    if (opt.spi_bridge) {
        s.write(kSignatureRegSeries7, {kBridgeSignatureSeries7});
        s.noop(6);
    } else {
        s.noop(8);
    }
    s.write(0x01, {0});  // FAR
    s.cmd(0x01);         // WCFG
    s.noop();
    if (opt.compress) {
        const uint32_t frames = part.fdri_words / part.frame_words;
        s.fdri_frame(part.frame_words);
        s.cmd(0x02);  // MFW
        s.noop(12);
        s.mfwr(8);
        for (uint32_t f = 1; f < frames; ++f) {
            s.write(0x01, {f});
            s.mfwr(4);
        }
    } else {
        s.fdri_burst(part.fdri_words);
    }
    s.crc_check(opt.bad_crc);
    s.noop(2);
    s.cmd(0x0A);  // GRESTORE
    s.noop();
    if (!opt.bad_status)
        s.cmd(0x03);
    else
        s.noop(2);  // LFRM
    s.noop(100);
    if (!opt.bad_status)
        s.cmd(0x05);
    else
        s.noop(2);  // START
    s.noop();
    s.write(0x01, {0x03BE0000});
    s.write(0x06, {0x501});
    s.write(0x05, {0x501});
    s.crc_check(false);
    s.noop(2);
    s.cmd(0x0D);  // DESYNC
    const size_t end = opt.compress ? s.size() + 395 : part.image_words;
    if (s.size() > end) throw std::logic_error("part table image size too small");
    s.noop(end - s.size());
    return s.words();
}

// Frame length register value written by ISE, by die; other dies get a value of the same form.
uint32_t spartan6_flr(const XilinxPart& part) {
    const std::string n = part.name;
    if (n == "XC6SLX4" || n == "XC6SLX9") return 0x0380;
    if (n == "XC6SLX16") return 0x0430;
    if (n.rfind("XC6SLX25", 0) == 0) return 0x0520;
    if (n.rfind("XC6SLX45", 0) == 0) return 0x0628;
    if (n.rfind("XC6SLX75", 0) == 0) return 0x0728;
    if (n.rfind("XC6SLX100", 0) == 0) return 0x0828;
    return 0x0960;
}

// Layout of an ISE image: sync, setup registers with the IDCODE check before any frame, one
// type-2 FDRI burst with its auto-CRC, GRESTORE / LFRM / START, CRC write, DESYNC.
std::vector<uint32_t> spartan6_words(const XilinxPart& part, const BitgenOptions& opt) {
    Stream s(false);
    for (int i = 0; i < 8; ++i) s.raw(0xFFFF);
    s.raw(opt.no_sync ? 0xFFFF : 0xAA99);
    s.raw(opt.no_sync ? 0xFFFF : 0x5566);
    s.cmd(0x07);  // RCRC
    s.noop();
    s.write(0x0D, {spartan6_flr(part)});                            // FLR
    s.write(0x0A, {0x3D08u | (opt.jtag_startup_clock ? 2u : 0u)});  // COR1
    s.write(0x0B, {0x09EE});                                        // COR2
    const uint32_t id = stream_idcode(part, opt);
    if (!opt.no_idcode) s.write(0x0E, {id >> 16, id & 0xFFFF});  // IDCODE
    s.write(0x07, {0x00CF});                                     // MASK
    s.write(0x06, {0x0081});                                     // CTL
    s.noop(17);
    s.write(0x1C, {0x3CC8});  // CCLK_FREQ
    s.write(0x0C, {0x0881});  // PWRDN_REG
    s.write(0x21, {0});       // EYE_MASK
    s.write(0x10, {0x001F});  // HC_OPT_REG
    s.write(0x0F, {0xFFFF});  // CWDT
    s.write(0x19, {0x0005});  // PU_GWE
    s.write(0x1A, {0x0004});  // PU_GTS
    s.write(0x18, {0x0100});  // MODE_REG
    for (unsigned general = 0x13; general <= 0x16; ++general) s.write(general, {0});
    s.write(kSignatureRegSpartan6, {opt.spi_bridge ? kBridgeSignatureSpartan6 : 0u});
    s.write(0x1D, {0x1BE2});  // SEU_OPT
    s.write(0x1E, {0, 0});    // EXP_SIGN
    s.noop(2);
    s.write(0x01, {0, 0});  // FAR_MAJ, FAR_MIN
    s.cmd(0x01);            // WCFG
    s.fdri_burst(part.fdri_words);
    s.auto_crc(opt.bad_crc);
    s.noop(24);
    s.cmd(0x0A);  // GRESTORE
    if (!opt.bad_status)
        s.cmd(0x03);
    else
        s.noop(2);  // LFRM
    s.noop(4);
    s.cmd(0x0A);
    if (!opt.bad_status)
        s.cmd(0x05);
    else
        s.noop(2);  // START
    s.write(0x07, {0x00FF});
    s.write(0x06, {0x0081});
    s.crc_check(false);
    s.cmd(0x0D);  // DESYNC
    if (s.size() > part.image_words) throw std::logic_error("part table image size too small");
    s.noop(part.image_words - s.size());
    return s.words();
}

void put_field(std::vector<uint8_t>& out, char key, const std::string& text) {
    const size_t len = text.size() + 1;
    out.push_back(static_cast<uint8_t>(key));
    out.push_back(static_cast<uint8_t>(len >> 8));
    out.push_back(static_cast<uint8_t>(len));
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

}  // namespace

std::vector<uint8_t> make_config_image(const XilinxPart& part, const BitgenOptions& opt) {
    const bool s7 = part.family == Family::Series7;
    const std::vector<uint32_t> words = s7 ? series7_words(part, opt) : spartan6_words(part, opt);
    const unsigned bytes = bytes_per_word(part);
    std::vector<uint8_t> image;
    image.reserve(words.size() * bytes);
    for (uint32_t w : words)
        for (unsigned b = bytes; b-- > 0;) image.push_back(static_cast<uint8_t>(w >> (8 * b)));
    image.resize(image.size() - std::min(opt.truncate_bytes, image.size()));
    return image;
}

std::string bit_design_string(const BitgenOptions& opt) {
    char usercode[16];
    std::snprintf(usercode, sizeof usercode, "0x%08X", opt.usercode);
    return opt.design_name + ";UserID=" + usercode + ";Synthetic=VirtualBoardOnly";
}

std::vector<uint8_t> make_bit_file(const XilinxPart& part, const BitgenOptions& opt,
                                   const std::string& date, const std::string& time) {
    std::vector<uint8_t> out = {0x00, 0x09, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F,
                                0xF0, 0x0F, 0xF0, 0x00, 0x00, 0x01};
    std::string device = part.name;
    for (char& c : device) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    put_field(out, 'a', bit_design_string(opt));
    put_field(out, 'b', device.substr(2) + part.package);
    put_field(out, 'c', date);
    put_field(out, 'd', time);
    const std::vector<uint8_t> image = make_config_image(part, opt);
    const size_t n = image.size();
    out.push_back('e');
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(n >> shift));
    out.insert(out.end(), image.begin(), image.end());
    return out;
}

}  // namespace vireo::sim
