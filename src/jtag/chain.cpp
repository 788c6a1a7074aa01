#include "jtag/chain.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>

#include "cables/cable.h"
#include "devdb/bix.h"
#include "devdb/devlist.h"
#include "jtag/msg.h"
#include "jtag/status.h"
#include "jtag/tap.h"

namespace {

constexpr int kInitialCapacity = 100;
constexpr int kShrinkAbove = 100000;
constexpr uint32_t kDetectMarker = 0xFF00AA55;
constexpr int kDetectBits = 3200;  // 100 devices of 32 bits

bool valid(const Chain* chain) {
    return chain && chain->magic == kChainMagic;
}

bool refused(const Chain* chain, const char* action) {
    if (!chain->locked) return false;
    msg_print("Fatal error: Chain is locked . Do not %s!\n", action);
    return true;
}

void size_buffers(Chain* chain, int capacity) {
    chain->capacity = capacity;
    for (auto& buffer : chain->buffers) buffer.assign(capacity, 0);
}

uint32_t word_at(const uint8_t* bits, int p) {
    uint32_t word = 0;
    for (int i = 0; i < 32; ++i) word |= static_cast<uint32_t>(bits[p + i] & 1) << i;
    return word;
}

// First pass: how many devices lie before the marker (0 when it never comes back).
int count_devices(const uint8_t* bits) {
    int n = 0;
    for (int p = 0; p < kDetectBits;) {
        if (!bits[p]) {
            ++n;
            ++p;
            continue;
        }
        if (p + 32 > kDetectBits) break;
        if (word_at(bits, p) == kDetectMarker) return n;
        ++n;
        p += 32;
    }
    return 0;
}

// Second pass: IDCODEs by chain index (0 nearest TDI). 0 = no IDCODE (bypass only),
// 0xFFFFFFFF = all ones; entries the pass does not reach stay 0, so they add no device.
std::vector<uint32_t> read_ids(const uint8_t* bits, int n) {
    std::vector<uint32_t> ids(n, 0);
    int p = 0;
    for (int j = 0; j < n && p < kDetectBits; ++j) {
        if (!bits[p]) {
            ids[n - 1 - j] = 0;
            ++p;
            continue;
        }
        if (p + 32 > kDetectBits) break;
        const uint32_t word = word_at(bits, p);
        p += 32;
        ids[n - 1 - j] = word;
        if (word == 0xFFFFFFFF) break;
    }
    return ids;
}

// The database's part name for an IDCODE, "unknown" when it holds none.
std::string lookup_part_name(uint32_t idcode) {
    DeviceList* found = bix_find_idcode(bix_database(), idcode, 0x0FFFFFFF, nullptr);
    if (!found) {
        msg_print("Error: Device list file is not found\n");
        return "unknown";
    }
    std::string name = devlist_count(found) > 0 ? devlist_name(found, 0) : "unknown";
    devlist_free(found);
    if (name.size() > 255) name.resize(255);
    return name;
}

}  // namespace

Chain* chain_new(const char* name) {
    auto chain = std::make_unique<Chain>();
    chain->name = name ? name : "";
    chain->settings = std::make_unique<ChainSettings>();
    size_buffers(chain.get(), kInitialCapacity);
    return chain.release();
}

namespace {

// The cable delivers the captures still on their way while their buffers exist: a chain that
// goes, or leaves its cable, takes them first.
void settle_deferred(Chain* chain) {
    if (chain->deferred.empty() || !chain->cable || !chain->cable->driver.option) return;
    [[maybe_unused]] const int delivered =
        cable_option(chain->cable, CABLE_OPT_COLLECT, nullptr, 0, nullptr, 0, nullptr);
    chain->deferred.clear();
}

}  // namespace

void chain_delete(Chain* chain) {
    if (!valid(chain) || refused(chain, "delete")) return;
    settle_deferred(chain);
    if (chain->on_destroy) chain->on_destroy(chain);
    chain_clear(chain);
    chain->magic = 0;
    std::unique_ptr<Chain> owned(chain);
}

int chain_set_cable(Chain* chain, Cable* cable) {
    if (!valid(chain) || refused(chain, "change cable")) return 0;
    if (cable != chain->cable) settle_deferred(chain);
    chain->cable = cable;
    return 1;
}

Cable* chain_get_cable(const Chain* chain) {
    return valid(chain) ? chain->cable : nullptr;
}
const char* chain_name(const Chain* chain) {
    return valid(chain) ? chain->name.c_str() : "";
}
int chain_count(const Chain* chain) {
    return valid(chain) ? static_cast<int>(chain->devices.size()) : 0;
}
Device* chain_get_device(const Chain* chain, int index) {
    if (index < 0 || index >= chain_count(chain)) return nullptr;
    return chain->devices[index].get();
}
ChainSettings* chain_settings(const Chain* chain) {
    return valid(chain) ? chain->settings.get() : nullptr;
}

