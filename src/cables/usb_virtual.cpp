#include "cables/usb_virtual.h"

#include <mutex>

#include "jtag/msg.h"

namespace {

struct Installed {
    std::mutex mutex;
    std::shared_ptr<std::atomic<bool>> plug;  // of the board installed last; null for none
};

Installed& installed() {
    static Installed i;
    return i;
}

}  // namespace

void usb_use_virtual_board(std::shared_ptr<vireo::sim::VirtualBoard> board) {
    Installed& i = installed();
    std::lock_guard lock(i.mutex);
    // Pulled first, so no device opened on the old board answers once the new one is in.
    if (i.plug) i.plug->store(false);
    i.plug.reset();
    if (!board) {
        set_wait_handler(nullptr);
        fx3_set_backend_factory({});
        devobj_set_backend({});
        return;
    }
    // The board's modeled clock already holds every wait the host asks the firmware for.
    set_wait_handler([](int64_t) { return 1; });
    i.plug = std::make_shared<std::atomic<bool>>(true);
    VirtualPlug plug = i.plug;
    fx3_set_backend_factory([board, plug] { return fx3_virtual_backend(board, plug); });
    devobj_set_backend([board, plug](const std::string& name) {
        return devobj_virtual_open(board, name, nullptr, plug);
    });
}
