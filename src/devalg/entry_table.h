// The ten-entry table both modules publish, from their own open, Write and SpiTxrx.
#pragma once

#include <array>

#include "devalg/devalg_state.h"
#include "devalg/sequence.h"
#include "devalg/spi_bridge.h"

template <class Fn>
DevAlgFunction as_entry(Fn function) {
    return reinterpret_cast<DevAlgFunction>(function);
}

inline std::array<DevAlgEntry, 11> make_entry_table(DevAlgOpenFn open, DevAlgStatusFn write,
                                                    DevAlgTxrxFn txrx) {
    return {{
        {"", as_entry(&devalg_version), DEVALG_VERSION},
        {"", as_entry(&devalg_close_state), DEVALG_CLOSE},
        {"", as_entry(open), DEVALG_OPEN},
        {"Write", as_entry(write), DEVALG_WRITE},
        {"Shutdown", as_entry(&devalg_shutdown), DEVALG_SHUTDOWN},
        {"Cancel", as_entry(&devalg_cancel), DEVALG_CANCEL},
        {"GetSpiFileName", as_entry(&devalg_spi_file_name), DEVALG_SPI_FILE_NAME},
        {"SpiSetup", as_entry(&spi_setup), DEVALG_SPI_SETUP},
        {"SpiTxrx", as_entry(txrx), DEVALG_SPI_TXRX},
        {"SpiGetDescr", as_entry(&spi_get_descr), DEVALG_SPI_DESCR},
        {nullptr, nullptr, 0},
    }};
}
