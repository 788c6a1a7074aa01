// TForm1: the main window of vireopg. It draws and dispatches: every command runs the shared
// command logic (app::Session) on the worker thread, while the window shows the log, progress,
// board picture and result, and keeps the tool buttons in the busy or idle state so that no
// second command can start. The XVC server, the recent-file list, the wait for a file update
// and the notification icon live here too.
#pragma once

#include <QLabel>
#include <QLockFile>
#include <QMainWindow>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "app/paths.h"
#include "app/session.h"
#include "gui/form_logic.h"
#include "gui/prompts.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSystemTrayIcon;
class QTimer;
class QToolButton;

namespace vireo::xvc {
class TXvc;
}

namespace vireo::gui {

class CommandRunner;
class WindowUi;

struct FormOptions {
    app::AppPaths paths;
    QString settings_file;  // "vireopg.ini"
    QString lock_file;      // the per-user lock "VireoJTAG"
    std::string xvc_address = "0.0.0.0";
    uint16_t xvc_port = 2542;  // 0: any free port
    // HOST[:PORT] of an XVC server whose board every command uses; empty: the USB boards.
    std::string remote_xvc;
    // Questions, message boxes and the file dialog; empty members fall back to real dialogs.
    Prompts prompts;
    // The wait for a file update before AUTO; empty: the TFormWait dialog. True to go on.
    std::function<bool(const QString& path)> wait_for_update;
};

// The window's copy of the session's state, taken on the worker after each command.
struct SessionView {
    bool connected = false;
    bool spi_mode = false;
    app::Target target = app::Target::Fpga;
    app::ConnectResult last_connect = app::ConnectResult::NoBoard;
};

class TForm1 : public QMainWindow {
    Q_OBJECT

  public:
    explicit TForm1(FormOptions options, QWidget* parent = nullptr);
    ~TForm1() override;

    // FormCreate: the about line, connect and detect with messages, the idle state.
    void start();

    // Tool bar, in its order.
    QToolButton *ToolButtonFileOpen, *ToolButtonConnect, *ToolButtonXVC;
    QToolButton *ToolButtonIDCODE, *ToolButtonSIG, *ToolButtonDUMP;
    QToolButton *ToolButtonAUTO, *ToolButtonWRITE, *ToolButtonVERIFY, *ToolButtonERASE,
        *ToolButtonBLANK, *ToolButtonREAD, *ToolButtonCancel;
    QMenu* PopupMenu1;  // "Open a new file", separator, the ten recent files
    QLabel *Label1, *StaticText2;
    QGroupBox* RadioGroup1;
    QButtonGroup* RadioGroup1Items;  // 0 "FPGA", 1 "SPI ROM"
    QCheckBox* CheckBoxOffsetAddr;
    QLineEdit* EditOffsetAddr;
    QCheckBox* CheckBoxWait;
    QLabel* Label3;
    QCheckBox* CheckBoxTrimBitStream;
    QLabel* Label6;
    QLineEdit* EditFileName;
    QPushButton* Button1;
    QLabel *Label7, *StaticText1;
    QLabel* Label2;
    QProgressBar* ProgressBar1;
    QLabel* LabelProgress;
    QLabel* Image1;
    QPlainTextEdit* Memo1;
    QSystemTrayIcon* TrayIcon;
    QMenu* PopupMenu2;  // "Show", "Hide", separator, "Exit"
    // In the status bar: the language of the log and the messages (the locale's, Japanese,
    // English), kept as [window] Language in vireopg.ini.
    QComboBox* ComboBoxLanguage;

    bool busy() const;
    bool xvc_running() const { return xvc_ != nullptr; }
    bool stay_in_tray() const { return stay_in_tray_; }
    const SessionView& session_view() const { return view_; }
    // The last picture file shown in Image1 and the last result badge's text.
    const QString& picture() const { return picture_; }
    const QString& last_result() const { return last_result_; }
    // The window's side of the command logic (its signals carry log lines and progress).
    WindowUi* window_ui() const { return ui_; }
    // The per-user lock was held by another instance at start.
    bool second_instance() const { return second_instance_; }

    // Handlers (the tool bar and controls call them; so may a test).
    void ToolButtonConnectClick();
    void ToolButtonIDCODEClick();
    void ToolButtonSIGClick();
    void ToolButtonDUMPClick();
    void ToolButtonAUTOClick();
    void ToolButtonWRITEClick();
    void ToolButtonVERIFYClick();
    void ToolButtonERASEClick();
    void ToolButtonBLANKClick();
    void ToolButtonREADClick();
    void ToolButtonCancelClick();
    void ToolButtonXVCClick(bool pressed);
    void RadioGroup1Click(int index);
    void CheckBoxOffsetAddrClick();
    void Button1Click();
    void PopupMenu1Popup();
    void open_recent(int k);
    void Exit1Click();
    void ComboBoxLanguageChange(int index);

  signals:
    // A command has ended and the window is idle again.
    void commandFinished();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void build_tool_bar();
    void build_panel();
    void build_tray();
    void build_language_choice();
    void connect_ui();

    // Runs `job` on the worker in the busy state; afterwards the idle state and `done`.
    bool command(std::function<void(app::Session&)> job, std::function<void()> done = {});
    void set_busy_state();
    void set_idle_state();
    void apply_buttons(const ToolButtons& buttons);
    void show_timestamp();
    void show_picture_file(const QString& path);
    void append_log(const QString& line);
    void show_progress(int position, int maximum);
    void show_result(const QString& text, int status);
    void xvc_status(const QString& line);
    void retire_xvc();
    void add_recent(const QString& name);
    // A chosen design file: the file name, its time stamp, AUTO and the recent list follow.
    void use_file(const QString& path);
    void after_connect();
    // On the worker: the wait for a file update, shown on the GUI thread.
    bool wait_on_gui_thread(const std::string& path);
    uint32_t offset() const;
    QString exe_dir() const;

    FormOptions options_;
    std::unique_ptr<QLockFile> lock_;
    bool second_instance_ = false;
    WindowUi* ui_;  // child: outlives the worker's last call
    std::unique_ptr<app::Session> session_;
    CommandRunner* runner_;  // child, destroyed first in the destructor
    SessionView view_;
    SessionView worker_view_;  // written by the worker, read after the command
    bool stay_in_tray_ = false;
    bool pending_close_ = false;
    bool shutdown_done_ = false;
    QString picture_;
    QString last_result_;
    std::unique_ptr<xvc::TXvc> xvc_;
    std::vector<std::unique_ptr<xvc::TXvc>> stopping_xvc_;  // asked to end, not yet ended
    QTimer* xvc_reaper_;
};

}  // namespace vireo::gui
