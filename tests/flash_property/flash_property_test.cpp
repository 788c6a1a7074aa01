// The SPI ROM commands against a byte model of the flash: random sequences of program, verify,
// read (to the end or a range from any byte), erase (the chip or a range from any byte) and
// refused commands on each flash family behind kb2203 (half the time with program cycles that
// now and then take longer than typical), with raw, sparse Intel HEX
// and S-record images, some runs cut (the board unplugged after a chosen USB transfer, then
// replugged with the same flash) or cancelled after a chosen progress event.
//
// The model holds what the flash must hold, linear over pages (page p, byte b at p*size + b;
// the flash address of that byte is (p << shift) + b). After every command the whole array is
// compared with it. Bytes a cut or cancelled command may have left half-written (the file's own
// ranges) are taken over from the flash afterwards: from then on they must not change either.
//
// VIREO_PROPERTY_SEED=<seed>        replays one iteration (printed with every failure)
// VIREO_PROPERTY_ITERATIONS=<n>     the number of iterations of the fixed-seed sweep
// VIREO_SOAK_SECONDS=<s>            fresh seeds until s seconds have passed
// VIREO_PROPERTY_VERBOSE=1          each step, and the command's log with a failure
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "app/app_fixture.h"
#include "app/session.h"
#include "cables/usb_virtual.h"
#include "jtag/status.h"
#include "sim/spi_flash.h"

