#include "gui/Unit1.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/file_watch.h"
#include "app/host.h"
#include "app/recent_files.h"
#include "gui/command_runner.h"
#include "gui/result_badge.h"
#include "gui/settings_file.h"
#include "gui/window_ui.h"
#include "jtag/lang.h"
#include "vireo_version.h"
#include "xvc/Xvcserver.h"
#include "xvc/xvc_client.h"

namespace vireo::gui {
namespace {

using app::Session;
using app::Target;

constexpr const char* kTitle = "VireoJTAG";
constexpr int kLogLines = 20000;  // weeks of logging stay light
constexpr int kXvcReapMs = 100;

QString about_line() {
    return QString("%1 vireopg version %2  Copyright (C) 2026 the VireoJTAG developers")
        .arg(kTitle, VIREO_VERSION);
}

// Tool bar image `index` of the image list, drawn for this project (sys/toolbar_NN.png).
QIcon tool_icon(const app::AppPaths& paths, int index) {
    return QIcon(QString::fromStdString(paths.sys_dir) +
                 QString("toolbar_%1.png").arg(index, 2, 10, QChar('0')));
}

QLabel* sunken_text(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

// The log's face. Fixed pitch keeps the columns of the flash's hex dumps and ID tables: the
// desktop's fixed font where it names one, else fontconfig's "monospace". The face that resolves
// to comes first (an alias is no face of a family list), the CJK face second, for the Japanese
// lines' glyphs two columns wide.
QFont log_font() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (!QFontInfo(font).fixedPitch()) {
        font.setFamily("monospace");
        font.setStyleHint(QFont::TypeWriter);
    }
    font.setFamilies({QFontInfo(font).family(), "Noto Sans Mono CJK JP"});
    return font;
}

// A recent-file caption: "&k name", the name's own '&' kept as text.
QString recent_caption(int k, const std::string& name) {
    return QString("&%1 ").arg(k) + QString::fromStdString(name).replace("&", "&&");
}

}  // namespace

TForm1::TForm1(FormOptions options, QWidget* parent)
    : QMainWindow(parent),
      options_(std::move(options)),
      ui_(new WindowUi(this)),
      runner_(new CommandRunner(this)),
      xvc_reaper_(new QTimer(this)) {
    if (!options_.prompts.ask || !options_.prompts.inform || !options_.prompts.open_file) {
        const Prompts dialogs = dialog_prompts(this);
        if (!options_.prompts.ask) options_.prompts.ask = dialogs.ask;
        if (!options_.prompts.inform) options_.prompts.inform = dialogs.inform;
        if (!options_.prompts.open_file) options_.prompts.open_file = dialogs.open_file;
    }
    setWindowTitle(kTitle);
    setAcceptDrops(true);
    setWindowIcon(QIcon(QString::fromStdString(options_.paths.sys_dir) + "vireopg.png"));
    build_tool_bar();
    build_panel();
    build_tray();
    build_language_choice();

    // The three callbacks of the library report to this window from now on.
    ui_->set_prompts(options_.prompts);
    app::install_host(ui_, options_.paths);
    session_ = std::make_unique<Session>(*ui_, options_.paths);
    if (!options_.remote_xvc.empty()) {
        cable_register_driver(xvc::kXvcClientDriver, xvc::xvc_client_driver);
        session_->use_cable(xvc::kXvcClientDriver, options_.remote_xvc);
    }
    ui_->set_cancel_handler([this] { session_->cancel(); });
    connect_ui();

    // One programmer at a time on a board: a second instance is warned and runs on.
    if (!options_.lock_file.isEmpty()) {
        QDir().mkpath(QFileInfo(options_.lock_file).absolutePath());
        lock_ = std::make_unique<QLockFile>(options_.lock_file);
        lock_->setStaleLockTime(0);  // only a live owner counts
        if (!lock_->tryLock(0)) {
            second_instance_ = true;
            lock_.reset();
            options_.prompts.inform(kTitle,
                                    tr_ja("既にVIREOJTAGが起動しています。同時使用はできません。"));
        }
    }
    set_idle_state();
}

TForm1::~TForm1() {
    // A command still running is cancelled and its end awaited, so that the worker never
    // calls into a window that is gone.
    if (runner_->busy()) {
        ui_->request_cancel();
        app::set_flash_running(false);
        while (runner_->busy()) QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    delete runner_;
    runner_ = nullptr;
    xvc_.reset();
    stopping_xvc_.clear();
    session_.reset();
    app::install_host(nullptr, options_.paths);
    if (TrayIcon) TrayIcon->hide();
}

void TForm1::build_tool_bar() {
    auto* bar = addToolBar("Tools");
    bar->setMovable(false);
    bar->setIconSize(QSize(48, 48));
    auto button = [&](int image, const QString& tip) {
        auto* b = new QToolButton(bar);
        b->setIcon(tool_icon(options_.paths, image));
        b->setIconSize(QSize(48, 48));
        b->setFixedSize(55, 54);
        b->setToolTip(tip);
        bar->addWidget(b);
        return b;
    };
    ToolButtonFileOpen = button(10, "Open a design file (recent files in the menu)");
    PopupMenu1 = new QMenu(ToolButtonFileOpen);
    ToolButtonFileOpen->setMenu(PopupMenu1);
    ToolButtonFileOpen->setPopupMode(QToolButton::InstantPopup);
    ToolButtonConnect = button(11, "Connect: find the board and detect the FPGA");
    ToolButtonXVC = button(12, "XVC server: lend the board to network tools (port 2542)");
    ToolButtonXVC->setCheckable(true);
    bar->addSeparator();
    ToolButtonIDCODE = button(0, "IDCODE check (SPI ROM: the flash's identification)");
    ToolButtonSIG = button(1, "Device DNA (SPI ROM: the flash's unique ID)");
    ToolButtonDUMP = button(2, "Dump 256 bytes of the SPI ROM from the offset");
    bar->addSeparator();
    ToolButtonAUTO = button(5, "AUTO: configure the FPGA, or program and verify the SPI ROM");
    ToolButtonWRITE = button(6, "Program the SPI ROM");
    ToolButtonVERIFY = button(7, "Verify the SPI ROM against the file");
    ToolButtonERASE = button(4, "Erase the SPI ROM");
    ToolButtonBLANK = button(3, "Blank check of the SPI ROM");
    ToolButtonREAD = button(8, "Read the SPI ROM back into the file");
    bar->addSeparator();
    ToolButtonCancel = button(9, "Cancel the running command");
    // The window is never narrower than the whole bar: no button falls into its overflow menu.
    bar->setMinimumWidth(bar->sizeHint().width());
}

void TForm1::build_panel() {
    auto* central = new QWidget(this);
    auto* form = new QGridLayout;
    Label1 = new QLabel("Detected Device", central);
    StaticText2 = sunken_text(central);
    form->addWidget(Label1, 0, 0);
    form->addWidget(StaticText2, 0, 1, 1, 2);

    RadioGroup1 = new QGroupBox("Programming target", central);
    RadioGroup1Items = new QButtonGroup(RadioGroup1);
    auto* radios = new QHBoxLayout(RadioGroup1);
    auto* fpga = new QRadioButton("FPGA", RadioGroup1);
    auto* spi = new QRadioButton("SPI ROM", RadioGroup1);
    RadioGroup1Items->addButton(fpga, 0);
    RadioGroup1Items->addButton(spi, 1);
    radios->addWidget(fpga);
    radios->addWidget(spi);
    fpga->setChecked(true);
    form->addWidget(RadioGroup1, 1, 0, 1, 3);

    CheckBoxOffsetAddr = new QCheckBox("Offset ADDR  0x", central);
    EditOffsetAddr = new QLineEdit("00000000", central);
    EditOffsetAddr->setMaxLength(8);
    EditOffsetAddr->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9A-Fa-f]{0,8}"), EditOffsetAddr));
    CheckBoxOffsetAddr->setEnabled(false);
    EditOffsetAddr->setEnabled(false);
    form->addWidget(CheckBoxOffsetAddr, 2, 0);
    form->addWidget(EditOffsetAddr, 2, 1, 1, 2);

    CheckBoxWait = new QCheckBox("When file updated,", central);
    Label3 = new QLabel("programming start automatically.", central);
    Label3->installEventFilter(this);
    form->addWidget(CheckBoxWait, 3, 0);
    form->addWidget(Label3, 3, 1, 1, 2);
    CheckBoxTrimBitStream = new QCheckBox("Trim bitstream headder in SPI mode", central);
    CheckBoxTrimBitStream->setChecked(true);
    form->addWidget(CheckBoxTrimBitStream, 4, 0, 1, 3);

    Label6 = new QLabel("Filename", central);
    EditFileName = new QLineEdit(central);
    EditFileName->setAcceptDrops(false);  // a dropped file goes to the window, not as a URL text
    Button1 = new QPushButton("...", central);
    Button1->setFixedWidth(32);
    form->addWidget(Label6, 5, 0);
    form->addWidget(EditFileName, 5, 1);
    form->addWidget(Button1, 5, 2);
    Label7 = new QLabel("Timestamp", central);
    StaticText1 = sunken_text(central);
    form->addWidget(Label7, 6, 0);
    form->addWidget(StaticText1, 6, 1, 1, 2);

    Label2 = new QLabel("Progress", central);
    ProgressBar1 = new QProgressBar(central);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->installEventFilter(this);  // its width sets the repaint filter's pixel
    LabelProgress = new QLabel("0", central);
    LabelProgress->setMinimumWidth(90);
    auto* progress = new QHBoxLayout;
    progress->addWidget(ProgressBar1, 1);
    progress->addWidget(LabelProgress);
    form->addWidget(Label2, 7, 0);
    form->addLayout(progress, 7, 1, 1, 2);

    Image1 = new QLabel(central);
    Image1->setFixedSize(300, 200);
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    auto* panel = new QHBoxLayout;
    panel->addLayout(form, 1);
    panel->addWidget(Image1, 0, Qt::AlignTop);

    Memo1 = new QPlainTextEdit(central);
    Memo1->setReadOnly(true);
    Memo1->setAcceptDrops(false);
    Memo1->setMaximumBlockCount(kLogLines);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setFont(log_font());

    auto* layout = new QVBoxLayout(central);
    layout->addLayout(panel);
    layout->addWidget(Memo1, 1);
    setCentralWidget(central);
    // Made now, so that the first status text does not shift the layout.
    statusBar();
    resize(768, 604);
}

void TForm1::build_tray() {
    PopupMenu2 = new QMenu(this);
    auto bring_back = [this] {
        showNormal();
        raise();
        activateWindow();
    };
    PopupMenu2->addAction("Show", this, bring_back);
    PopupMenu2->addAction("Hide", this, &QWidget::hide);
    PopupMenu2->addSeparator();
    PopupMenu2->addAction("Exit", this, &TForm1::Exit1Click);
    TrayIcon = new QSystemTrayIcon(windowIcon(), this);
    TrayIcon->setToolTip("VIRPG");
    TrayIcon->setContextMenu(PopupMenu2);
    connect(TrayIcon, &QSystemTrayIcon::activated, this,
            [bring_back](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick) bring_back();
            });
    if (QSystemTrayIcon::isSystemTrayAvailable()) TrayIcon->show();
}

