// Runs the device database readers (system.bix, bb description records, device index files) the
// way the fuzz targets and the fuzz regression tests feed them, and checks that what they build
// holds together. A check returns "" when it does, otherwise what was wrong.
#pragma once

#include <strings.h>

#include <cstdint>
#include <memory>
#include <string>

#include "devdb/bix.h"
#include "devdb/bsdl.h"
#include "devdb/bsreg.h"
#include "devdb/devlist.h"
#include "devdb/pins.h"

namespace vireo::fuzz {

template <auto Free>
struct FreeWith {
    void operator()(auto* p) const { Free(p); }
};
using DatabasePtr = std::unique_ptr<DeviceDatabase, FreeWith<bix_database_free>>;
using ListPtr = std::unique_ptr<DeviceList, FreeWith<devlist_free>>;
using DescriptionPtr = std::unique_ptr<DeviceDescription, FreeWith<devdesc_free>>;

// Descriptions built from index entries alone: a few are enough to reach every branch.
constexpr int kDefaultDescriptions = 4;

inline std::string check_bix(const char* path) {
    DatabasePtr db(bix_database_new());
    if (!bix_load(db.get(), path)) return db->manufacturers.empty() ? "" : "rejected yet filled";
    if (db->manufacturers.size() != db->mfr_cnt) return "manufacturer count differs";
    int entries = 0;
    for (int m = 0; m < db->mfr_cnt; ++m) {
        const DbManufacturer& mfr = db->manufacturers[m];
        if (mfr.families.size() != mfr.fam_cnt) return "family count differs";
        for (int f = 0; f < mfr.fam_cnt; ++f)
            for (const DbEntry& e : mfr.families[f].entries) {
                if (e.manufacturer != m + 1 || e.family != f + 1) return "entry filed elsewhere";
                if (entries++ >= kDefaultDescriptions) continue;
                DescriptionPtr d(bix_default_description(&e));
                if (!d || d->ir_capture.size() != (e.ir_length & 0xFFu) ||
                    d->instructions.size() != 2 ||
                    d->instructions[1].opcode.size() != d->ir_capture.size())
                    return "default description does not match the IR length";
            }
    }
    ListPtr all(bix_find_idcode(db.get(), 0, 0, nullptr));
    if (devlist_count(all.get()) != entries) return "lookup of every entry misses some";
    return "";
}

inline std::string check_bb(const uint8_t* data, size_t size) {
    uint8_t opaque[kBbOpaqueSize];
    DescriptionPtr d(bix_parse_description(data, size, 0, 0, opaque));
    if (!d) return "";
    if (d->instructions.empty()) return "no instruction, not even BYPASS";
    // Every pin and cell takes at least ten bytes of the record.
    if ((d->pins.size() + d->cells.size()) * 10 > size) return "more items than the record holds";
    return "";
}

inline std::string check_devindex(const char* path) {
    constexpr const char* kName = "XC7A35T";
    ListPtr all(devlist_read_index(path, kDevIndexAll, nullptr));
    ListPtr named(devlist_read_index(path, kDevIndexByName, kName));
    ListPtr by_idcode(devlist_read_index(path, 0x0362D093, kName));
    if (!all) return named || by_idcode ? "rejected for one selector only" : "";
    if (!named || !by_idcode) return "rejected for one selector only";
    if (devlist_count(named.get()) > devlist_count(all.get()) ||
        devlist_count(by_idcode.get()) > devlist_count(all.get()))
        return "a selection holds more than the whole index";
    for (int i = 0; i < devlist_count(named.get()); ++i)
        if (strcasecmp(devlist_name(named.get(), i), kName) != 0) return "name selection wrong";
    for (const DeviceListEntry& e : all->entries)
        if (e.idcode == 0 || (e.mask & 0xF0000000) != 0) return "entry with a bad IDCODE or mask";
    return "";
}

// The BSDL reader on text in memory, then the pin model on what it built: everything must stay
// inside the reader's limits and every cell number inside the boundary register.
inline std::string check_bsdl(const uint8_t* data, size_t size) {
    DescriptionPtr d(bsdl_parse(reinterpret_cast<const char*>(data), size, "fuzz.bsd"));
    if (!d) return "";
    const int cells = static_cast<int>(d->cells.size());
    if (cells > kBsdlMaxBoundaryLength) return "boundary register beyond its limit";
    if (d->instructions.empty() || d->instructions.size() > size_t{kBsdlMaxInstructions})
        return "instruction count out of bounds";
    if (d->ir_capture.size() > size_t{kBsdlMaxCapture}) return "IR capture beyond its limit";
    if (d->pins.size() > size_t{kBsdlMaxPins}) return "more pins than the limit";
    if (d->design_warnings.size() > size_t{kBsdlMaxWarnings}) return "too many design warnings";
    for (const BsrCell& c : d->cells)
        if (c.control_cell < -1 || c.control_cell >= cells) return "control cell outside";
    for (const PinMapEntry& p : d->pins) {
        for (int32_t cell : {p.output_cell, p.input_cell, p.control_cell})
            if (cell < -1 || cell >= cells) return "pin cell outside the register";
    }
    bsdl_dump(d.get());
    PinTablePtr table(pintable_build(d.get()));
    if (!table || pintable_count(table.get()) != static_cast<int>(d->pins.size()) + 1)
        return "pin table does not match the pin map";
    std::unique_ptr<BsReg, FreeWith<bsreg_free>> reg(bsreg_new(cells));
    std::vector<uint8_t> buffer(static_cast<size_t>(cells), 0);
    for (int i = 1; i < pintable_count(table.get()); ++i)
        pin_drive(table.get(), pin_name_at(table.get(), i), buffer.data(), buffer.size(), i & 1,
                  i % 3 ? 1 : 0);
    pintable_update(table.get(), reg.get(), 1);
    pintable_apply(table.get(), reg.get());
    pintable_dump(table.get());
    return "";
}

}  // namespace vireo::fuzz