namespace vireo::app {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct PartCase {
    const char* name;
    bool binary_pages;  // AT45: the stored power-of-two page size
};
constexpr PartCase kParts[] = {
    {"N25Q128", false},     {"W25Q256JV", false}, {"N25Q256", false},    {"M25P128", false},
    {"SST25VF032B", false}, {"AT25DQ321", false}, {"AT45DB161D", false}, {"AT45DB161D", true},
};
constexpr uint64_t kPartCount = std::size(kParts);
constexpr uint64_t k16MB = uint64_t{1} << 24;
constexpr uint64_t kSweepBase = 0x5EED0000;
#if defined(__SANITIZE_ADDRESS__)
constexpr int kSweepIterations = 8;
#else
constexpr int kSweepIterations = 56;
#endif

// Pages as the model sees them and as the part's array stores them.
struct Geometry {
    uint32_t page = 0, pages = 0, shift = 0, stride = 0;
    uint32_t unit = 0;  // bytes one erase sector spans (AT45: one 8-page block)
    uint64_t bytes() const { return uint64_t{page} * pages; }
    uint32_t address(uint64_t linear) const {
        return static_cast<uint32_t>(((linear / page) << shift) + linear % page);
    }
    std::optional<uint64_t> linear(uint32_t address) const {
        const uint32_t byte = address & ((1u << shift) - 1);
        if (byte >= page || (address >> shift) >= pages) return std::nullopt;
        return uint64_t{address >> shift} * page + byte;
    }
};

// The AT45 pages as the part stores them; the 25-series parts are linear, in pages of the size
// the programmer works with (`logged_page`, from its identification lines).
Geometry geometry_of(const sim::FlashPart& part, bool binary, uint32_t logged_page) {
    if (part.family == sim::FlashFamily::At45) {
        const uint32_t page = binary ? std::bit_floor(part.at45_page) : part.at45_page;
        return {page, part.at45_pages, static_cast<uint32_t>(std::bit_width(page - 1)),
                part.at45_page, 8 * page};
    }
    const uint32_t page = logged_page ? logged_page : 256;
    return {page, part.size / page, static_cast<uint32_t>(std::countr_zero(page)), page,
            part.sector};
}

// A closed range of model bytes [first, last + 1).
struct Range {
    uint64_t begin = 0, end = 0;
    bool contains(uint64_t at) const { return at >= begin && at < end; }
};

struct Block {
    uint64_t at = 0;  // image address (the record's address)
    Bytes bytes;
};

enum class Kind { Bin, Hex, Srec };

// An image file as the test wrote it: its blocks by image address, and what it should do.
struct ImageFile {
    std::string path;
    Kind kind = Kind::Bin;
    std::vector<Block> blocks;
    std::string refusal;  // why the programmer must refuse it ("" when it must not)
};

std::string hex(uint64_t value, int digits = 0) {
    char text[32];
    std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

// Intel HEX: data records of up to 16 bytes that never cross 64 KB, each 64 KB with its extended
// linear address record, then the end-of-file record unless told not to.
std::string intel_hex(const std::vector<Block>& blocks, bool end_record) {
    std::string out;
    auto record = [&](uint8_t type, uint16_t address, const uint8_t* data, size_t count) {
        unsigned sum = count + (address >> 8) + (address & 0xFF) + type;
        out += ":" + hex(count, 2) + hex(address, 4) + hex(type, 2);
        for (size_t i = 0; i < count; ++i) out += hex(data[i], 2), sum += data[i];
        out += hex((0x100 - (sum & 0xFF)) & 0xFF, 2) + "\n";
    };
    int64_t upper = -1;
    for (const Block& b : blocks) {
        for (size_t i = 0; i < b.bytes.size();) {
            const uint64_t at = b.at + i;
            if (static_cast<int64_t>(at >> 16) != upper) {
                upper = static_cast<int64_t>(at >> 16);
                const uint8_t ela[2] = {uint8_t(upper >> 8), uint8_t(upper)};
                record(0x04, 0, ela, 2);
            }
            const size_t n = std::min<uint64_t>({16, b.bytes.size() - i, 0x10000 - (at & 0xFFFF)});
            record(0x00, uint16_t(at), b.bytes.data() + i, n);
            i += n;
        }
    }
    if (end_record) out += ":00000001FF\n";
    return out;
}

// Motorola S-record: an S0 header, S3 records with 4-byte addresses, the S7 end record.
std::string s_records(const std::vector<Block>& blocks) {
    std::string out;
    auto record = [&](char type, uint32_t address, int address_bytes, const uint8_t* data,
                      size_t count) {
        const size_t length = address_bytes + count + 1;
        unsigned sum = length;
        out += std::string("S") + type + hex(length, 2);
        for (int k = address_bytes - 1; k >= 0; --k) {
            const uint8_t byte = uint8_t(address >> (8 * k));
            out += hex(byte, 2), sum += byte;
        }
        for (size_t i = 0; i < count; ++i) out += hex(data[i], 2), sum += data[i];
        out += hex(~sum & 0xFF, 2) + "\n";
    };
    const uint8_t name[] = {'t', 'e', 's', 't'};
    record('0', 0, 2, name, sizeof name);
    for (const Block& b : blocks)
        for (size_t i = 0; i < b.bytes.size(); i += 16)
            record('3', uint32_t(b.at + i), 4, b.bytes.data() + i,
                   std::min<size_t>(16, b.bytes.size() - i));
    record('7', 0, 4, nullptr, 0);
    return out;
}

void write_file(const ImageFile& f, bool end_record = true) {
    std::ofstream out(f.path, std::ios::binary | std::ios::trunc);
    if (f.kind == Kind::Bin) {
        for (const Block& b : f.blocks)
            out.write(reinterpret_cast<const char*>(b.bytes.data()), b.bytes.size());
    } else {
        out << (f.kind == Kind::Hex ? intel_hex(f.blocks, end_record) : s_records(f.blocks));
    }
}

Bytes read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The ui of the property run: records as RecordingUi does, cancels the command at a chosen
// progress event of a flash phase, and notes whether the board was already cut when the result
// was shown.
class PropertyUi : public RecordingUi {
  public:
    void process_events() override {
        RecordingUi::process_events();
        // Until the result line: the FPGA restart after a program is no flash phase.
        const bool flash_phase = results.empty() && !phases.empty() &&
                                 (phases.back() == "Program" || phases.back() == "Verify" ||
                                  phases.back() == "Readback" || phases.back() == "Erase");
        if (!flash_phase) return;
        ++flash_events;
        if (cancel_at > 0 && flash_events == cancel_at && session) {
            cancelled = true;
            session->cancel();
        }
    }
    void show_result(const std::string& text, int status) override {
        cut_before_result = board && board->unplugged();
        RecordingUi::show_result(text, status);
    }
    void start_command() {
        log.clear(), results.clear(), phases.clear(), questions.clear(), messages.clear();
        flash_events = 0, cancelled = false, cut_before_result = false;
    }

    Session* session = nullptr;
    sim::VirtualBoard* board = nullptr;
    int cancel_at = 0, flash_events = 0;
    bool cancelled = false, cut_before_result = false;
};

// What a sweep covered.
struct Tally {
    int iterations = 0, commands = 0, programs = 0, verifies = 0, reads = 0, erases = 0;
    int ranged_reads = 0, erase_ranges = 0;
    int refusals = 0, cuts = 0, cancels = 0, rescues = 0, restores = 0;
};

struct Failure {
    std::string what;
};

class FlashProperty : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        install_host(&pui_, paths_);
        dir_ = fs::temp_directory_path() / ("vireo_flash_property_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        verbose_ = std::getenv("VIREO_PROPERTY_VERBOSE") != nullptr;
    }
    void TearDown() override {
        unplug_all();
        fs::remove_all(dir_);
        AppTest::TearDown();
    }

    // One iteration: its part, window, commands and checks all follow from `seed`.
    std::optional<Failure> iterate(uint64_t seed);
    // Closes the session and takes the board away.
    void unplug_all();

    fs::path dir_;
    PropertyUi pui_;
    Tally tally_;
    bool verbose_ = false;

  private:
    // Powers up a board of the iteration's part holding `contents` (a fresh part each time, as
    // after a replug) and opens the SPI ROM target on it. unplug: transfers before the cut (0:
    // none).
    std::optional<Failure> plug(const Bytes& contents, uint64_t unplug = 0, bool check = true);
    Bytes array() { return board_->chain().find<sim::XilinxFpga>()->flash()->array(); }
    const uint8_t* raw() {
        return board_->chain().find<sim::XilinxFpga>()->flash()->array().data();
    }
    Bytes linear_flash();
    // Model bytes that differ from the flash, as ranges (adjacent bytes merged).
    std::vector<Range> differences();

    ImageFile make_file(Kind kind, uint64_t start, uint32_t offset_page, uint64_t room);
    std::vector<Range> ranges(const ImageFile& f, uint32_t offset) const;
    uint64_t random_in(uint64_t low, uint64_t high) {  // inclusive
        return low + rng_() % (high - low + 1);
    }
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
    Bytes random_bytes(size_t n) {
        Bytes b(n);
        for (uint8_t& x : b) x = static_cast<uint8_t>(rng_());
        return b;
    }

    enum class Command { Program, Verify, Read, Erase, EraseRange };
    enum class Interference { None, Cut, Cancel };
    // Runs a command, with its cut or cancel, and checks every invariant against the model.
    std::optional<Failure> run(Command command, const ImageFile& file, uint32_t offset, bool verify,
                               Interference interference);
    int execute(Command command, const ImageFile& file, uint32_t offset, bool verify);
    std::optional<Failure> check_rescues(const std::string& log, const ImageFile& file,
                                         const std::vector<Range>& in_file,
                                         const std::vector<Range>& outside, const Bytes& wanted);
    uint64_t page_base(uint32_t offset) const { return uint64_t{offset >> geo_.shift} * geo_.page; }
    uint8_t flash_byte(uint64_t at) { return raw()[at / geo_.page * geo_.stride + at % geo_.page]; }

    std::mt19937_64 rng_;
    const sim::FlashPart* part_ = nullptr;
    sim::FlashPart slow_part_;
    bool binary_ = false;
    Geometry geo_;
    // board_ (AppTest's) is the board plugged now; session_ the session on it.
    Bytes model_;  // what the flash must hold, linear
    std::unique_ptr<Session> session_;
    uint64_t window_ = 0, window_end_ = 0;  // the model bytes this iteration works in
    int files_ = 0;
    std::string step_;    // the command being checked, for failure texts
    int64_t count_ = -1;  // the --size of a read or an erase range (-1: none)
    // A random range of model bytes from any byte of the window, and its flash address.
    Range random_range() {
        const uint64_t begin = random_in(window_, window_end_ - 1);
        const uint64_t most = chance(0.3) ? window_end_ - begin
                                          : std::min<uint64_t>(window_end_ - begin, 3 * geo_.page);
        return {begin, begin + random_in(1, most)};
    }
};

std::optional<Failure> FlashProperty::plug(const Bytes& contents, uint64_t unplug, bool check) {
    unplug_all();
    std::string text = std::string("kb2203,flash=") + std::string(part_->name);
    if (unplug > 0) text += ",unplug=" + std::to_string(unplug);
    std::string error;
    board_ = sim::make_virtual_board(text, &error);
    if (!board_) return Failure{"board: " + error};
    std::shared_ptr<sim::SpiFlash> flash = sim::make_spi_flash(*part_, binary_);
    flash->array() = contents;
    board_->chain().find<sim::XilinxFpga>()->set_flash(std::move(flash));
    usb_use_virtual_board(board_);
    session_ = std::make_unique<Session>(pui_, paths_);
    pui_.session = session_.get(), pui_.board = board_.get();
    pui_.start_command();
    if (session_->set_target(Target::SpiRom) != JTAG_OK)
        return Failure{"SPI ROM target not opened:\n" + pui_.joined()};
    // The programmer must see the part as the model does.
    const std::string log = pui_.joined();
    if (check &&
        (log.find("Page size         " + std::to_string(geo_.page) + "\n") == std::string::npos ||
         log.find("Max pages         " + std::to_string(geo_.pages) + "\n") == std::string::npos))
        return Failure{"the flash was identified with another geometry:\n" + pui_.joined()};
    return std::nullopt;
}

void FlashProperty::unplug_all() {
    session_.reset();
    pui_.session = nullptr, pui_.board = nullptr;
    usb_use_virtual_board(nullptr);
    board_.reset();
}

Bytes FlashProperty::linear_flash() {
    const uint8_t* a = raw();
    if (geo_.stride == geo_.page) return Bytes(a, a + geo_.bytes());
    Bytes out(geo_.bytes());
    for (uint32_t p = 0; p < geo_.pages; ++p)
        std::memcpy(out.data() + uint64_t{p} * geo_.page, a + uint64_t{p} * geo_.stride, geo_.page);
    return out;
}

std::vector<Range> FlashProperty::differences() {
    std::vector<Range> out;
    const uint8_t* a = raw();
    auto note = [&](uint64_t at) {
        if (!out.empty() && out.back().end == at)
            ++out.back().end;
        else
            out.push_back({at, at + 1});
    };
    for (uint32_t p = 0; p < geo_.pages; ++p) {
        const uint8_t* flash = a + uint64_t{p} * geo_.stride;
        const uint8_t* model = model_.data() + uint64_t{p} * geo_.page;
        if (std::memcmp(flash, model, geo_.page) == 0) continue;
        for (uint32_t b = 0; b < geo_.page; ++b)
            if (flash[b] != model[b]) note(uint64_t{p} * geo_.page + b);
    }
    return out;
}

std::string describe(const std::vector<Range>& ranges, const Geometry& geo, size_t most = 4) {
    std::string out;
    for (size_t i = 0; i < ranges.size() && i < most; ++i)
        out += (i ? ", " : "") + hex(geo.address(ranges[i].begin)) + "-" +
               hex(geo.address(ranges[i].end - 1));
    if (ranges.size() > most) out += ", ... (" + std::to_string(ranges.size()) + " ranges)";
    return out;
}

bool inside(const std::vector<Range>& ranges, uint64_t at) {
    return std::any_of(ranges.begin(), ranges.end(),
                       [&](const Range& r) { return r.contains(at); });
}

// The file's ranges in model bytes when given at `offset`.
std::vector<Range> FlashProperty::ranges(const ImageFile& f, uint32_t offset) const {
    const uint64_t base = uint64_t{offset >> geo_.shift} * geo_.page;
    std::vector<Range> out;
    for (const Block& b : f.blocks)
        if (!b.bytes.empty()) out.push_back({base + b.at, base + b.at + b.bytes.size()});
    return out;
}

// A file whose data starts at model byte `start`, given at the offset of page `offset_page`,
// with at most `room` bytes from `start` on.
ImageFile FlashProperty::make_file(Kind kind, uint64_t start, uint32_t offset_page, uint64_t room) {
    ImageFile f;
    f.kind = kind;
    f.path = (dir_ / ("image" + std::to_string(files_++) +
                      (kind == Kind::Bin   ? ".bin"
                       : kind == Kind::Hex ? ".hex"
                                           : ".srec")))
                 .string();
    uint64_t at = start - uint64_t{offset_page} * geo_.page;
    const uint64_t limit = at + room;
    const uint64_t longest = std::min<uint64_t>(room, 2 * geo_.unit + geo_.page * 3);
    if (kind == Kind::Bin) {
        f.blocks.push_back({0, random_bytes(random_in(1, std::max<uint64_t>(1, longest)))});
        return f;
    }
    const int count = static_cast<int>(random_in(1, 4));
    for (int i = 0; i < count && at < limit; ++i) {
        const uint64_t most = std::min<uint64_t>(limit - at, geo_.unit / 2 + 40);
        f.blocks.push_back({at, random_bytes(random_in(1, std::max<uint64_t>(1, most)))});
        at += f.blocks.back().bytes.size() + random_in(1, geo_.page * 5 / 2);
    }
    if (chance(0.2)) std::shuffle(f.blocks.begin(), f.blocks.end(), rng_);
    return f;
}

int FlashProperty::execute(Command command, const ImageFile& file, uint32_t offset, bool verify) {
    switch (command) {
        case Command::Program:
            return session_->flash_program(file.path, offset, true, verify);
        case Command::Verify:
            return session_->flash_verify(file.path, offset);
        case Command::Read:
            return session_->flash_read(file.path, offset, true, count_);
        case Command::Erase:
            return session_->flash_erase();
        case Command::EraseRange:
            return session_->flash_erase(offset, count_);
    }
    return JTAG_FAIL;
}

std::optional<Failure> FlashProperty::run(Command command, const ImageFile& file, uint32_t offset,
                                          bool verify, Interference interference) {
    ++tally_.commands;
    const auto began = std::chrono::steady_clock::now();
    // A dry run on a replugged board with the same flash counts the command's transfers and
    // progress events, so that the cut or the cancel lands inside it.
    uint64_t cut_after = 0;
    if (interference != Interference::None) {
        const Bytes contents = array();
        if (auto f = plug(contents)) return f;
        const uint64_t setup = board_->counters().transfers;
        pui_.start_command();
        (void)execute(command, file, offset, verify);
        const uint64_t total = board_->counters().transfers;
        const int events = pui_.flash_events;
        if (interference == Interference::Cut && total > setup + 1)
            cut_after = random_in(setup, total - 1);
        else if (interference == Interference::Cancel && events > 0)
            pui_.cancel_at = static_cast<int>(random_in(1, static_cast<uint64_t>(events)));
        else
            interference = Interference::None;
        if (auto f = plug(contents, interference == Interference::Cut ? cut_after : 0)) return f;
    }
    pui_.start_command();
    const int result = execute(command, file, offset, verify);
    pui_.cancel_at = 0;
    const bool cancelled = pui_.cancelled;
    const bool cut = board_->unplugged();
    // A cut after the result was shown hits the FPGA restart, not the flash command.
    const bool cut_early = cut && (pui_.results.empty() || pui_.cut_before_result);
    tally_.cuts += cut;
    tally_.cancels += cancelled;
    step_ += " -> " + std::to_string(result);
    if (cut) step_ += " (cut after transfer " + std::to_string(cut_after) + ")";
    if (cancelled)
        step_ += " (cancelled at progress event " + std::to_string(pui_.flash_events) + ")";
    if (verbose_)
        std::printf(
            "  %s  [%.0f ms]\n", step_.c_str(),
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began)
                .count());

