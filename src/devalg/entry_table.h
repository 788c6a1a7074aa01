// The ten-entry table both modules publish, from their own open, Write and SpiTxrx. Every entry
// goes through the exception barrier: its caller holds a plain function pointer.
#pragma once

#include <array>

#include "devalg/devalg_state.h"
#include "devalg/sequence.h"
#include "devalg/spi_bridge.h"
#include "jtag/c_boundary.h"

template <class Fn>
DevAlgFunction as_entry(Fn function) {
    return reinterpret_cast<DevAlgFunction>(function);
}

template <auto Fn>
DevAlgFunction guarded() {
    return as_entry(&CBoundary<Fn>::call);
}

template <auto Open, auto Write, auto Txrx>
std::array<DevAlgEntry, 11> make_entry_table() {
    return {{
        {"", guarded<&devalg_version>(), DEVALG_VERSION},
        {"", guarded<&devalg_close_state>(), DEVALG_CLOSE},
        {"", guarded<Open>(), DEVALG_OPEN},
        {"Write", guarded<Write>(), DEVALG_WRITE},
        {"Shutdown", guarded<&devalg_shutdown>(), DEVALG_SHUTDOWN},
        {"Cancel", guarded<&devalg_cancel>(), DEVALG_CANCEL},
        {"GetSpiFileName", guarded<&devalg_spi_file_name>(), DEVALG_SPI_FILE_NAME},
        {"SpiSetup", guarded<&spi_setup>(), DEVALG_SPI_SETUP},
        {"SpiTxrx", guarded<Txrx>(), DEVALG_SPI_TXRX},
        {"SpiGetDescr", guarded<&spi_get_descr>(), DEVALG_SPI_DESCR},
        {nullptr, nullptr, 0},
    }};
}
