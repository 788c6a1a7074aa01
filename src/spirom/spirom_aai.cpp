#include "spirom/spirom_aai.h"

#include <algorithm>

#include "jtag/status.h"

namespace spirom_io {
namespace {

constexpr int64_t kWordMaxUs = 10;  // AAI word program, data-sheet maximum
// Status frames after the learning word: enough for the maximum at any TCK up to about 140 MHz.
constexpr int kLearningFrames = 48;
// A frame samples the status twice, eight clocks apart. Where the first sample already found the
// chip ready after every word of a page, the next page idles this many clocks less: its second
// sample then still comes after the moment the first one found.
constexpr int64_t kTighten = 6;

bool busy(uint8_t status) {
    return status & 1;
}

}  // namespace

AaiPacer::~AaiPacer() {
    [[maybe_unused]] const int collected = io_.collect();
}

int AaiPacer::send_word(uint32_t address, const uint8_t* data, int k, int idle_clocks) {
    if (k == 0)
        return io_.command(
            {0xAD, static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
             static_cast<uint8_t>(address), data[0], data[1]},
            idle_clocks);
    return io_.command({0xAD, data[2 * k], data[2 * k + 1]}, idle_clocks);
}

// Words 0 and 1 of the first page, word 1 followed by status frames back to back: the first frame
// that finds the chip ready gives the idle clocks of the pace, with one frame to spare.
int AaiPacer::learn(uint32_t address, const uint8_t* data) {
    int status = send_word(address, data, 0);
    if (status == JTAG_OK) status = io_.idle(kWordMaxUs);
    if (status == JTAG_OK) status = send_word(address, data, 1);
    samples_.assign(kLearningFrames, {});
    for (auto& sample : samples_) {
        if (status == JTAG_OK) status = io_.probe(sample.data());
    }
    if (status == JTAG_OK) status = io_.collect();
    if (status != JTAG_OK) return status;
    const auto ready = std::ranges::find_if(samples_, [](const auto& s) { return !busy(s[1]); });
    if (ready == samples_.end()) {
        mode_ = Mode::Careful;
        return io_.idle(kWordMaxUs);
    }
    clocks_ = (ready - samples_.begin() + 1) * io_.frame_clocks();
    mode_ = Mode::Paced;
    samples_.clear();
    return JTAG_OK;
}

int AaiPacer::paced_words(uint32_t address, const uint8_t* data, int from, int words) {
    samples_.assign(static_cast<size_t>(words - from), {});
    int status = JTAG_OK;
    for (int k = from; status == JTAG_OK && k < words; ++k) {
        // The idle clocks ride in the word's own scan.
        status = send_word(address, data, k, static_cast<int>(clocks_));
        if (status == JTAG_OK) status = io_.probe(samples_[k - from].data());
    }
    return status;
}

int AaiPacer::send_page(uint32_t address, const uint8_t* data, int size) {
    // The frames of a page cut short are read before their samples are dropped.
    if (const int status = io_.collect(); status != JTAG_OK) return status;
    samples_.clear();
    if (mode_ == Mode::Unknown) mode_ = io_.defers() ? Mode::Paced : Mode::Careful;
    const int words = size / 2;
    int status = io_.command({0x06});
    int from = 0;
    if (status == JTAG_OK && mode_ == Mode::Paced && clocks_ < 0 && words >= 2) {
        status = learn(address, data);
        from = 2;
    }
    if (status == JTAG_OK && mode_ == Mode::Paced) status = paced_words(address, data, from, words);
    for (int k = from; status == JTAG_OK && mode_ == Mode::Careful && k < words; ++k) {
        status = send_word(address, data, k);
        if (status == JTAG_OK) status = io_.idle(kWordMaxUs);
    }
    if (status == JTAG_OK) status = io_.command({0x04});
    return status;
}

int AaiPacer::check_page() {
    if (const int status = io_.collect(); status != JTAG_OK) return status;
    if (mode_ != Mode::Paced || samples_.empty()) return JTAG_OK;
    if (std::ranges::any_of(samples_, [](const auto& s) { return busy(s[1]); })) return kAaiOverrun;
    if (std::ranges::none_of(samples_, [](const auto& s) { return busy(s[0]); }))
        clocks_ = std::max<int64_t>(0, clocks_ - kTighten);
    samples_.clear();
    return JTAG_OK;
}

}  // namespace spirom_io