    const std::string name = command == Command::Program  ? "Program"
                             : command == Command::Verify ? "Verify"
                             : command == Command::Read   ? "Readback"
                                                          : "Erase";
    // An erase range is a program of erased bytes over [offset, offset + count).
    const bool ranged_erase = command == Command::EraseRange;
    const Range erased = ranged_erase && geo_.linear(offset)
                             ? Range{*geo_.linear(offset), *geo_.linear(offset) + count_}
                             : Range{};
    const bool success_line =
        std::any_of(pui_.results.begin(), pui_.results.end(),
                    [](const std::string& r) { return r.find("Success!!") != std::string::npos; });
    const std::string log = pui_.joined();
    auto fail = [&](const std::string& what) {
        return Failure{step_ + ": " + what + (verbose_ ? "\n--- log ---\n" + log : "")};
    };
    // Invariants 1 and 2: the result and its line agree; a cancel is 24, a cut never 1.
    if (success_line != (result == JTAG_OK))
        return fail("returned " + std::to_string(result) + " with the result line '" +
                    (pui_.results.empty() ? "" : pui_.results.back()) + "'");
    if (success_line && pui_.results.back() != name + " Success!!")
        return fail("result line '" + pui_.results.back() + "'");
    if (cancelled && result != JTAG_CANCELLED)
        return fail("cancelled, yet returned " + std::to_string(result));
    if (cut_early && result == JTAG_OK) return fail("the cable was cut, yet it returned 1");
    if (!file.refusal.empty() && result == JTAG_OK) return fail("accepted though " + file.refusal);