int chain_clear(Chain* chain) {
    if (!valid(chain) || refused(chain, "clear")) return 0;
    chain->devices.clear();
    return 1;
}

int chain_insert_device(Chain* chain, const char* device_name, const char* part_name, int index) {
    if (!valid(chain) || refused(chain, "add device")) return 0;
    if (index < 0 || index > chain_count(chain)) return 0;
    Device* device = device_new(device_name, part_name, chain);
    if (!device) return 0;
    chain->devices.emplace(chain->devices.begin() + index, device);
    return 1;
}

int chain_add_device(Chain* chain, const char* device_name, const char* part_name) {
    return chain_insert_device(chain, device_name, part_name, chain_count(chain));
}

int chain_remove_device(Chain* chain, int index) {
    if (!valid(chain) || refused(chain, "remove device")) return 0;
    if (index < 0 || index >= chain_count(chain)) return 0;
    chain->devices.erase(chain->devices.begin() + index);
    return 1;
}

void chain_lock(Chain* chain) {
    if (!valid(chain) || chain->locked++ > 0) return;
    int on = 1;
    cable_option(chain->cable, CABLE_OPT_LOCK, &on, 0, nullptr, 0, nullptr);
}

void chain_unlock(Chain* chain) {
    if (!valid(chain) || chain->locked == 0 || --chain->locked > 0) return;
    int off = 0;
    cable_option(chain->cable, CABLE_OPT_LOCK, &off, 0, nullptr, 0, nullptr);
}

int chain_is_locked(const Chain* chain) {
    return valid(chain) ? chain->locked : 1;
}

int chain_shift(Chain* chain, int kind, int flags) {
    if (!valid(chain) || !chain->settings || !chain->cable) return 0;
    ChainSettings& settings = *chain->settings;
    int64_t total64 = 0;
    for (const auto& device : chain->devices) {
        total64 += bsreg_length(device_get_register(device.get(), kind));
    }
    if (total64 == 0) return 1;
    if (total64 >= INT32_MAX) return 0;
    const int total = static_cast<int>(total64);
    if (chain->capacity < total || (chain->capacity > kShrinkAbove && total < kShrinkAbove)) {
        size_buffers(chain, total + 1);
    }

    // Gather from the device nearest TDO: buffer bit 0 is its register bit 0. The expected TDO
    // and its mask matter only to a compare. A chain of one device shifts its register's own
    // planes, and a capture that is written back goes straight into them.
    const bool write_back = flags & (CHAIN_COMPARE | CHAIN_WRITE_BACK);
    std::array<const uint8_t*, BSREG_TDOCAPTURE> planes{};  // TDI, TDIMASK, TDO, TDOMASK
    for (int plane = 0; plane < BSREG_TDOCAPTURE; ++plane)
        planes[plane] = chain->buffers[plane].data();
    uint8_t* captured = chain->buffers[BSREG_TDOCAPTURE].data();
    const bool alone = chain->devices.size() == 1;
    if (alone) {
        BsReg* reg = device_get_register(chain->devices.front().get(), kind);
        for (int plane = BSREG_TDI; plane <= BSREG_TDOMASK; ++plane)
            planes[plane] = bsreg_plane_view(reg, plane);
        if (write_back) captured = bsreg_plane(reg, BSREG_TDOCAPTURE);
    } else {
        const int last_plane = (flags & CHAIN_COMPARE) ? BSREG_TDOMASK : BSREG_TDIMASK;
        int position = 0;
        for (auto it = chain->devices.rbegin(); it != chain->devices.rend(); ++it) {
            BsReg* reg = device_get_register(it->get(), kind);
            const int length = bsreg_length(reg);
            for (int plane = BSREG_TDI; plane <= last_plane; ++plane) {
                bsreg_read(reg, plane, 0, length, chain->buffers[plane].data() + position);
            }
            position += length;
        }
    }

    const bool deferred = flags & CHAIN_DEFERRED;
    const int nocap = deferred ? kCableDeferCapture : flags == 0 ? 1 : 0;
    uint8_t* capture_into = captured;
    if (deferred) {
        std::vector<uint8_t>& buffer = chain->deferred.emplace_back();
        if (!chain->spare.empty()) {
            buffer.swap(chain->spare.back());
            chain->spare.pop_back();
        }
        buffer.assign(static_cast<size_t>(total), 0);
        capture_into = buffer.data();
    }
    // A TAP that did not reach Shift-xR, or did not get back to Run-Test/Idle, fails the shift
    // as the shift itself would.
    int shifted = cable_tap_goto(chain->cable, kind == DEVICE_IR ? SHIFT_IR : SHIFT_DR, 0);
    if (shifted == JTAG_OK) {
        shifted = cable_shift_inout(chain->cable, total, planes[BSREG_TDI], planes[BSREG_TDIMASK],
                                    planes[BSREG_TDO], planes[BSREG_TDOMASK], capture_into, kind,
                                    nocap, settings.label, settings.flush);
    }
    if (!settings.stay) {
        const int back = cable_tap_goto(chain->cable, RUNTEST_IDLE, 0);
        if (shifted == JTAG_OK) shifted = back;
    }
    // A deferred shift that failed delivers nothing.
    if (deferred && shifted != JTAG_OK) chain->deferred.pop_back();
    if (shifted == JTAG_OK) {
        if (flags) settings.error = 0;
    } else {
        settings.error = 1;
    }

    bool equal = true;
    if (flags & CHAIN_COMPARE) {
        const uint8_t* tdo = planes[BSREG_TDO];
        const uint8_t* mask = planes[BSREG_TDOMASK];
        const uint8_t* capture = captured;
        for (int i = 0; i < total && equal; ++i) {
            equal = ((tdo[i] & mask[i]) & 1) == ((capture[i] & mask[i]) & 1);
        }
    }
    if (write_back && !alone) {
        int position = 0;
        for (auto it = chain->devices.rbegin(); it != chain->devices.rend(); ++it) {
            BsReg* reg = device_get_register(it->get(), kind);
            const int length = bsreg_length(reg);
            bsreg_write(reg, BSREG_TDOCAPTURE, 0, length, captured + position);
            position += length;
        }
    }
    return shifted == JTAG_OK && equal ? 1 : 0;
}

