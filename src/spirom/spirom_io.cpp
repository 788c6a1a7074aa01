#include "spirom/spirom_io.h"

#include <algorithm>
#include <bit>

#include "formats/hexfile.h"
#include "jtag/chain.h"
#include "jtag/lang.h"
#include "jtag/msg.h"
#include "jtag/status.h"
#include "jtag/tap.h"
#include "spirom/spirom_file.h"
#include "spirom/spirom_host.h"
#include "spirom/spirom_parts.h"
#include "spirom/spirom_range.h"

namespace spirom_io {
namespace {

constexpr uint32_t kM25p128 = 0x202018;  // 256 KB sectors
constexpr int64_t kMs = 1000, kS = 1000 * kMs;
constexpr int64_t k16MB = int64_t{1} << 24;
// The longest read: its bits cross the wire in one data scan, so that the cable streams them.
constexpr int kReadBlock = 64 * 1024;

Group group_of(uint32_t jedec) {
    switch (jedec >> 16) {
        case 0x1F:
            return jedec == kAt25dq321 ? Group::Series25 : Group::At45;
        case 0x20:
            return Group::Series25;
        case 0xBF:
            return Group::Sst;
        case 0xEF:
            return Group::Winbond;
        default:
            return Group::None;
    }
}

// Data-sheet maximum chip-erase time of a part of this size, from the 16 MB figure.
int64_t scaled(int64_t max_16mb, int64_t bytes) {
    return std::max(max_16mb, max_16mb * bytes / k16MB);
}

}  // namespace

FlashIo::FlashIo(const SpiRomContext* c) : c_(c) {
    if (!c) return;
    group_ = group_of(c->jedec);
    geo_ = {c->page_size, c->page_count, c->address_shift};
    // In the binary page size an AT45 address is linear: the page starts at page × size.
    if (group_ == Group::At45 && (c->status & 1) && std::has_single_bit(unsigned(geo_.page_size)))
        geo_.shift = std::countr_zero(unsigned(geo_.page_size));
    four_byte_ = flash_bytes() > k16MB;
    switch (group_) {
        case Group::At45:
            page_ = {1 * kMs, 40 * kMs};
            chip_ = {1 * kS, 100 * kS};
            break;
        case Group::Series25:
            sector_pages_ = c->jedec == kM25p128 ? 1024 : 256;
            page_ = {100, 5 * kMs};
            sector_ = {10 * kMs, 3 * kS};
            chip_ = {1 * kS, at25dq() ? 64 * kS : scaled(250 * kS, flash_bytes())};
            break;
        case Group::Sst:
            // 0xD8 erases 64 KB whatever page size the part table gives.
            sector_pages_ = std::max(1, 65536 / std::max(1, geo_.page_size));
            page_ = {10, 1 * kMs};
            sector_ = {1 * kMs, 25 * kMs};
            chip_ = {10 * kMs, 50 * kMs};
            break;
        case Group::Winbond:
            sector_pages_ = 256;
            page_ = {100, 3 * kMs};
            sector_ = {10 * kMs, 2 * kS};
            chip_ = {1 * kS, scaled(200 * kS, flash_bytes())};
            break;
        case Group::None:
            break;
    }
}

FlashIo::~FlashIo() {
    [[maybe_unused]] const int collected = collect();
    [[maybe_unused]] const int restored = done();
}

int FlashIo::done() {
    return four_byte_ && segment_ != 0 ? select_segment(0) : JTAG_OK;
}

bool FlashIo::at25dq() const {
    return c_ && c_->jedec == kAt25dq321;
}

int FlashIo::command(std::initializer_list<uint8_t> bytes, int idle_clocks) {
    if (!c_ || !c_->txrx) return JTAG_NULL;
    return c_->txrx(c_->module, bytes.begin(), nullptr, static_cast<int>(bytes.size()), idle_clocks,
                    idle_clocks > 0 ? SPI_TXRX_WRITE_THEN_IDLE : SPI_TXRX_WRITE_ONLY);
}

int FlashIo::select_segment(uint32_t address) {
    if (!four_byte_) return JTAG_OK;
    const int segment = static_cast<int>(address >> 24);
    if (segment == segment_) return JTAG_OK;
    int status = command({0x06});
    if (status == JTAG_OK) status = command({0xC5, static_cast<uint8_t>(segment)});
    segment_ = status == JTAG_OK ? segment : -1;
    return status;
}

int FlashIo::addressed(uint8_t op, uint32_t address, const uint8_t* data, int count) {
    if (!c_ || !c_->txrx) return JTAG_NULL;
    if (const int status = select_segment(address); status != JTAG_OK) return status;
    std::vector<uint8_t> send = {op, static_cast<uint8_t>(address >> 16),
                                 static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
    if (data) send.insert(send.end(), data, data + count);
    std::vector<uint8_t> unused(data ? count : 0);
    return c_->txrx(c_->module, send.data(), unused.data(), 4, data ? count : 0, 1);
}

int FlashIo::write_enabled(uint8_t op, uint32_t address, const uint8_t* data, int count) {
    int status = select_segment(address);
    if (status == JTAG_OK) status = command({0x06});
    if (status == JTAG_OK) status = addressed(op, address, data, count);
    return status;
}

int FlashIo::read(uint32_t address, uint8_t* out, int count, uint8_t fill) {
    if (const int status = select_segment(address); status != JTAG_OK) return status;
    const uint8_t send[5] = {0x0B, static_cast<uint8_t>(address >> 16),
                             static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), 0};
    return spirom_txrx(c_, send, 5, out, count, fill);
}

int FlashIo::read_span(int page) const {
    if (geo_.page_size <= 0) return 1;
    const int per_block = std::max(1, kReadBlock / geo_.page_size);
    return per_block - page % per_block;
}

int FlashIo::read_pages(int page, int count, uint8_t* out, uint8_t fill) {
    for (int done = 0; done < count;) {
        const int n = std::min(count - done, read_span(page + done));
        if (const int status = read(page_address(page + done), out + int64_t{done} * page_size(),
                                    n * page_size(), fill);
            status != JTAG_OK)
            return status;
        done += n;
    }
    return JTAG_OK;
}

int FlashIo::read_status(uint8_t* status) {
    const uint8_t op = group_ == Group::At45 ? 0xD7 : 0x05;
    return spirom_txrx(c_, &op, 1, status, 1);
}

int FlashIo::idle(int64_t usec) {
    if (!c_ || !c_->module) return JTAG_NULL;
    return chain_runtest(c_->module->chain, RUNTEST_IDLE, usec, 0, nullptr, nullptr);
}

int64_t FlashIo::frame_clocks() const {
    if (!c_ || !c_->module) return 0;
    int64_t bits = 0;
    for (int i = 0; i < chain_count(c_->module->chain); ++i)
        bits +=
            bsreg_length(device_get_register(chain_get_device(c_->module->chain, i), DEVICE_DR));
    // Select-DR, Capture-DR and Shift-DR before the bits; Update-DR and Run-Test/Idle after.
    return bits + 5;
}

bool FlashIo::defers() {
    return c_ && c_->module && chain_defers(c_->module->chain);
}

int FlashIo::probe(uint8_t* two) {
    if (!c_ || !c_->txrx) return JTAG_NULL;
    // The bridge clocks out the read bytes too: zeros after the command.
    static constexpr uint8_t kSend[3] = {0x05, 0x00, 0x00};
    deferred_ = true;
    return c_->txrx(c_->module, kSend, two, 1, 2, SPI_TXRX_DEFERRED);
}

int FlashIo::collect() {
    if (!deferred_) return JTAG_OK;
    deferred_ = false;
    return c_->txrx(c_->module, nullptr, nullptr, 0, 0, SPI_TXRX_COLLECT);
}

int FlashIo::wait_ready(BusyLimit limit, bool cancel, bool progress) {
    // Each status read is a round trip to the cable. Cycles of one kind last about as long as
    // the last one, so the host idles that long before its first read, and learns: a first read
    // that finds the flash ready pulls the next one in a little, one that finds it busy pushes
    // it out past this cycle's end by more, so that nearly every cycle takes one read.
    const int64_t shrink = std::max<int64_t>(1, limit.poll_us / 128);
    const int64_t grow = std::max<int64_t>(1, limit.poll_us / 8);
    int64_t& expected = expected_us_[limit.max_us];
    int64_t waited = std::min(expected, limit.max_us);
    if (waited > 0) {
        if (const int io = idle(waited); io != JTAG_OK) return io;
    }
    for (int reads = 0;; ++reads) {
        if (progress)
            spirom_progress(static_cast<int>(std::min<int64_t>(waited * 100 / limit.max_us, 100)),
                            100, "");
        uint8_t status = 0;
        if (const int io = read_status(&status); io != JTAG_OK) return io;
        const bool ready = group_ == Group::At45 ? (status & 0x80) != 0 : (status & 1) == 0;
        if (ready) {
            expected = reads == 0 ? std::max<int64_t>(0, waited - shrink) : waited;
            return JTAG_OK;
        }
        if (cancel && !spirom_running()) return JTAG_CANCELLED;
        if (waited >= limit.max_us) return kTimedOut;
        // Just past a learned length the cycle is about to end.
        const int64_t next =
            reads == 0 && expected > 0 ? std::min(grow, limit.poll_us) : limit.poll_us;
        if (const int io = idle(next); io != JTAG_OK) return io;
        waited += next;
    }
}

}  // namespace spirom_io

