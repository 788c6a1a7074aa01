// A user interface that shows nothing and answers no, for tests and benchmarks of the command
// logic.
#pragma once

#include "app/app_ui.h"

namespace vireo::test {

class NullUi : public app::AppUi {
  public:
    void append_log(const std::string&) override {}
    void show_progress(int, int) override {}
    void show_status(const std::string&) override {}
    bool ask_yes_no(const std::string&, const std::string&) override { return false; }
    void show_message(const std::string&, const std::string&) override {}
    void show_picture(const std::string&) override {}
    void show_device_name(const std::string&) override {}
    void show_result(const std::string&, int) override {}
    void set_busy(bool) override {}
};

}  // namespace vireo::test