void TForm1::build_language_choice() {
    ComboBoxLanguage = new QComboBox(this);
    ComboBoxLanguage->addItem("Language of the locale", QString());
    ComboBoxLanguage->addItem("Japanese (ja)", QString("ja"));
    ComboBoxLanguage->addItem("English (en)", QString("en"));
    ComboBoxLanguage->setToolTip("Language of the log and the messages (kept in vireopg.ini)");
    const std::string stored =
        options_.settings_file.isEmpty() ? "" : read_language(options_.settings_file);
    if (!stored.empty())
        ComboBoxLanguage->setCurrentIndex(
            ComboBoxLanguage->findData(QString::fromStdString(stored)));
    statusBar()->addPermanentWidget(ComboBoxLanguage);
    connect(ComboBoxLanguage, &QComboBox::activated, this, &TForm1::ComboBoxLanguageChange);
}

// The choice holds from the next message on, also for a command that is running.
void TForm1::ComboBoxLanguageChange(int index) {
    const std::string code = ComboBoxLanguage->itemData(index).toString().toStdString();
    Language language = language_from_environment();
    parse_language(code, &language);
    set_language(language);
    if (!options_.settings_file.isEmpty() && !write_language(options_.settings_file, code))
        append_log(options_.settings_file + ": the language could not be stored");
}