namespace spirom_io {

int load_image(const Geometry& geo, const char* path, uint32_t offset, bool trim,
               SpiRomImage* image, bool quiet) {
    if (!path || !*path) {
        spirom_log(tr_ja("ファイルが指定されていません"));
        return JTAG_FILE_OPEN;
    }
    if (geo.page_of(offset) >= geo.page_count || offset >= geo.address_end()) {
        spirom_log(tr_ja("オフセット 0x%X はROMの範囲外です"), offset);
        log_flash_extent(geo);
        return JTAG_ADDRESS_OVERFLOW;
    }
    if (!geo.page_aligned(offset)) {
        spirom_log(tr_ja("オフセット 0x%X はページの先頭ではありません (ページ %dバイト)"), offset,
                   geo.page_size);
        spirom_log("Program and verify start at a page: on this flash at a multiple of 0x%X.",
                   1u << geo.shift);
        return JTAG_ADDRESS_OVERFLOW;
    }
    const int64_t space = geo.flash_bytes() - int64_t{geo.page_of(offset)} * geo.page_size;
    const std::string shown = shown_text(path);
    std::string problem;
    switch (spirom_load_image(path, space, trim, image, &problem, quiet)) {
        case SpiRomLoad::Ok:
            return JTAG_OK;
        case SpiRomLoad::TooLarge:
            spirom_log(
                tr_ja("ファイル%sはオフセット 0x%X からのROMの容量 (%lldバイト) を超えています"),
                shown.c_str(), offset, static_cast<long long>(space));
            return JTAG_ADDRESS_OVERFLOW;
        case SpiRomLoad::Faulty:
            if (problem.empty()) {
                spirom_log(tr_ja("ファイル%sに誤りがあるため使用しません"), shown.c_str());
            } else {
                spirom_log(tr_ja("ファイル%sに誤りがあるため使用しません (%s)"), shown.c_str(),
                           problem.c_str());
            }
            return kHexFormatError;
        case SpiRomLoad::Empty:
            spirom_log(tr_ja("ファイル%sには書き込むデータがありません"), shown.c_str());
            return JTAG_FILE_OPEN;
        case SpiRomLoad::Incomplete:
            spirom_log(tr_ja("ファイル%sは終了レコードがなく、途中で切れています"), shown.c_str());
            return kHexFormatError;
        case SpiRomLoad::Unreadable:
            break;
    }
    spirom_log(tr_ja("ファイル%sが読み込めません (%s)"), shown.c_str(), problem.c_str());
    return JTAG_FILE_OPEN;
}

}  // namespace spirom_io