    // The user replugs: the same flash on a fresh board.
    if (cut) {
        if (auto f = plug(array())) return f;
    }
    if (command == Command::Erase) {
        const Bytes now = linear_flash();
        const bool blank = std::all_of(now.begin(), now.end(), [](uint8_t b) { return b == 0xFF; });
        if (result == JTAG_OK && !blank) return fail("returned 1, the flash is not blank");
        if (result != JTAG_OK) return fail("the erase failed");
        model_ = now;
        return std::nullopt;
    }
    const bool programs = (command == Command::Program || ranged_erase) && file.refusal.empty();
    const std::vector<Range> in_file = !programs      ? std::vector<Range>{}
                                       : ranged_erase ? std::vector<Range>{erased}
                                                      : ranges(file, offset);
    // The flash after a complete program (the model stays as it was until the checks end).
    Bytes wanted;
    if (programs) wanted = model_;
    if (programs && ranged_erase)
        std::fill(wanted.begin() + static_cast<int64_t>(erased.begin),
                  wanted.begin() + static_cast<int64_t>(erased.end), uint8_t{0xFF});
    else if (programs)
        for (const Block& b : file.blocks)
            std::copy(b.bytes.begin(), b.bytes.end(),
                      wanted.begin() + static_cast<int64_t>(page_base(offset) + b.at));
    if (programs && result == JTAG_OK) {
        model_ = std::move(wanted);
        if (const std::vector<Range> wrong = differences(); !wrong.empty())
            return fail("returned 1, but the flash differs from the image at " +
                        describe(wrong, geo_));
        if (verify && !ranged_erase && log.find("SPIのベリファイを開始します") == std::string::npos)
            return fail("returned 1 without verifying");
        return std::nullopt;
    }
    if (!cut && !cancelled && file.refusal.empty() && result != JTAG_OK &&
        command != Command::Verify)
        return fail("failed on a good input without a cut or a cancel");