void TForm1::connect_ui() {
    connect(ui_, &WindowUi::logLine, this, &TForm1::append_log);
    connect(ui_, &WindowUi::progress, this, &TForm1::show_progress);
    connect(ui_, &WindowUi::status, this,
            [this](const QString& text) { statusBar()->showMessage(text); });
    connect(ui_, &WindowUi::picture, this, &TForm1::show_picture_file);
    connect(ui_, &WindowUi::deviceName, StaticText2, &QLabel::setText);
    connect(ui_, &WindowUi::result, this, &TForm1::show_result);
    connect(ui_, &WindowUi::xvcLine, this, &TForm1::xvc_status);
    connect(ui_, &WindowUi::cancellable, this, [this](bool allowed) {
        if (runner_->busy()) ToolButtonCancel->setEnabled(allowed);
    });
    connect(runner_, &CommandRunner::failed, this, [this](const QString& what) {
        options_.prompts.inform(kTitle, "Unexpected error: " + what);
        QApplication::exit(1);
    });

    connect(ToolButtonConnect, &QToolButton::clicked, this, &TForm1::ToolButtonConnectClick);
    connect(ToolButtonXVC, &QToolButton::clicked, this, &TForm1::ToolButtonXVCClick);
    connect(ToolButtonIDCODE, &QToolButton::clicked, this, &TForm1::ToolButtonIDCODEClick);
    connect(ToolButtonSIG, &QToolButton::clicked, this, &TForm1::ToolButtonSIGClick);
    connect(ToolButtonDUMP, &QToolButton::clicked, this, &TForm1::ToolButtonDUMPClick);
    connect(ToolButtonAUTO, &QToolButton::clicked, this, &TForm1::ToolButtonAUTOClick);
    connect(ToolButtonWRITE, &QToolButton::clicked, this, &TForm1::ToolButtonWRITEClick);
    connect(ToolButtonVERIFY, &QToolButton::clicked, this, &TForm1::ToolButtonVERIFYClick);
    connect(ToolButtonERASE, &QToolButton::clicked, this, &TForm1::ToolButtonERASEClick);
    connect(ToolButtonBLANK, &QToolButton::clicked, this, &TForm1::ToolButtonBLANKClick);
    connect(ToolButtonREAD, &QToolButton::clicked, this, &TForm1::ToolButtonREADClick);
    connect(ToolButtonCancel, &QToolButton::clicked, this, &TForm1::ToolButtonCancelClick);
    connect(RadioGroup1Items, &QButtonGroup::idClicked, this, &TForm1::RadioGroup1Click);
    connect(CheckBoxOffsetAddr, &QCheckBox::clicked, this, &TForm1::CheckBoxOffsetAddrClick);
    connect(CheckBoxWait, &QCheckBox::clicked, this, &TForm1::show_timestamp);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(PopupMenu1, &QMenu::aboutToShow, this, &TForm1::PopupMenu1Popup);
    // A file typed by hand enables AUTO as soon as it exists.
    connect(EditFileName, &QLineEdit::textChanged, this, [this] {
        if (!busy()) set_idle_state();
    });
    connect(xvc_reaper_, &QTimer::timeout, this, [this] {
        std::erase_if(stopping_xvc_, [](const auto& server) { return !server->running(); });
        if (stopping_xvc_.empty()) xvc_reaper_->stop();
    });
    xvc_reaper_->setInterval(kXvcReapMs);
}

