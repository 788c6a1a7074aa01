// Device database: the index "system.bix" (manufacturers, families, one scrambled 128-byte record
// per device type) and the description files bb/sys_<m>_<f>.bb beside it. Turns an IDCODE into a
// part name and a key, and a key into the part's DeviceDescription.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "devdb/devdesc.h"
#include "devdb/devlist.h"

constexpr uint32_t kBixVersion = 0x00020001;
constexpr uint32_t kBbRecordVersion = 0x00020000;
constexpr size_t kBixRecordSize = 128;
constexpr size_t kBbOpaqueSize = 20;  // size of the caller's buffer for bix_read_device

struct DeviceDatabase;

struct DbEntry {
    uint32_t idcode = 0;
    uint32_t mask = 0;
    uint32_t offset = 0;  // of the description record in the bb file
    uint32_t length = 0;  // of the description record
    std::string key;
    std::string part_name;
    std::string third;
    uint8_t manufacturer = 0;  // 1-based
    uint8_t family = 0;        // 1-based
    uint16_t ir_length = 0;
    uint32_t reserved = 0;
    uint32_t bypass_opcode = 0;
    uint32_t idcode_opcode = 0;  // 0 means all ones
};

struct DbFamily {
    std::string name;
    int capacity = 10;  // doubles when an entry is added to a full table
    std::vector<DbEntry> entries;
};

struct DbManufacturer {
    std::string text1;
    std::string name;
    std::string text3;
    uint8_t fam_cnt = 0;  // declared number of families
    std::vector<DbFamily> families;
    DeviceDatabase* database = nullptr;
};

struct DeviceDatabase {
    char magic[4] = {};
    uint32_t version = 0;
    uint8_t mfr_cnt = 0;  // declared number of manufacturers
    std::vector<DbManufacturer> manufacturers;
};

// The process-wide instance, loaded from query_value("ddb_file_path") + "system.bix" on the
// first call and never reloaded or released.
DeviceDatabase* bix_database();
// A separate, empty instance (tests, tools); release it with bix_database_free.
DeviceDatabase* bix_database_new();
void bix_database_free(DeviceDatabase* db);

// 1 on success; 0 when the file cannot be opened or its magic or version are wrong.
int bix_load(DeviceDatabase* db, const char* path);
void bix_clear(DeviceDatabase* db);

// Table growth used by the loader. Adding beyond the declared count prints "mfr_cnt overflow" /
// "fam_cnt overflow" on standard output and answers null: a library never ends the process, and
// the loader's own counts never go beyond.
DbManufacturer* bix_add_manufacturer(DeviceDatabase* db, const char* text1, const char* name,
                                     const char* text3, uint8_t fam_cnt);
DbFamily* bix_add_family(DbManufacturer* manufacturer, const char* name);

// Lookups append to `list` (a new list when it is null) and return it; null without a database.
// Walk order: manufacturers, their families, entries, all in file order.
DeviceList* bix_find_idcode(DeviceDatabase* db, uint32_t idcode, uint32_t query_mask,
                            DeviceList* list);
DeviceList* bix_find_name(DeviceDatabase* db, const char* name, DeviceList* list);
DeviceList* bix_find_key(DeviceDatabase* db, const char* key, DeviceList* list);
DeviceList* bix_mfr_find_idcode(DbManufacturer* manufacturer, uint32_t idcode, uint32_t query_mask,
                                DeviceList* list);
DeviceList* bix_mfr_find_name(DbManufacturer* manufacturer, const char* name, DeviceList* list);
DeviceList* bix_mfr_find_key(DbManufacturer* manufacturer, const char* key, DeviceList* list);

// Description of the first entry whose key matches (letter case ignored). A missing bb file
// gives bix_default_description; a bad or overrunning record gives null. buffer20, when given,
// receives the record's 20 opaque bytes.
DeviceDescription* bix_read_device(DeviceDatabase* db, const char* key, uint8_t* buffer20);
// Parses the record at `offset` of a bb file image; `length` 0 means "up to the end".
DeviceDescription* bix_parse_description(const uint8_t* data, size_t size, size_t offset,
                                         size_t length, uint8_t* buffer20);
DeviceDescription* bix_default_description(const DbEntry* entry);

// Unscrambles (and scrambles) one index record in place.
void bix_scramble(uint8_t* data, size_t size);

int bix_save_file();
int bix_regist_cr();