int chain_collect(Chain* chain, std::vector<std::vector<uint8_t>>* captures) {
    if (!valid(chain) || !captures) return 0;
    // A cable without the option captures every shift at once: nothing is on its way.
    const int delivered =
        chain->cable && chain->cable->driver.option
            ? cable_option(chain->cable, CABLE_OPT_COLLECT, nullptr, 0, nullptr, 0, nullptr)
            : JTAG_UNSUPPORTED;
    for (std::vector<uint8_t>& used : *captures) chain->spare.push_back(std::move(used));
    captures->assign(std::make_move_iterator(chain->deferred.begin()),
                     std::make_move_iterator(chain->deferred.end()));
    chain->deferred.clear();
    return delivered == JTAG_OK || delivered == JTAG_UNSUPPORTED ? 1 : 0;
}

bool chain_defers(Chain* chain) {
    return valid(chain) && chain->cable &&
           cable_option(chain->cable, CABLE_OPT_COLLECT, nullptr, 0, nullptr, 0, nullptr) ==
               JTAG_OK;
}

int chain_runtest(Chain* chain, unsigned state, int64_t usec, int64_t clocks, const uint8_t* tdi,
                  uint8_t* tdo) {
    if (!valid(chain) || !chain->settings || !chain->cable) return 0;
    return cable_runtest(chain->cable, state, usec, clocks, chain->settings->label,
                         chain->settings->flush, tdi, tdo);
}

int chain_detect(Chain* chain) {
    if (!valid(chain) || !chain->cable) return 0;
    if (refused(chain, "detect device")) return 0;

    std::unique_ptr<Chain, void (*)(Chain*)> scan(chain_new(""), chain_delete);
    chain_set_cable(scan.get(), chain->cable);
    chain_add_device(scan.get(), "", "");
    Device* probe = chain_get_device(scan.get(), 0);
    if (!probe) return 0;

    BsReg* dr = device_get_register(probe, DEVICE_DR);
    bsreg_resize(dr, kDetectBits);
    bsreg_set(dr, BSREG_TDI, kDetectMarker, 0, 32);
    bsreg_fill(dr, BSREG_TDOMASK, 0, 0, 0);
    ChainSettings* settings = chain_settings(scan.get());
    settings->check_level = 0;
    settings->label = "";
    settings->flush = 1;
    bool scanned = false;
    {
        ChainLockGuard lock(chain);
        // A scan the cable did not make finds no devices rather than ones read from noise.
        scanned = cable_tap_goto(chain->cable, TEST_LOGIC_RESET, 1) == JTAG_OK &&
                  chain_shift(scan.get(), DEVICE_DR, CHAIN_COMPARE);
    }
    chain_clear(chain);
    if (!scanned) {
        chain_set_cable(scan.get(), nullptr);
        return 0;
    }

    const uint8_t* bits = bsreg_plane_view(dr, BSREG_TDOCAPTURE);
    const int n = count_devices(bits);
    for (uint32_t id : read_ids(bits, n)) {
        if (id == 0xFFFFFFFF) {
            chain_add_device(chain, "", "generic");
        } else if (id != 0) {
            const std::string part = lookup_part_name(id);
            if (part != "unknown") {
                chain_add_device(chain, "", part.c_str());
            } else if (chain_add_device(chain, "", "")) {
                device_set_idcode(chain_get_device(chain, chain_count(chain) - 1), id);
            }
        }
    }
    settings->label = nullptr;
    chain_set_cable(scan.get(), nullptr);
    return 1;
}
