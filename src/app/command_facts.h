// What the last commands of a session found, as values: the cable, the chain, the addressed
// device and what a command read from it or from its flash. A front end reports them (the
// command line's --json) without reading them back out of the log's text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "devalg/config_status.h"

namespace vireo::app {

struct ChainEntry {
    int index = 0;
    uint32_t idcode = 0;  // as the device answered on `detect`, else the part record's
    std::string part;     // "" when the device database does not know it
    int ir_length = 0;
};

struct FlashFacts {
    bool found = false;  // the flash was opened and identified
    std::string maker;   // "Winbond", ... ("" when unknown)
    std::string part;    // "N25Q128", ...
    uint32_t jedec = 0;  // manufacturer, type, capacity bytes of the 0x9F answer
    int page_size = 0;
    int page_count = 0;
    std::vector<uint8_t> id;         // flash id: the six bytes of the 0x9F answer
    std::vector<uint8_t> unique_id;  // flash uid: the bytes shown; empty when the part has none
};

struct CommandFacts {
    std::string cable;              // the cable driver that answered ("skprb", "kprbemb", "xvc")
    std::vector<ChainEntry> chain;  // the devices of the last scan, nearest TDI first
    int device_index = -1;          // the addressed device; -1 before one was bound
    std::string device;             // its part name
    uint32_t device_idcode = 0;     // its part record's IDCODE
    std::optional<uint32_t> idcode_read;      // idcode: what the device answered
    std::optional<uint32_t> idcode_expected;  // idcode: what its part should answer
    std::optional<uint64_t> dna;              // dna: the 64 bits read, high word first
    std::optional<ConfigStatus> config;       // status: the words read
    std::optional<uint32_t> usercode;         // status: USERCODE, when it could be read
    bool configured = false;                  // status: DONE high
    std::vector<std::string> problems;        // status: what the registers report wrong
    FlashFacts flash;
};

}  // namespace vireo::app