    // Invariant 3: bytes outside the file's ranges are as they were, but for damaged ranges
    // named with a rescue file after a cut.
    std::vector<Range> outside;
    for (const Range& r : differences())
        for (uint64_t at = r.begin; at < r.end; ++at) {
            if (inside(in_file, at)) continue;
            if (!outside.empty() && outside.back().end == at)
                ++outside.back().end;
            else
                outside.push_back({at, at + 1});
        }
    const bool rescue_named = log.find("vireo-flash-") != std::string::npos;
    if (cancelled && rescue_named) return fail("a cancel named a rescue file");
    if (!outside.empty() && !cut)
        return fail("bytes outside the file changed at " + describe(outside, geo_));
    if (cut || rescue_named) {
        if (wanted.empty()) wanted = model_;
        if (auto f = check_rescues(log, file, in_file, outside, wanted)) return fail(f->what);
    }
    // Invariant 4: whatever a stopped program left in the file's ranges stays there from now on.
    for (const Range& r : in_file)
        for (uint64_t at = r.begin; at < r.end; ++at) model_[at] = flash_byte(at);

    if (command == Command::Verify && !cut && !cancelled && file.refusal.empty()) {
        // The verdict follows from what the flash holds in the file's ranges.
        bool same = true;
        for (const Block& b : file.blocks)
            for (size_t i = 0; same && i < b.bytes.size(); ++i) {
                const uint64_t at = page_base(offset) + b.at + i;
                same = at < geo_.bytes() && flash_byte(at) == b.bytes[i];
            }
        const int expected = same ? JTAG_OK : JTAG_VERIFY;
        if (result != expected)
            return fail("returned " + std::to_string(result) + ", but the flash " +
                        (same ? "holds" : "does not hold") + " the file at " +
                        describe(ranges(file, offset), geo_));
    }
    if (command == Command::Read && !cut && !cancelled) {
        const Bytes out = read_bytes(file.path);
        const uint64_t from = geo_.linear(offset).value_or(0);
        const uint64_t to = count_ < 0 ? geo_.bytes() : from + count_;
        bool same = out.size() == to - from;
        for (uint64_t at = from; same && at < to; ++at) same = out[at - from] == flash_byte(at);
        if (!same)
            return fail("the file read (" + std::to_string(out.size()) +
                        " bytes) is not the flash from " + hex(offset) +
                        (count_ < 0 ? " to its end" : ", " + std::to_string(count_) + " bytes"));
    }
    return std::nullopt;
}

