#include "cables/usb_virtual.h"

#include <mutex>

#include "cables/usb_ids.h"
#include "jtag/msg.h"
#include "sim/board_presets.h"

namespace {

struct Installed {
    std::mutex mutex;
    std::shared_ptr<std::atomic<bool>> plug;          // of the board installed last; null for none
    std::shared_ptr<vireo::sim::VirtualBoard> board;  // the board installed last
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
    i.board = board;
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

int usb_list_present_boards(std::vector<BoardEntry>* boards) {
    std::shared_ptr<vireo::sim::VirtualBoard> board;
    {
        Installed& i = installed();
        std::lock_guard lock(i.mutex);
        board = i.board;
    }
    if (!board) return usb_list_boards(boards);
    boards->clear();
    const vireo::sim::BoardPreset& preset = board->preset();
    BoardEntry entry;
    entry.place = "virtual";
    entry.is_virtual = true;
    entry.product = preset.name;
    switch (preset.transport.kind) {
        case vireo::sim::TransportKind::Fx3Board:
        case vireo::sim::TransportKind::Fx3BootLoader:
            entry.vid = preset.transport.vid;
            entry.pid = preset.transport.pid;
            entry.kind = usb_kind_of(entry.vid, entry.pid);
            break;
        case vireo::sim::TransportKind::Usb2Board:
        case vireo::sim::TransportKind::Usb2Cable:
            entry.kind = usb_kind_of(usb_ids::kMakerVendor, 0);
            break;
    }
    boards->push_back(std::move(entry));
    return 0;
}

bool usb_choose_virtual_board(const std::string* option_text, const char* variable_text,
                              std::shared_ptr<vireo::sim::VirtualBoard>* chosen, std::string* error,
                              bool* unavailable, const std::function<void()>& on_wait) {
    error->clear();
    if (unavailable) *unavailable = false;
    if (!option_text && !variable_text) return true;
    const bool option = option_text != nullptr;
    const std::string source = option ? "--sim" : "VIREO_SIM";
    const std::string text = option ? *option_text : variable_text;
    if (text.empty()) {
        *error = source + ": empty; give a board preset (kb2203, ...) or, for USB boards, " +
                 (option ? "leave --sim out" : "unset VIREO_SIM");
        return false;
    }
    std::shared_ptr<vireo::sim::VirtualBoard> board = vireo::sim::make_virtual_board(text, error);
    if (!board) {
        const std::string prefix = "VIREO_SIM: ";
        if (option && error->rfind(prefix, 0) == 0)
            *error = "--sim: " + error->substr(prefix.size());
        if (error->empty()) *error = source + ": no virtual board";
        return false;
    }
    if (!board->attach_state(error, on_wait)) {
        if (unavailable) *unavailable = true;
        return false;
    }
    *chosen = board;
    usb_use_virtual_board(std::move(board));
    return true;
}
