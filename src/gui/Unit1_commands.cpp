// TForm1's command handlers: each shows what it must on the GUI thread and hands its work to
// the shared command logic on the worker thread; the XVC server's toggle.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPalette>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>

#include "app/host.h"
#include "gui/Unit1.h"
#include "gui/Unitwait.h"
#include "gui/command_runner.h"
#include "gui/settings_file.h"
#include "gui/window_ui.h"
#include "jtag/lang.h"
#include "xvc/Xvcserver.h"

namespace vireo::gui {

using app::ConnectResult;
using app::Session;
using app::Target;

// ---- connect and the identification commands -----------------------------------------------

void TForm1::after_connect() {
    const ConnectResult result = view_.last_connect;
    if (result == ConnectResult::FirmwareLoaded || result == ConnectResult::FirmwareFailed) {
        // The board restarts with its new firmware (or none): the user replugs and starts again.
        stay_in_tray_ = false;
        close();
    }
}

void TForm1::ToolButtonConnectClick() {
    show_timestamp();
    command([](Session& session) { session.reconnect(); }, [this] { after_connect(); });
}

void TForm1::ToolButtonIDCODEClick() {
    show_timestamp();
    command([](Session& session) {
        if (session.spi_mode()) {
            session.flash_id();
        } else {
            session.idcode_check();
        }
    });
}

void TForm1::ToolButtonSIGClick() {
    show_timestamp();
    command([](Session& session) {
        if (session.spi_mode()) {
            session.flash_unique_id();
        } else {
            session.device_dna();
        }
    });
}

// ---- programming commands -------------------------------------------------------------------

bool TForm1::wait_on_gui_thread(const std::string& path) {
    bool go_on = false;
    ui_->on_gui_thread([&] {
        const QString file = QString::fromStdString(path);
        if (options_.wait_for_update) {
            go_on = options_.wait_for_update(file);
        } else {
            TFormWait wait(file, this);
            go_on = wait.exec() == QDialog::Accepted;
        }
        // The stamp of the file that ended the wait, shown before it is programmed.
        if (go_on) show_timestamp();
    });
    return go_on;
}

void TForm1::ToolButtonAUTOClick() {
    const std::string file = EditFileName->text().toStdString();
    const bool wait = CheckBoxWait->isChecked();
    const uint32_t at = offset();
    const bool trim = CheckBoxTrimBitStream->isChecked();
    if (!wait) show_timestamp();
    Session::WaitForUpdate waiter;
    if (wait) waiter = [this](const std::string& path) { return wait_on_gui_thread(path); };
    command([file, at, trim, waiter](Session& session) {
        if (!session.spi_mode()) {
            session.program_fpga(file, waiter);
            return;
        }
        if (session.connect() != ConnectResult::Connected) return;
        if (waiter && !waiter(file)) {
            app::log_message(tr_ja("書き込みはキャンセルされました"));
            return;
        }
        session.flash_program(file, at, trim);
    });
}

void TForm1::ToolButtonWRITEClick() {
    show_timestamp();
    const std::string file = EditFileName->text().toStdString();
    const uint32_t at = offset();
    const bool trim = CheckBoxTrimBitStream->isChecked();
    command([file, at, trim](Session& session) {
        if (session.spi_mode()) session.flash_program(file, at, trim, false);
    });
}

void TForm1::ToolButtonVERIFYClick() {
    show_timestamp();
    const std::string file = EditFileName->text().toStdString();
    const uint32_t at = offset();
    const bool trim = CheckBoxTrimBitStream->isChecked();
    command([file, at, trim](Session& session) {
        if (session.spi_mode()) session.flash_verify(file, at, trim);
    });
}

void TForm1::ToolButtonERASEClick() {
    show_timestamp();
    command([](Session& session) {
        if (session.spi_mode()) session.flash_erase();
    });
}

void TForm1::ToolButtonBLANKClick() {
    show_timestamp();
    command([](Session& session) {
        if (session.spi_mode()) session.flash_blank();
    });
}

void TForm1::ToolButtonREADClick() {
    show_timestamp();
    const std::string file = EditFileName->text().toStdString();
    const uint32_t at = offset();
    command([file, at](Session& session) {
        if (session.spi_mode()) session.flash_read(file, at);
    });
}

void TForm1::ToolButtonDUMPClick() {
    show_timestamp();
    const uint32_t at = offset();
    command([at](Session& session) {
        if (session.spi_mode()) {
            session.flash_dump(at);
        } else {
            session.connect();
        }
    });
}

void TForm1::ToolButtonCancelClick() {
    show_timestamp();
    if (!runner_->busy()) return;
    // The SPI ROM operations watch their running flag; the FPGA's Write hears of the cancel at
    // its next piece, on the worker that owns the chain.
    if (view_.spi_mode) app::set_flash_running(false);
    ui_->request_cancel();
    statusBar()->showMessage("Cancelling...");
}

void TForm1::RadioGroup1Click(int index) {
    const Target target = index == 1 ? Target::SpiRom : Target::Fpga;
    const bool trim = CheckBoxTrimBitStream->isChecked();
    if (target == Target::Fpga) CheckBoxOffsetAddr->setEnabled(false);
    if (!command([target, trim](Session& session) { session.set_target(target, trim); })) {
        set_idle_state();  // refused while busy: the radio shows the target in place
    }
}

// The field holds the offset whenever the SPI ROM target is active; the box only shows whether
// the user means one: a text field's colour when checked, the button face's when not.
void TForm1::CheckBoxOffsetAddrClick() {
    EditOffsetAddr->setEnabled(true);
    QPalette colours = EditOffsetAddr->palette();
    colours.setColor(QPalette::Base,
                     CheckBoxOffsetAddr->isChecked()
                         ? QApplication::palette(EditOffsetAddr).color(QPalette::Base)
                         : colours.color(QPalette::Button));
    EditOffsetAddr->setPalette(colours);
}

// ---- XVC server -----------------------------------------------------------------------------

void TForm1::ToolButtonXVCClick(bool pressed) {
    const QString sys = QString::fromStdString(options_.paths.sys_dir);
    if (!pressed) {
        if (!xvc_) return;
        xvc_->request_stop();
        stopping_xvc_.push_back(std::move(xvc_));
        xvc_reaper_->start();
        stay_in_tray_ = false;
        show_picture_file(sys + "none.bmp");
        set_idle_state();
        return;
    }
    if (runner_->busy()) {
        ToolButtonXVC->setChecked(false);
        return;
    }
    xvc::XvcOptions xvc_options;
    xvc_options.address = options_.xvc_address;
    xvc_options.port = options_.xvc_port;
    // Read at each start, so an edited settings file counts without a restart. A setting that
    // cannot be read stops the start: an allow list with a typo must not let everyone in.
    if (const std::string problem = read_xvc_settings(options_.settings_file, &xvc_options);
        !problem.empty()) {
        append_log(QString("XVC server not started: %1 (%2)")
                       .arg(QString::fromStdString(problem), options_.settings_file));
        ToolButtonXVC->setChecked(false);
        return;
    }
    WindowUi* relay = ui_;
    auto server = std::make_unique<xvc::TXvc>(
        xvc_options, [relay](const std::string& line) { relay->post_xvc_line(line); });
    if (!server->start()) {
        append_log(QString("XVC server could not listen on %1 port %2")
                       .arg(QString::fromStdString(xvc_options.address))
                       .arg(xvc_options.port));
        ToolButtonXVC->setChecked(false);
        return;
    }
    xvc_ = std::move(server);
    stay_in_tray_ = true;
    set_busy_state();
    show_picture_file(sys + "xvcserver.bmp");
}

void TForm1::xvc_status(const QString& line) {
    QString text = line;
    while (text.endsWith('\n') || text.endsWith('\r')) text.chop(1);
    append_log(QString::fromStdString(app::log_line(text.toStdString(), std::time(nullptr))));
    TrayIcon->setToolTip(text);
}

}  // namespace vireo::gui