// After a cut: every changed byte outside the file lies in a range the log names with its
// rescue file and restore command; the file holds the range as it should read afterwards. The
// user then restores it as the log says (most runs), or the model takes the flash as it is.
std::optional<Failure> FlashProperty::check_rescues(const std::string& log, const ImageFile& file,
                                                    const std::vector<Range>& in_file,
                                                    const std::vector<Range>& outside,
                                                    const Bytes& wanted) {
    std::vector<std::pair<Range, fs::path>> rescues;
    // "vireo-flash-<8 hex>-<8 hex>.bin" (std::regex does not build warning-free under asan).
    constexpr std::string_view kPrefix = "vireo-flash-";
    for (size_t at = log.find(kPrefix); at != std::string::npos; at = log.find(kPrefix, at + 1)) {
        const std::string name = log.substr(at, kPrefix.size() + 21);
        if (name.size() != kPrefix.size() + 21 || name[kPrefix.size() + 8] != '-' ||
            !name.ends_with(".bin") ||
            name.find_first_not_of("0123456789ABCDEF-", kPrefix.size()) != kPrefix.size() + 17)
            continue;
        const uint32_t start =
            static_cast<uint32_t>(std::stoul(name.substr(kPrefix.size(), 8), nullptr, 16));
        const uint32_t end =
            static_cast<uint32_t>(std::stoul(name.substr(kPrefix.size() + 9, 8), nullptr, 16));
        const std::optional<uint64_t> first = geo_.linear(start), last = geo_.linear(end);
        if (!first || !last || *last < *first || *first % geo_.page != 0 ||
            (*last + 1) % geo_.page != 0)
            return Failure{"the rescue range " + name + " is not whole pages"};
        fs::path path = fs::path(file.path).parent_path() / name;
        if (!fs::exists(path)) path = fs::current_path() / name;
        if (!fs::exists(path)) return Failure{"the named rescue file " + name + " is missing"};
        if (log.find("vireo flash program --offset " + hex(start) + " ") == std::string::npos &&
            log.find("vireo flash program --offset 0x" + hex(start) + " ") == std::string::npos &&
            log.find("vireo flash program --offset " + hex(start, 8) + " ") == std::string::npos)
            return Failure{"the log names " + name + " without its restore command"};
        if (std::none_of(rescues.begin(), rescues.end(),
                         [&](const auto& r) { return r.second == path; }))
            rescues.push_back({{*first, *last + 1}, path});
    }
    for (const Range& r : outside)
        for (uint64_t at = r.begin; at < r.end; ++at)
            if (std::none_of(rescues.begin(), rescues.end(),
                             [&](const auto& x) { return x.first.contains(at); }))
                return Failure{"bytes outside the file changed at " + describe(outside, geo_) +
                               "; no rescue file covers " + hex(geo_.address(at))};
    for (const auto& [range, path] : rescues) {
        ++tally_.rescues;
        const Bytes saved = read_bytes(path);
        if (saved.size() != range.end - range.begin)
            return Failure{path.filename().string() + " holds " + std::to_string(saved.size()) +
                           " bytes, its range " + std::to_string(range.end - range.begin)};
        for (uint64_t at = range.begin; at < range.end; ++at)
            if (saved[at - range.begin] != wanted[at])
                return Failure{path.filename().string() + " differs at " + hex(geo_.address(at)) +
                               " from what the flash should hold (" +
                               (inside(in_file, at) ? "the file's byte" : "the byte before") + ")"};
    }
    for (const auto& [range, path] : rescues) {
        if (chance(0.7)) {
            ++tally_.restores;
            pui_.start_command();
            const int result = session_->flash_program(path.string(), geo_.address(range.begin));
            std::copy(wanted.begin() + static_cast<int64_t>(range.begin),
                      wanted.begin() + static_cast<int64_t>(range.end),
                      model_.begin() + static_cast<int64_t>(range.begin));
            if (result != JTAG_OK)
                return Failure{"restoring " + path.filename().string() + " returned " +
                               std::to_string(result)};
        } else {
            for (uint64_t at = range.begin; at < range.end; ++at) model_[at] = flash_byte(at);
        }
        fs::remove(path);
    }
    std::vector<Range> wrong;
    for (const Range& r : differences())
        for (uint64_t at = r.begin; at < r.end; ++at)
            if (!inside(in_file, at)) {
                wrong.push_back(r);
                break;
            }
    if (!wrong.empty())
        return Failure{"after the rescue the flash differs at " + describe(wrong, geo_)};
    return std::nullopt;
}