void TForm1::start() {
    append_log(about_line());
    setWindowTitle(QString("%1 - JTAG programmer for Spartan-6 and 7-series FPGAs").arg(kTitle));
    command([](Session& session) { session.reconnect(); }, [this] { after_connect(); });
}

bool TForm1::busy() const {
    return runner_->busy() || xvc_ != nullptr;
}

// ---- states ---------------------------------------------------------------------------------

void TForm1::apply_buttons(const ToolButtons& b) {
    ToolButtonFileOpen->setEnabled(b.file_open);
    ToolButtonConnect->setEnabled(b.connect);
    ToolButtonIDCODE->setEnabled(b.idcode);
    ToolButtonSIG->setEnabled(b.sig);
    ToolButtonDUMP->setEnabled(b.dump);
    ToolButtonAUTO->setEnabled(b.autob);
    ToolButtonWRITE->setEnabled(b.write);
    ToolButtonVERIFY->setEnabled(b.verify);
    ToolButtonERASE->setEnabled(b.erase);
    ToolButtonBLANK->setEnabled(b.blank);
    ToolButtonREAD->setEnabled(b.read);
    ToolButtonCancel->setEnabled(b.cancel);
}

void TForm1::set_busy_state() {
    ToolButtons buttons = tool_buttons(FormState::Busy, false);
    // While the XVC server runs it owns the board: nothing to cancel, nothing else to start.
    if (xvc_) buttons.cancel = false;
    apply_buttons(buttons);
    ToolButtonXVC->setEnabled(xvc_ != nullptr);
    RadioGroup1->setEnabled(false);
    Button1->setEnabled(false);
}

