// SST auto-address-increment (AAI) word programming. A word takes the chip 7 µs typically and
// 10 µs at most, and only its status says when it is done. Where the cable keeps captures on
// their way, the words go out at the pace the chip really keeps: each word is followed by idle
// clocks and a status frame whose bytes are read with the end of the page, and the idle clocks are
// learnt from those frames. A frame that finds the chip still busy means that the next word went
// out too early; the page is then reported overrun, and the caller writes its sector again at the
// data sheet's pace. Elsewhere every word waits the data-sheet maximum.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "spirom/spirom_io.h"

namespace spirom_io {

// A page whose words may not all have been taken (besides JTAG_OK and failures).
constexpr int kAaiOverrun = -2;

class AaiPacer {
  public:
    explicit AaiPacer(FlashIo& io) : io_(io) {}
    // No deferred status byte is left pointing into this pacer.
    ~AaiPacer();
    AaiPacer(const AaiPacer&) = delete;
    AaiPacer& operator=(const AaiPacer&) = delete;

    // Write enable, the page's words from address on, write disable.
    int send_page(uint32_t address, const uint8_t* data, int size);
    // Once the page's busy wait has ended: kAaiOverrun when a status frame found the chip busy
    // as the next word went out; otherwise the pace is tightened where every frame had time left.
    int check_page();
    // Every later word waits the data-sheet maximum.
    void careful() { mode_ = Mode::Careful; }

  private:
    enum class Mode { Unknown, Paced, Careful };
    int send_word(uint32_t address, const uint8_t* data, int k, int idle_clocks = 0);
    int learn(uint32_t address, const uint8_t* data);
    int paced_words(uint32_t address, const uint8_t* data, int from, int words);

    FlashIo& io_;
    Mode mode_ = Mode::Unknown;
    int64_t clocks_ = -1;  // idle clocks between a word and its status frame; -1 until learnt
    // Each frame's two status samples; sized before a page's frames go out, never while their
    // bytes are on their way.
    std::vector<std::array<uint8_t, 2>> samples_;
};

}  // namespace spirom_io