std::optional<Failure> FlashProperty::iterate(uint64_t seed) {
    const PartCase& pc = kParts[seed % kPartCount];
    rng_.seed(seed * 0x9E3779B97F4A7C15ull + 1);
    part_ = sim::find_flash_part(pc.name);
    if (!part_) return Failure{std::string("no flash part ") + pc.name};
    binary_ = pc.binary_pages;
    // Half the runs on a part whose program cycles spread as real chips' do: now and then one
    // takes longer than typical (an SST word then outruns a pace learnt from the typical ones).
    if (chance(0.5)) {
        slow_part_ = *part_;
        slow_part_.slow_one_in = static_cast<uint32_t>(random_in(20, 2000));
        slow_part_.slow_ns = part_->page_ns * 10 / 7;
        part_ = &slow_part_;
    }
    // The page size of a linear part is the programmer's choice: asked once per part.
    static std::map<std::string, uint32_t> logged_pages;
    if (part_->family != sim::FlashFamily::At45 && !logged_pages.count(pc.name)) {
        geo_ = geometry_of(*part_, binary_, 256);
        if (auto f = plug(Bytes(part_->size, 0xFF), 0, false)) return f;
        const std::string log = pui_.joined();
        const size_t at = log.find("Page size ");
        if (at == std::string::npos) return Failure{"no page size logged:\n" + log};
        logged_pages[pc.name] = static_cast<uint32_t>(std::stoul(log.substr(at + 10)));
    }
    geo_ = geometry_of(*part_, binary_, logged_pages[pc.name]);
    if (geo_.page == 0 || geo_.bytes() != geo_.page * uint64_t{geo_.pages} ||
        (part_->family != sim::FlashFamily::At45 && geo_.bytes() != part_->size))
        return Failure{"page size " + std::to_string(geo_.page) + " does not divide the flash"};
    files_ = 0;
    ++tally_.iterations;

    // The window: a few sectors, across 16 MB on the 256-Mbit parts in most runs, sometimes at
    // the start or the end of the flash, anywhere else otherwise.
    const uint64_t size = geo_.bytes(), span = 3 * uint64_t{geo_.unit};
    const double where = std::uniform_real_distribution<double>(0, 1)(rng_);
    if (size > k16MB && where < 0.5)
        window_ = k16MB - random_in(1, 2 * geo_.unit / geo_.page) * geo_.page;
    else if (where < 0.65)
        window_ = 0;
    else if (where < 0.8)
        window_ = size - span;
    else
        window_ = random_in(0, (size - span) / geo_.page) * geo_.page;
    window_end_ = std::min(size, window_ + span);

    // The flash holds data around the window (some pages blank), so that kept bytes matter.
    model_.assign(size, 0xFF);
    const uint64_t noise = window_ > geo_.unit ? window_ - geo_.unit : 0;
    const uint64_t noise_end = std::min(size, window_end_ + geo_.unit);
    for (uint64_t p = noise / geo_.page; p < noise_end / geo_.page; ++p)
        if (chance(0.85))
            for (uint32_t b = 0; b < geo_.page; ++b)
                model_[p * geo_.page + b] = static_cast<uint8_t>(rng_());
    Bytes contents(uint64_t{geo_.stride} * geo_.pages, 0xFF);
    for (uint32_t p = 0; p < geo_.pages; ++p)
        std::memcpy(contents.data() + uint64_t{p} * geo_.stride,
                    model_.data() + uint64_t{p} * geo_.page, geo_.page);
    if (auto f = plug(contents)) return f;
    if (verbose_)
        std::printf("seed %llu: %s%s window %s-%s\n", static_cast<unsigned long long>(seed),
                    pc.name, binary_ ? " (512-byte pages)" : "", hex(geo_.address(window_)).c_str(),
                    hex(geo_.address(window_end_ - 1)).c_str());

    std::optional<ImageFile> last;  // the last file programmed, with its offset
    uint32_t last_offset = 0;
    const int steps = static_cast<int>(random_in(3, 7));
    bool erased = false;
    for (int step = 0; step < steps; ++step) {
        const double pick = std::uniform_real_distribution<double>(0, 1)(rng_);
        const double disturb = std::uniform_real_distribution<double>(0, 1)(rng_);
        Interference interference = disturb < 0.15   ? Interference::Cut
                                    : disturb < 0.27 ? Interference::Cancel
                                                     : Interference::None;
        std::optional<Failure> f;
        step_ = "step " + std::to_string(step) + ": ";
        if (pick < 0.5) {  // program a fresh file at a page of the window
            ++tally_.programs;
            const Kind kind = pick < 0.22 ? Kind::Bin : pick < 0.42 ? Kind::Hex : Kind::Srec;
            const uint64_t start =
                kind == Kind::Bin
                    ? random_in(window_ / geo_.page, (window_end_ - 1) / geo_.page) * geo_.page
                    : random_in(window_, window_end_ - 1);
            uint32_t offset_page = static_cast<uint32_t>(start / geo_.page);
            if (kind != Kind::Bin) {
                const double o = std::uniform_real_distribution<double>(0, 1)(rng_);
                offset_page = o < 0.35  ? 0
                              : o < 0.7 ? offset_page
                                        : static_cast<uint32_t>(random_in(0, offset_page));
            }
            const ImageFile file = make_file(kind, start, offset_page, window_end_ - start);
            write_file(file);
            const bool verify = chance(0.85);
            const uint32_t offset = offset_page << geo_.shift;
            step_ += "program " + fs::path(file.path).filename().string() + " at " + hex(offset) +
                     " [" + describe(ranges(file, offset), geo_) + "]" +
                     (verify ? "" : " no verify");
            f = run(Command::Program, file, offset, verify, interference);
            if (!f) last = file, last_offset = offset;
        } else if (pick < 0.62) {  // verify: the last file, a changed copy, or another place
            ++tally_.verifies;
            ImageFile file;
            uint32_t offset = last_offset;
            if (last && chance(0.5)) {
                file = *last;
            } else if (last && chance(0.5)) {
                file = *last;
                file.path = (dir_ / ("changed" + std::to_string(files_++) +
                                     fs::path(last->path).extension().string()))
                                .string();
                Block& b = file.blocks[random_in(0, file.blocks.size() - 1)];
                b.bytes[random_in(0, b.bytes.size() - 1)] ^=
                    static_cast<uint8_t>(random_in(1, 255));
                write_file(file);
            } else {
                const uint64_t start =
                    random_in(window_ / geo_.page, (window_end_ - 1) / geo_.page) * geo_.page;
                file = make_file(Kind::Bin, start, static_cast<uint32_t>(start / geo_.page),
                                 window_end_ - start);
                write_file(file);
                offset = static_cast<uint32_t>(start / geo_.page) << geo_.shift;
            }
            step_ += "verify " + fs::path(file.path).filename().string() + " at " + hex(offset);
            f = run(Command::Verify, file, offset, true,
                    chance(0.3) ? interference : Interference::None);
        } else if (pick < 0.77) {  // read or erase a range from any byte
            const Range r = random_range();
            count_ = static_cast<int64_t>(r.end - r.begin);
            const uint32_t offset = geo_.address(r.begin);
            if (chance(0.4)) {
                ++tally_.ranged_reads;
                ImageFile file;
                file.path = (dir_ / ("range" + std::to_string(files_++) + ".bin")).string();
                step_ += "read " + std::to_string(count_) + " bytes from " + hex(offset);
                f = run(Command::Read, file, offset, true,
                        chance(0.3) ? interference : Interference::None);
            } else {
                ++tally_.erase_ranges;
                step_ += "erase " + std::to_string(count_) + " bytes from " + hex(offset);
                f = run(Command::EraseRange, ImageFile{}, offset, true, interference);
            }
            count_ = -1;
        } else if (pick < 0.80) {  // read the end of the flash
            ++tally_.reads;
            const uint64_t from = std::max<uint64_t>(window_end_ >= size ? window_ : 0,
                                                     size - 2 * uint64_t{geo_.unit});
            const uint64_t start = random_in(from / geo_.page, size / geo_.page - 1) * geo_.page;
            ImageFile file;
            file.path = (dir_ / ("read" + std::to_string(files_++) + ".bin")).string();
            const uint32_t offset = geo_.address(start);
            step_ += "read from " + hex(offset);
            f = run(Command::Read, file, offset, true,
                    chance(0.3) ? interference : Interference::None);
        } else if (pick < 0.82 && !erased) {
            ++tally_.erases;
            erased = true;
            step_ += "erase";
            f = run(Command::Erase, ImageFile{}, 0, true, Interference::None);
        } else {  // inputs the programmer must refuse, leaving the flash as it is
            ++tally_.refusals;
            const int what = static_cast<int>(random_in(0, 6));
            if (what == 6) {  // an erase range that runs past the end: nothing is erased
                ImageFile none;
                none.refusal = "the range runs past the end of the flash";
                const uint64_t begin = geo_.bytes() - random_in(1, 2 * geo_.page);
                count_ = static_cast<int64_t>(geo_.bytes() - begin + random_in(1, geo_.page));
                step_ += "erase refused " + std::to_string(count_) + " bytes from " +
                         hex(geo_.address(begin));
                f = run(Command::EraseRange, none, geo_.address(begin), true, Interference::None);
                count_ = -1;
                if (f) {
                    f->what = std::string(pc.name) + (binary_ ? "/512" : "") + ", " + f->what;
                    return f;
                }
                continue;
            }
            const uint64_t start =
                random_in(window_ / geo_.page, (window_end_ - 1) / geo_.page) * geo_.page;
            uint32_t offset = geo_.address(start);
            ImageFile file =
                make_file(what < 2 ? Kind::Hex : Kind::Bin, start,
                          static_cast<uint32_t>(start / geo_.page), window_end_ - start);
            if (what == 0) {
                file.refusal = "the HEX file holds no data records";
                file.blocks.clear();
            } else if (what == 1) {
                file.refusal = "the HEX file lacks its end-of-file record";
            } else if (what == 2) {
                file.refusal = "the image does not fit from the offset";
                const uint64_t near_end = size - random_in(1, 3) * geo_.page;
                offset = geo_.address(near_end);
                file.blocks = {{0, random_bytes(size - near_end + random_in(1, 300))}};
            } else if (what == 3) {
                file.refusal = "the offset does not start a page";
                offset += static_cast<uint32_t>(random_in(1, geo_.page - 1));
            } else if (what == 4) {
                file.refusal = "the offset lies beyond the flash";
                offset = static_cast<uint32_t>(uint64_t{geo_.pages} << geo_.shift);
            } else {
                file.refusal = "the AT45 offset names no byte of a page";
                if (geo_.page == (1u << geo_.shift)) {
                    file.refusal = "the HEX file places data beyond the flash";
                    file.kind = Kind::Hex;
                    file.path += ".hex";
                    offset = geo_.address(size - 4 * geo_.page);
                    file.blocks = {{0, random_bytes(16)},
                                   {4 * uint64_t{geo_.page} + random_in(0, 4000), random_bytes(8)}};
                } else {
                    offset =
                        (offset & ~((1u << geo_.shift) - 1)) + geo_.page +
                        static_cast<uint32_t>(random_in(0, (1u << geo_.shift) - geo_.page - 1));
                }
            }
            write_file(file, what != 1);
            const bool program = chance(0.75);
            step_ += std::string(program ? "program" : "verify") + " refused " +
                     fs::path(file.path).filename().string() + " at " + hex(offset) + " (" +
                     file.refusal + ")";
            f = run(program ? Command::Program : Command::Verify, file, offset, true,
                    Interference::None);
        }
        if (f) {
            f->what = std::string(pc.name) + (binary_ ? "/512" : "") + ", " + f->what;
            return f;
        }
    }
    return std::nullopt;
}

