#include "spirom/spirom.h"

#include <unistd.h>

#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "jtag/device.h"
#include "jtag/lang.h"
#include "jtag/msg.h"
#include "jtag/status.h"
#include "spirom/spirom_host.h"
#include "spirom/spirom_parts.h"

namespace {

constexpr char kDescriptor[] = "NORVALE JSPI1.0";
constexpr int kDescriptorBytes = 16;
constexpr int kSendBuffer = 528;
// Entries a separately loaded module may offer around the bridge load; called when present.
constexpr uint32_t kBridgeHooks[] = {10, 11, 12};
constexpr uint32_t kAfterWriteEntry = 5;

uint8_t manufacturer(uint32_t jedec) {
    return static_cast<uint8_t>(jedec >> 16);
}

// A command without data bytes of its own: the buffer is zero past the command.
int command(const SpiRomContext* c, std::initializer_list<uint8_t> bytes, uint8_t* receive,
            int read) {
    std::array<uint8_t, kSendBuffer> send{};
    std::copy(bytes.begin(), bytes.end(), send.begin());
    return spirom_txrx(c, send.data(), static_cast<int>(bytes.size()), receive, read);
}

uint8_t read_status(const SpiRomContext* c, uint8_t opcode) {
    uint8_t status = 0;
    command(c, {opcode}, &status, 1);
    return status;
}

}  // namespace

int spirom_txrx(const SpiRomContext* c, const uint8_t* send, int write, uint8_t* receive, int read,
                uint8_t fill) {
    if (!c || !c->txrx) return JTAG_NULL;
    if (write < 0 || read < 0) return JTAG_FAIL;
    // The bridge clocks write + read bytes out of one buffer: the fill while reading. Commands
    // and status reads, the most frequent, fit on the stack.
    const size_t bytes = static_cast<size_t>(write) + static_cast<size_t>(read);
    std::array<uint8_t, 64> small;
    std::vector<uint8_t> large;
    uint8_t* frame = small.data();
    if (bytes > small.size()) {
        large.resize(bytes);
        frame = large.data();
    }
    std::copy(send, send + write, frame);
    std::fill(frame + write, frame + bytes, fill);
    return c->txrx(c->module, frame, receive, write, read, 0);
}

int spirom_load_bridge(DevAlgModule* module, int load, const char* bridge_path, int options) {
    const auto file_name = devalg_entry<DevAlgNameFn>(module, DEVALG_SPI_FILE_NAME);
    const char* bridge = file_name ? file_name(module) : nullptr;
    if (load == 1) {
        std::string path = bridge_path && *bridge_path ? bridge_path : "";
        if (path.empty()) path = query_value("exe_file_path") + (bridge ? bridge : "");
        if (path.empty() || access(path.c_str(), R_OK) != 0) {
            spirom_log(tr_ja("SPI書き込み一時ファイル %s が見つかりません\n"),
                       bridge ? bridge : "");
            return 0;
        }
        if (module->devopt) module->devopt->file_path = path;
        for (uint32_t code : kBridgeHooks) {
            if (const auto hook = devalg_entry<DevAlgSetupFn>(module, code)) hook(module, 1);
        }
        // Shutdown may find nothing to clear; only the Write of the bridge decides.
        [[maybe_unused]] const int shutdown = devalg_call(module, DEVALG_SHUTDOWN);
        const int written = devalg_call(module, DEVALG_WRITE);
        [[maybe_unused]] const int after = devalg_call(module, kAfterWriteEntry);
        if (written != JTAG_OK) return 0;
    }
    const auto setup = devalg_entry<DevAlgSetupFn>(module, DEVALG_SPI_SETUP);
    if (!setup) {
        spirom_log(tr_ja("SPIアルゴリズムが見つかりません\n"));
        return 0;
    }
    if (setup(module, options & SPIROM_OPT_SETUP) != JTAG_OK) {
        spirom_log(tr_ja("SPIブリッジの準備 (SpiSetup) に失敗しました"));
        return 0;
    }
    return 1;
}

