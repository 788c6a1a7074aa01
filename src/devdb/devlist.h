// Ordered lookup results of the device database, the device index reader that builds the same
// list from a "#DEVINDEX V1.1" text file, and the package classification.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DeviceListEntry {
    std::string manufacturer;
    std::string part_name;
    std::string key;
    std::string third;  // carried only
    uint32_t idcode = 0;
    uint32_t mask = 0;
};

struct DeviceList {
    int capacity = 10;  // grows by doubling when an entry is added to a full table
    std::vector<DeviceListEntry> entries;
};

DeviceList* devlist_new();
void devlist_add(DeviceList* list, const char* manufacturer, const char* part_name, const char* key,
                 const char* third, uint32_t idcode, uint32_t mask);
int devlist_count(const DeviceList* list);
// Part name / key of an entry; "" for no list or an index outside the list.
const char* devlist_name(const DeviceList* list, int index);
const char* devlist_key(const DeviceList* list, int index);
void devlist_free(DeviceList* list);

// Selectors of the index reader besides a numeric IDCODE.
constexpr int64_t kDevIndexByName = -2;
constexpr int64_t kDevIndexAll = -1;
constexpr int kDevIndexLineLimit = 2558;

// Reads a device index file. selector -2: lines whose part name equals `name`; -1: every data
// line; otherwise lines whose IDCODE matches under their mask, and lines whose part name is
// `name` followed by '_'. Null when the file cannot be opened or has the wrong first line.
DeviceList* devlist_read_index(const char* path, int64_t selector, const char* name);

struct PackageClass {
    std::string name;     // "BGA", "QFP", "PLCC", "DIP", "SOP", "UNKNOWN" or "NONE"
    int pins = 0;         // last run of decimal digits in the package text
    int side_pins_x = 0;  // pins / 4; 0 for UNKNOWN
    int side_pins_y = 0;
};

PackageClass package_classify(const char* package);
