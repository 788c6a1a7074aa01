// What the window tests share: one QApplication for the test program (offscreen platform), a
// window on the build's runnable folder with its settings and lock in a scratch folder, prompts
// that record and answer from a script, and waits that keep the event loop turning.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QToolButton>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gui/Unit1.h"
#include "support/use_virtual_board.h"

namespace vireo::gui {

inline QApplication& test_application() {
    static int argc = 1;
    static char name[] = "test_gui";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);  // lives as long as the program
    return *app;
}

// Turns the event loop until `done` holds or `ms` have passed; true when it holds.
inline bool wait_until(const std::function<bool()>& done, int ms = 20000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

class GuiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test_application();
        dir_ = std::filesystem::temp_directory_path() /
               ("vireo_gui_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        const std::string cwd = std::filesystem::current_path().string() + "/";
        options_.paths = {cwd, cwd + "sys/"};
        options_.settings_file = QString::fromStdString((dir_ / "config/vireopg.ini").string());
        options_.lock_file = QString::fromStdString((dir_ / "run/VireoJTAG.lock").string());
        options_.xvc_address = "127.0.0.1";
        options_.xvc_port = 0;
        options_.prompts.ask = [this](const QString&, const QString& question) {
            questions_.push_back(question.toStdString());
            return answer_;
        };
        options_.prompts.inform = [this](const QString&, const QString& text) {
            messages_.push_back(text.toStdString());
        };
        options_.prompts.open_file = [this](const QString& title, const QString&,
                                            const QString& filter) {
            dialog_title_ = title.toStdString();
            dialog_filter_ = filter.toStdString();
            return chosen_file_;
        };
    }
    void TearDown() override {
        form_.reset();
        test::use_virtual_board("");
        std::filesystem::remove_all(dir_);
    }

    void use(const std::string& preset) {
        std::string error;
        ASSERT_NE(test::use_virtual_board(preset, &error), nullptr) << error;
    }
    // The window, started (about line and connect) and idle again.
    TForm1& started() {
        form_ = std::make_unique<TForm1>(options_);
        form_->start();
        EXPECT_TRUE(idle());
        return *form_;
    }
    bool idle(int ms = 60000) {
        return wait_until([this] { return !form_->busy(); }, ms);
    }
    void click(QToolButton* button) {
        ASSERT_TRUE(button->isEnabled()) << button->toolTip().toStdString();
        button->click();
    }
    std::string log() const { return form_->Memo1->toPlainText().toStdString(); }
    bool logged(const std::string& text) const { return log().find(text) != std::string::npos; }

    std::filesystem::path dir_;
    FormOptions options_;
    std::unique_ptr<TForm1> form_;
    std::vector<std::string> questions_, messages_;
    bool answer_ = true;
    QString chosen_file_;
    std::string dialog_title_, dialog_filter_;
};

}  // namespace vireo::gui