SpiRomContext* spirom_open(DevAlgModule* module, const char* bridge_path, int options) {
    if (!module) return nullptr;
    const auto descr = devalg_entry<DevAlgDescrFn>(module, DEVALG_SPI_DESCR);
    if (!descr) {
        spirom_log(tr_ja("SPIアルゴリズムが見つかりません\n"));
        return nullptr;
    }
    uint8_t descriptor[kDescriptorBytes] = {};
    const bool running = descr(module, kDescriptorBytes, descriptor) == JTAG_OK &&
                         std::memcmp(descriptor, kDescriptor, sizeof kDescriptor - 1) == 0;
    if (!spirom_load_bridge(module, running ? 0 : 1, bridge_path, options)) return nullptr;

    auto c = std::make_unique<SpiRomContext>();
    c->module = module;
    c->page_size = kSendBuffer;
    c->trim_header = (options & SPIROM_OPT_TRIM) ? 1 : 0;
    c->txrx = devalg_entry<DevAlgTxrxFn>(module, DEVALG_SPI_TXRX);
    if (!c->txrx) {
        spirom_log(tr_ja("SPI送受信アルゴリズムが見つかりません\n"));
        return nullptr;
    }
    uint8_t id[6] = {};
    if (command(c.get(), {0x9F}, id, 6) != JTAG_OK) {
        spirom_log(tr_ja("SPI ROMのID (0x9F) を読み出せませんでした"));
        return nullptr;
    }
    c->jedec = uint32_t{id[0]} << 16 | uint32_t{id[1]} << 8 | id[2];
    // All zeros or all ones is no answer (a floating or held data line: no flash, a dead one, or
    // a design that is no bridge), not an unknown part: nothing may be written to it.
    if (c->jedec == 0 || c->jedec == 0xFFFFFF) {
        spirom_log(
            "No SPI flash answered the identification (0x9F read %02X %02X %02X): the "
            "bridge design or the flash's wiring does not work.",
            id[0], id[1], id[2]);
        return nullptr;
    }

    const SpiRomPart& part = spirom_find_part(c->jedec);
    c->page_size = part.page_size;
    c->page_count = part.page_count;
    c->address_shift = part.address_shift;
    c->maker = part.maker;
    c->name = part.name;
    switch (manufacturer(c->jedec)) {
        case 0x1F:
        case 0x20:
        case 0xBF:
        case 0xEF:
            c->status = read_status(c.get(), spirom_is_dataflash(c->jedec) ? 0xD7 : 0x05);
            if (c->status & 1) c->page_size = part.binary_page;
            break;
        default:
            break;
    }
    return c.release();
}

void spirom_close(SpiRomContext* context) {
    std::unique_ptr<SpiRomContext> owned(context);
}

void spirom_show_id(SpiRomContext* c, std::vector<uint8_t>* bytes) {
    if (!c) return;
    spirom_log(tr_ja("Device idcode読み出し"));
    uint8_t id[6] = {};
    command(c, {0x9F}, id, 6);
    hex_dump_log(id, 6, 0);
    if (bytes) bytes->assign(id, id + 6);
    spirom_log(" ");
    const uint32_t jedec = uint32_t{id[0]} << 16 | uint32_t{id[1]} << 8 | id[2];
    if (spirom_is_dataflash(jedec)) {
        spirom_log(tr_ja("Status register読み出し"));
        const uint8_t status = read_status(c, 0xD7);
        hex_dump_log(&status, 1, 0);
        if (status & 2) spirom_log(tr_ja("セクタープロテクトあり"));
        spirom_log(tr_ja("ページサイズ %dバイト"), c->page_size);
        spirom_log(" ");
    } else if (id[0] == 0x20 || jedec == kAt25dq321 || id[0] == 0xEF) {
        spirom_log(tr_ja("Status register読み出し"));
        const uint8_t status = read_status(c, 0x05);
        hex_dump_log(&status, 1, 0);
    }
}

void spirom_show_unique_id(SpiRomContext* c, std::vector<uint8_t>* bytes) {
    if (!c) return;
    std::vector<uint8_t> ignored;
    if (!bytes) bytes = &ignored;
    bytes->clear();
    switch (manufacturer(c->jedec)) {
        case 0x1F: {
            spirom_log(tr_ja("Security code読み出し "));
            std::array<uint8_t, 128> code{};
            command(c, {0x77, 0x00, 0x00, 0x00}, code.data(), 128);
            hex_dump_log(code.data(), 128, 0);
            bytes->assign(code.begin(), code.end());
            break;
        }
        case 0x20: {
            spirom_log(tr_ja("Unique ID code読み出し "));
            std::array<uint8_t, 20> id{};
            command(c, {0x9F}, id.data(), 20);
            hex_dump_log(id.data() + 4, 16, 0);
            bytes->assign(id.begin() + 4, id.end());
            break;
        }
        case 0xBF:
            spirom_log(tr_ja("ID codeはありません "));
            break;
        case 0xEF: {
            spirom_log(tr_ja("Unique ID code読み出し "));
            std::array<uint8_t, 12> id{};
            command(c, {0x4B}, id.data(), 12);
            hex_dump_log(id.data() + 4, 8, 0);
            bytes->assign(id.begin() + 4, id.end());
            break;
        }
        default:
            break;
    }
    spirom_log(" ");
}

void hex_dump_log(const uint8_t* bytes, int count, uint32_t base) {
    if (!bytes || count <= 0) return;
    for (int line = 0; line < (count + 15) / 16; ++line) {
        char text[128];
        int n = std::snprintf(text, sizeof text, "%08X  ", base + 16 * line);
        for (int col = 0; col < 16; ++col) {
            const int i = 16 * line + col;
            if (col == 8) text[n++] = ' ';
            n += i < count ? std::snprintf(text + n, sizeof text - n, "%02X ", bytes[i])
                           : std::snprintf(text + n, sizeof text - n, "   ");
        }
        text[n++] = ' ';
        for (int col = 0; col < 16; ++col) {
            const int i = 16 * line + col;
            if (col == 8) text[n++] = ' ';
            const uint8_t b = i < count ? bytes[i] : ' ';
            // Bytes from 0x80 up are dots too: alone they are no text in a UTF-8 log, and some
            // terminals take 0x9B for the start of an escape sequence.
            text[n++] = i < count && (b < 0x20 || b >= 0x7F) ? '.' : static_cast<char>(b);
        }
        text[n] = '\0';
        spirom_log("%s", text);
    }
}