void TForm1::set_idle_state() {
    if (busy()) {
        set_busy_state();
        return;
    }
    const FormState state = !view_.connected ? FormState::IdleDisconnected
                            : view_.spi_mode ? FormState::IdleSpiRom
                                             : FormState::IdleFpga;
    apply_buttons(tool_buttons(state, QFileInfo(EditFileName->text()).isFile()));
    ToolButtonXVC->setEnabled(true);
    RadioGroup1->setEnabled(true);
    Button1->setEnabled(true);
    RadioGroup1Items->button(view_.target == Target::SpiRom ? 1 : 0)->setChecked(true);
    CheckBoxOffsetAddr->setEnabled(view_.spi_mode);
}

bool TForm1::command(std::function<void(Session&)> job, std::function<void()> done) {
    if (busy()) return false;
    ui_->begin_command();
    const bool started = runner_->run(
        [this, job = std::move(job)] {
            Session& session = *session_;
            session.begin_command();
            job(session);
            // The cable is held only while a command runs.
            session.disconnect();
            worker_view_ = {session.connected(), session.spi_mode(), session.target(),
                            session.last_connect()};
        },
        [this, done = std::move(done)] {
            view_ = worker_view_;
            statusBar()->clearMessage();
            set_idle_state();
            if (done) done();
            emit commandFinished();
            if (pending_close_) {
                pending_close_ = false;
                close();
            }
        });
    if (started) set_busy_state();
    return started;
}

// ---- display --------------------------------------------------------------------------------

void TForm1::append_log(const QString& line) {
    Memo1->appendPlainText(line);
}

void TForm1::show_progress(int position, int maximum) {
    if (maximum <= 0) {
        LabelProgress->setText("0");
        ProgressBar1->setValue(0);
        return;
    }
    LabelProgress->setText(QString("%1/%2").arg(position).arg(maximum));
    ProgressBar1->setMaximum(maximum);
    ProgressBar1->setValue(position);
}

void TForm1::show_picture_file(const QString& path) {
    picture_ = QFileInfo(path).fileName();
    QPixmap pixmap(path);
    if (pixmap.isNull()) {
        Image1->clear();
    } else {
        Image1->setPixmap(pixmap.scaled(Image1->size(), Qt::KeepAspectRatio));
    }
}

void TForm1::show_result(const QString& text, int status) {
    last_result_ = text;
    ResultBadge::show_over(this, text, status);
}