std::optional<uint64_t> env_number(const char* name) {
    const char* text = std::getenv(name);
    if (!text || !*text) return std::nullopt;
    return std::strtoull(text, nullptr, 0);
}

TEST_F(FlashProperty, RandomCommandSequencesKeepTheFlashAsTheModelSays) {
    const std::optional<uint64_t> replay = env_number("VIREO_PROPERTY_SEED");
    const std::optional<uint64_t> seconds = env_number("VIREO_SOAK_SECONDS");
    const uint64_t iterations = env_number("VIREO_PROPERTY_ITERATIONS").value_or(kSweepIterations);
    uint64_t base = kSweepBase;
    if (seconds) base = std::random_device{}() * uint64_t{0x100000000} + std::random_device{}();
    if (seconds)
        std::printf("soak: %llu s from seed %llu\n", static_cast<unsigned long long>(*seconds),
                    static_cast<unsigned long long>(base));
    const auto begin = std::chrono::steady_clock::now();
    int failures = 0;
    for (uint64_t i = 0;; ++i) {
        if (replay    ? i == 1
            : seconds ? std::chrono::steady_clock::now() - begin >= std::chrono::seconds(*seconds)
                      : i == iterations)
            break;
        const uint64_t seed = replay ? *replay : base + i;
        if (std::optional<Failure> f = iterate(seed)) {
            ++failures;
            ADD_FAILURE() << "VIREO_PROPERTY_SEED=" << seed << " (iteration " << i
                          << "): " << f->what;
            std::fflush(stdout);
        }
    }
    unplug_all();
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::printf(
        "%d iterations (%d failed), %d commands: %d programs, %d verifies, %d reads (%d of a "
        "range), %d erases (%d of a range), %d refusals; %d cuts, %d cancels, %d rescue files "
        "(%d restored); %.1f s\n",
        tally_.iterations, failures, tally_.commands, tally_.programs, tally_.verifies,
        tally_.reads + tally_.ranged_reads, tally_.ranged_reads,
        tally_.erases + tally_.erase_ranges, tally_.erase_ranges, tally_.refusals, tally_.cuts,
        tally_.cancels, tally_.rescues, tally_.restores, took);
}

}  // namespace
}  // namespace vireo::app