void TForm1::show_timestamp() {
    if (auto stamp = app::file_timestamp_text(EditFileName->text().toStdString())) {
        StaticText1->setText(QString::fromStdString(*stamp));
    }
}

uint32_t TForm1::offset() const {
    return parse_offset(EditOffsetAddr->text().toStdString());
}

QString TForm1::exe_dir() const {
    return QString::fromStdString(options_.paths.exe_dir);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ProgressBar1 && event->type() == QEvent::Resize) {
        ui_->set_bar_width(ProgressBar1->width());
    }
    // Label3Click: the label toggles the check box it continues.
    if (watched == Label3 && event->type() == QEvent::MouseButtonRelease) {
        CheckBoxWait->click();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- files ----------------------------------------------------------------------------------

void TForm1::add_recent(const QString& name) {
    const std::vector<std::string> entries =
        app::recent_after_choice(read_recent_files(options_.settings_file), name.toStdString());
    if (!write_recent_files(options_.settings_file, entries)) {
        app::log_message("The recent-file list could not be saved in %s",
                         options_.settings_file.toStdString().c_str());
    }
}

void TForm1::PopupMenu1Popup() {
    PopupMenu1->clear();
    PopupMenu1->addAction("Open a new file", this, &TForm1::Button1Click);
    PopupMenu1->addSeparator();
    const std::vector<std::string> entries = read_recent_files(options_.settings_file);
    for (int k = 1; k <= app::kRecentFiles; ++k) {
        PopupMenu1->addAction(recent_caption(k, entries[static_cast<size_t>(k - 1)]), this,
                              [this, k] { open_recent(k); });
    }
}

void TForm1::open_recent(int k) {
    if (k < 1 || k > app::kRecentFiles || busy()) return;
    const std::string name = read_recent_files(options_.settings_file)[static_cast<size_t>(k - 1)];
    EditFileName->setText(QString::fromStdString(name));
    show_timestamp();
    set_idle_state();
    add_recent(EditFileName->text());
}

void TForm1::Button1Click() {
    if (busy()) return;
    const QString text = EditFileName->text();
    const bool exists = QFileInfo(text).isFile();
    const QString start = exists ? text : exe_dir();
    const QString chosen = options_.prompts.open_file(
        "Open design file", start, "design file(*.bit,*.mcs) (*.bit *.mcs);;All files(*.*) (*)");
    if (!chosen.isEmpty()) use_file(chosen);
}

void TForm1::use_file(const QString& path) {
    EditFileName->setText(path);
    show_timestamp();
    set_idle_state();
    add_recent(path);
}

// A design file dropped on the window is taken as if chosen in the dialog.
void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!busy() && urls.size() == 1 && urls[0].isLocalFile()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (busy() || urls.size() != 1 || !urls[0].isLocalFile()) return;
    use_file(urls[0].toLocalFile());
    event->acceptProposedAction();
}

// ---- closing --------------------------------------------------------------------------------

void TForm1::Exit1Click() {
    stay_in_tray_ = false;
    close();
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (stay_in_tray_) {
        // The XVC server goes on serving; the icon menu brings the window back. Without a
        // notification area there would be no way back: the window is minimised instead.
        event->ignore();
        if (QSystemTrayIcon::isSystemTrayAvailable()) {
            hide();
        } else {
            showMinimized();
        }
        return;
    }
    xvc_.reset();  // "Exit" while the server runs: it stops first
    if (runner_->busy()) {
        // Closing waits for the running command, asked to cancel, then closes.
        event->ignore();
        pending_close_ = true;
        ToolButtonCancelClick();
        return;
    }
    if (view_.spi_mode && view_.connected && !shutdown_done_) {
        // The FPGA still runs the SPI bridge: restart it so that it boots from its flash.
        event->ignore();
        shutdown_done_ = true;
        pending_close_ = true;
        command([](Session& session) { session.set_target(Target::Fpga); });
        return;
    }
    TrayIcon->hide();
    event->accept();
}

}  // namespace vireo::gui
