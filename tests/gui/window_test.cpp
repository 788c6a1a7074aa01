// The window driven on the virtual board: start-up and connect, AUTO on the FPGA with a good
// and a bad file and a Cancel in the middle, the SPI ROM target and a flash program, the XVC
// toggle with the stay-in-tray rule, the second-instance warning, the language choice; the layout
// from the first frame, the questions' buttons and the progress that reaches the window.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLockFile>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QRadioButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <fstream>

#include "gui/result_badge.h"
#include "gui/settings_file.h"
#include "gui/window_ui.h"
#include "gui_fixture.h"
#include "jtag/lang.h"
#include "xvc/Xvcserver.h"

namespace vireo::gui {
namespace {

constexpr const char* kGood = "examples/example_xc7a100t.bit";

QString absolute(const char* file) {
    return QString::fromStdString(std::filesystem::absolute(file).string());
}

// The command buttons a state leaves usable, in one text: "FileOpen Connect IDCODE ...".
std::string enabled_buttons(const TForm1& f) {
    const std::pair<const char*, QToolButton*> all[] = {
        {"FileOpen", f.ToolButtonFileOpen}, {"Connect", f.ToolButtonConnect},
        {"XVC", f.ToolButtonXVC},           {"IDCODE", f.ToolButtonIDCODE},
        {"SIG", f.ToolButtonSIG},           {"DUMP", f.ToolButtonDUMP},
        {"AUTO", f.ToolButtonAUTO},         {"WRITE", f.ToolButtonWRITE},
        {"VERIFY", f.ToolButtonVERIFY},     {"ERASE", f.ToolButtonERASE},
        {"BLANK", f.ToolButtonBLANK},       {"READ", f.ToolButtonREAD},
        {"Cancel", f.ToolButtonCancel}};
    std::string text;
    for (const auto& [name, button] : all) {
        if (button->isEnabled()) text += std::string(text.empty() ? "" : " ") + name;
    }
    return text;
}

ResultBadge* badge(TForm1& form) {
    const auto badges = form.findChildren<ResultBadge*>();
    return badges.isEmpty() ? nullptr : badges.last();
}

TEST_F(GuiTest, WithoutABoardStartUpSaysSoAndOffersOnlyFilesAndConnect) {
    test::use_virtual_board("");  // no board
    TForm1& form = started();
    EXPECT_TRUE(log().starts_with("VireoJTAG vireopg version")) << log();
    EXPECT_TRUE(logged("Spartan-6 nor Artix-7 board was not found")) << log();
    EXPECT_EQ(form.picture(), "none.bmp");
    EXPECT_EQ(enabled_buttons(form), "FileOpen Connect XVC");
    // AUTO stays off for a file that exists, as long as nothing is connected.
    form.EditFileName->setText(absolute(kGood));
    EXPECT_FALSE(form.ToolButtonAUTO->isEnabled());
}

// From its first frame: the status bar is there (no jump at the first command), the smallest
// window keeps every tool button on the bar, the log has fixed pitch for the dumps, and the
// offset box colours its field instead of locking it (the offset counts either way).
TEST_F(GuiTest, TheWindowsLayoutHoldsFromItsFirstFrame) {
    test::use_virtual_board("");  // no board
    form_ = std::make_unique<TForm1>(options_);
    TForm1& form = *form_;
    EXPECT_NE(form.findChild<QStatusBar*>(), nullptr);
    form.show();
    form.resize(1, 1);
    QApplication::processEvents();
    auto* bar = form.findChild<QToolBar*>();
    ASSERT_NE(bar, nullptr);
    for (QToolButton* button : {form.ToolButtonFileOpen, form.ToolButtonBLANK, form.ToolButtonREAD,
                                form.ToolButtonCancel}) {
        EXPECT_TRUE(button->isVisible()) << button->toolTip().toStdString();
        EXPECT_TRUE(bar->rect().contains(button->geometry())) << form.width();
    }
    EXPECT_TRUE(QFontInfo(form.Memo1->font()).fixedPitch());

    const auto field = [&] { return form.EditOffsetAddr->palette().color(QPalette::Base); };
    const QColor face = form.EditOffsetAddr->palette().color(QPalette::Button);
    form.CheckBoxOffsetAddr->setChecked(true);
    form.CheckBoxOffsetAddrClick();
    EXPECT_TRUE(form.EditOffsetAddr->isEnabled());
    EXPECT_NE(field(), face);
    form.CheckBoxOffsetAddr->setChecked(false);
    form.CheckBoxOffsetAddrClick();
    EXPECT_TRUE(form.EditOffsetAddr->isEnabled());
    EXPECT_EQ(field(), face);
}

// The read-back's "(y/n)" question has Yes and No; the library's "Over write OK ?" OK and Cancel.
TEST_F(GuiTest, QuestionsShowTheButtonsTheirTextAsksFor) {
    const Prompts dialogs = dialog_prompts(nullptr);
    const auto buttons = [&](const QString& question) {
        QMessageBox::StandardButtons shown;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            shown = box->standardButtons();
            box->button(shown & QMessageBox::No ? QMessageBox::No : QMessageBox::Cancel)->click();
        });
        EXPECT_FALSE(dialogs.ask("query", question));
        return shown;
    };
    EXPECT_EQ(buttons("ファイルa.binはすでに存在します。上書きしますか？ (y/n)"),
              QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(buttons("Over write OK ?"), QMessageBox::Ok | QMessageBox::Cancel);
}

// The flash code paces its own progress: all of it reaches the window; the library's is thinned
// to a call per pixel of the bar.
TEST_F(GuiTest, FlashProgressIsShownEveryTimeTheLibrarysByThePixel) {
    WindowUi ui;
    ui.set_bar_width(100);
    QSignalSpy shown(&ui, &WindowUi::progress);
    for (int page = 0; page <= 1000; page += 10) ui.show_progress(page, 10000);
    EXPECT_EQ(shown.count(), 11);
    shown.clear();
    for (int page = 0; page <= 1000; page += 10) ui.show_flash_progress(page, 10000);
    EXPECT_EQ(shown.count(), 101);
}

TEST_F(GuiTest, StartUpConnectsAndTheIdleStateFollowsTheFile) {
    use("kb2203");
    TForm1& form = started();
    EXPECT_TRUE(logged("Connecting to Spartan-6 or Artix-7 board...")) << log();
    EXPECT_TRUE(logged("Device XC7A100T was found succesfully.")) << log();
    EXPECT_EQ(form.StaticText2->text(), "XC7A100T");
    EXPECT_EQ(form.picture(), "kb2203a.bmp");
    EXPECT_EQ(enabled_buttons(form), "FileOpen Connect XVC IDCODE SIG");
    form.EditFileName->setText(absolute(kGood));
    EXPECT_EQ(enabled_buttons(form), "FileOpen Connect XVC IDCODE SIG AUTO");
    form.EditFileName->setText(absolute("examples/no_such_design.bit"));
    EXPECT_FALSE(form.ToolButtonAUTO->isEnabled());

    // IDCODE and DNA through the buttons; a connected window reconnects quietly.
    click(form.ToolButtonIDCODE);
    ASSERT_TRUE(idle());
    click(form.ToolButtonSIG);
    ASSERT_TRUE(idle());
    EXPECT_TRUE(logged("デバイス'XC7A100T'のIDCODEは 0x")) << log();
    EXPECT_TRUE(logged("DeviceDNA:")) << log();
    EXPECT_EQ(form.Memo1->toPlainText().count("Connecting to"), 1);
}

TEST_F(GuiTest, AutoRefusesABadFileThenProgramsAGoodOne) {
    use("kb2203");
    TForm1& form = started();
    const std::string bad = (dir_ / "notes.bit").string();
    std::ofstream(bad) << "not a bitstream";
    form.EditFileName->setText(QString::fromStdString(bad));
    click(form.ToolButtonAUTO);
    // Busy at once: only Cancel, and no second command can start.
    EXPECT_EQ(enabled_buttons(form), "Cancel");
    EXPECT_FALSE(form.RadioGroup1->isEnabled());
    ASSERT_TRUE(idle());
    EXPECT_EQ(form.last_result(), "Program Failed!!");
    ASSERT_NE(badge(form), nullptr);
    EXPECT_EQ(badge(form)->colour(), QColor(0xFF, 0x00, 0xFF));
    // The badge's window is its ellipse: no corner of the box shows (black without compositor).
    EXPECT_FALSE(badge(form)->mask().contains(QPoint(0, 0)));
    EXPECT_TRUE(badge(form)->mask().contains(badge(form)->rect().center()));
    EXPECT_TRUE(logged("FPGAへの書き込みは失敗しました")) << log();

    form.EditFileName->setText(absolute(kGood));
    QSignalSpy progress(form.window_ui(), &WindowUi::progress);
    click(form.ToolButtonAUTO);
    ASSERT_TRUE(idle());
    EXPECT_EQ(form.last_result(), "Program Success!!") << log();
    // Progress reached the window, a repaint per pixel of the bar at most (the image alone is
    // thousands of pieces).
    EXPECT_GT(progress.count(), 3);
    EXPECT_LT(progress.count(), 3 * form.ProgressBar1->width() + 20);
    EXPECT_EQ(badge(form)->text(), "Program Success!!");
    EXPECT_EQ(badge(form)->colour(), QColor(0x00, 0xFF, 0xFF));
    EXPECT_TRUE(logged("FPGAへファイル\"" + absolute(kGood).toStdString() + "\"を書き込みました"));
    EXPECT_FALSE(form.StaticText1->text().isEmpty()) << "the time stamp is shown";
    EXPECT_EQ(enabled_buttons(form), "FileOpen Connect XVC IDCODE SIG AUTO");
    // The badge goes after its second.
    EXPECT_TRUE(wait_until([&] { return badge(form) == nullptr; }, 5000));
}

TEST_F(GuiTest, CancelInTheMiddleOfAProgramStopsItOnTheWorkerThread) {
    use("kb2203");
    TForm1& form = started();
    form.EditFileName->setText(absolute(kGood));
    // The worker stops at its first piece of the image until the test has pressed Cancel.
    QSemaphore reached, go_on;
    bool held = false;
    QObject::connect(
        form.window_ui(), &WindowUi::progress, form.window_ui(),
        [&](int position, int maximum) {
            if (held || maximum <= 2 || position >= maximum) return;
            held = true;
            reached.release();
            go_on.acquire();
        },
        Qt::DirectConnection);
    click(form.ToolButtonAUTO);
    ASSERT_TRUE(reached.tryAcquire(1, 30000));
    // The window still answers while the worker programs.
    QApplication::processEvents();
    click(form.ToolButtonCancel);
    go_on.release();
    ASSERT_TRUE(idle());
    EXPECT_EQ(form.last_result(), "Program Canceled") << log();
    EXPECT_EQ(badge(form)->colour(), QColor(0xFF, 0xFF, 0x00));
    EXPECT_TRUE(logged("FPGAへの書き込みはキャンセルされました"));
    EXPECT_FALSE(form.ToolButtonCancel->isEnabled());
}

TEST_F(GuiTest, AWaitThatIsCancelledProgramsNothingAndOneThatEndsShowsTheStamp) {
    use("kb2203");
    bool updated = false;
    options_.wait_for_update = [&](const QString&) { return updated; };
    TForm1& form = started();
    form.EditFileName->setText(absolute(kGood));
    form.CheckBoxWait->setChecked(true);
    click(form.ToolButtonAUTO);
    ASSERT_TRUE(idle());
    EXPECT_TRUE(logged("書き込みはキャンセルされました")) << log();
    EXPECT_TRUE(form.last_result().isEmpty());
    EXPECT_TRUE(form.StaticText1->text().isEmpty()) << "no stamp after a cancelled wait";

    // The stamp of the updated file shows as the wait ends, while it is programmed.
    updated = true;
    QString stamp_while_programming;
    QObject::connect(form.window_ui(), &WindowUi::progress, &form, [&] {
        if (stamp_while_programming.isEmpty()) stamp_while_programming = form.StaticText1->text();
    });
    click(form.ToolButtonAUTO);
    ASSERT_TRUE(idle());
    EXPECT_EQ(form.last_result(), "Program Success!!") << log();
    EXPECT_FALSE(stamp_while_programming.isEmpty());
}

TEST_F(GuiTest, SpiRomSetupFailureFallsBackToTheFpga) {
    use("kb2203");
    // No bridge bitstreams in the executable's folder: the flash cannot be reached.
    options_.paths.exe_dir = dir_.string() + "/";
    TForm1& form = started();
    form.RadioGroup1Items->button(1)->click();
    ASSERT_TRUE(idle());
    EXPECT_TRUE(logged("Now entering SPI ROM mode.")) << log();
    EXPECT_TRUE(logged("SPI ROM setup was failed.")) << log();
    EXPECT_FALSE(form.session_view().spi_mode);
    EXPECT_TRUE(form.RadioGroup1Items->button(0)->isChecked());
    EXPECT_FALSE(form.CheckBoxOffsetAddr->isEnabled());
    EXPECT_EQ(enabled_buttons(form), "FileOpen Connect XVC IDCODE SIG");
}

TEST_F(GuiTest, SpiRomTargetProgramsTheFlashAndLeavesItBooting) {
    use("kb2203");
    TForm1& form = started();
    form.RadioGroup1Items->button(1)->click();
    ASSERT_TRUE(idle());
    EXPECT_TRUE(logged("SPI ROM was found.")) << log();
    EXPECT_TRUE(logged("Device capability ")) << log();
    EXPECT_TRUE(form.session_view().spi_mode);
    EXPECT_EQ(form.picture(), "kb2203b.bmp");
    EXPECT_TRUE(form.CheckBoxOffsetAddr->isEnabled());
    EXPECT_EQ(enabled_buttons(form),
              "FileOpen Connect XVC IDCODE SIG DUMP AUTO WRITE VERIFY ERASE BLANK READ");

    form.EditFileName->setText(absolute(kGood));
    click(form.ToolButtonAUTO);
    EXPECT_EQ(enabled_buttons(form), "Cancel");
    ASSERT_TRUE(idle(120000));
    EXPECT_EQ(form.last_result(), "Program Success!!") << log();
    click(form.ToolButtonVERIFY);
    ASSERT_TRUE(idle(120000));
    EXPECT_EQ(form.last_result(), "Verify Success!!") << log();
    click(form.ToolButtonIDCODE);
    ASSERT_TRUE(idle());

    form.RadioGroup1Items->button(0)->click();
    ASSERT_TRUE(idle());
    EXPECT_TRUE(logged("booted from the SPI ROM (DONE high)")) << log();
    EXPECT_FALSE(form.session_view().spi_mode);
    EXPECT_FALSE(form.CheckBoxOffsetAddr->isEnabled());
    EXPECT_EQ(form.picture(), "kb2203a.bmp");
}

// A message ends its log line with or without "\n": the error report's reason and "Read back
// done", each ended by a lone "\n" after it, leave no blank line. The blank lines that remain
// come before the first connect and inside the error report (before " Reason:").
TEST_F(GuiTest, MessageLineEndsAddNoBlankLinesToTheLog) {
    use("kb2203");
    TForm1& form = started();
    form.EditFileName->setText(absolute("examples/example_xc7s50.bit"));
    click(form.ToolButtonAUTO);
    ASSERT_TRUE(idle());
    EXPECT_EQ(form.last_result(), "Program Failed!!");
    form.RadioGroup1Items->button(1)->click();
    ASSERT_TRUE(idle());
    form.CheckBoxOffsetAddr->setChecked(true);
    form.CheckBoxOffsetAddrClick();
    form.EditOffsetAddr->setText("FFFF00");
    form.EditFileName->setText(QString::fromStdString((dir_ / "tail.bin").string()));
    click(form.ToolButtonREAD);
    ASSERT_TRUE(idle());
    EXPECT_TRUE(logged("Read back done")) << log();
    const QStringList lines = (form.Memo1->toPlainText() + "\n(end)").split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (!lines[i - 1].trimmed().isEmpty()) continue;
        EXPECT_TRUE(lines[i].endsWith("Connecting to Spartan-6 or Artix-7 board...") ||
                    lines[i] == " Reason:")
            << "blank line before: " << lines[i].toStdString() << "\n"
            << log();
    }
}

TEST_F(GuiTest, ClosingInSpiRomModeRestartsTheFpgaFirst) {
    use("kb2203");
    TForm1& form = started();
    form.show();
    form.RadioGroup1Items->button(1)->click();
    ASSERT_TRUE(idle());
    ASSERT_TRUE(form.session_view().spi_mode);
    EXPECT_FALSE(form.close()) << "the FPGA still runs the bridge";
    ASSERT_TRUE(idle());
    EXPECT_TRUE(logged("The FPGA restarted")) << log();
    EXPECT_FALSE(form.isVisible());
}

TEST_F(GuiTest, TheFx3FirmwareOfferDeclinedOrWrittenAndTheWindowCloses) {
    use("fx3-boot");
    const std::filesystem::path cwd = std::filesystem::current_path();  // the download moves
    answer_ = false;
    TForm1& form = started();
    form.show();
    ASSERT_EQ(questions_.size(), 1u);
    EXPECT_EQ(questions_[0],
              "Cypress EZ-USB FX3が検出されました。\nファームウェアを書き換えますか？");
    EXPECT_FALSE(logged("Connecting")) << log();
    EXPECT_TRUE(form.isVisible());

    // The download cannot be broken off: Cancel is off while it runs.
    std::vector<bool> cancel_enabled;
    QObject::connect(form.window_ui(), &WindowUi::cancellable, &form,
                     [&] { cancel_enabled.push_back(form.ToolButtonCancel->isEnabled()); });
    answer_ = true;
    click(form.ToolButtonConnect);
    ASSERT_TRUE(idle());
    std::filesystem::current_path(cwd);
    EXPECT_EQ(cancel_enabled, (std::vector<bool>{false, true}));
    EXPECT_TRUE(logged("ファームウェアを書き込みます")) << log();
    ASSERT_FALSE(messages_.empty());
    EXPECT_EQ(messages_.back(),
              "ファームウェアを書き込みました。USBを抜き差ししてボードを再起動してください。");
    EXPECT_FALSE(form.isVisible()) << "the user replugs the board and starts again";
}

TEST_F(GuiTest, XvcToggleKeepsTheWindowInTheTrayUntilStopped) {
    use("kb2203");
    TForm1& form = started();
    form.show();
    click(form.ToolButtonXVC);
    EXPECT_TRUE(form.xvc_running());
    EXPECT_TRUE(form.stay_in_tray());
    EXPECT_EQ(enabled_buttons(form), "XVC") << "no Cancel, no command while the server runs";
    EXPECT_FALSE(form.RadioGroup1->isEnabled());
    EXPECT_EQ(form.picture(), "xvcserver.bmp");
    ASSERT_TRUE(wait_until([&] { return logged("Listening port"); }, 5000)) << log();
    EXPECT_TRUE(form.TrayIcon->toolTip().startsWith("Listening port"));

    // The close box keeps the program (and the server) running.
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.xvc_running());
    EXPECT_TRUE(!form.isVisible() || form.isMinimized());
    const QList<QAction*> menu = form.PopupMenu2->actions();
    ASSERT_EQ(menu.size(), 4);
    EXPECT_EQ(menu[0]->text(), "Show");
    EXPECT_EQ(menu[3]->text(), "Exit");
    menu[0]->trigger();
    EXPECT_TRUE(form.isVisible() && !form.isMinimized());

    click(form.ToolButtonXVC);
    EXPECT_FALSE(form.stay_in_tray());
    EXPECT_EQ(form.picture(), "none.bmp");
    ASSERT_TRUE(wait_until([&] { return logged("XVC Server terminated"); }, 5000)) << log();
    EXPECT_EQ(form.TrayIcon->toolTip(), "XVC Server terminated");
    EXPECT_EQ(enabled_buttons(form), "FileOpen Connect XVC IDCODE SIG");
    EXPECT_TRUE(form.close());
}

TEST_F(GuiTest, AnXvcPortInUseIsReportedAndTheWindowStaysIdle) {
    use("kb2203");
    // Another program listens on the port already.
    const int other = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(other, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(other, 1), 0);
    ASSERT_EQ(::getsockname(other, reinterpret_cast<sockaddr*>(&address), &length), 0);
    options_.xvc_port = ntohs(address.sin_port);
    TForm1& form = started();
    click(form.ToolButtonXVC);
    ::close(other);
    EXPECT_TRUE(logged("XVC server could not listen")) << log();
    EXPECT_FALSE(form.xvc_running());
    EXPECT_FALSE(form.ToolButtonXVC->isChecked());
    EXPECT_FALSE(form.stay_in_tray());
    EXPECT_EQ(enabled_buttons(form), "FileOpen Connect XVC IDCODE SIG");
}

TEST_F(GuiTest, XvcTakesItsAllowListFromTheSettingsFileAndABadEntryStopsTheStart) {
    use("kb2203");
    std::filesystem::create_directories(dir_ / "config");
    const auto settings = [this](const std::string& allow, const char* key = "Allow") {
        std::ofstream(dir_ / "config/vireopg.ini") << "[xvc]\n" << key << "=" << allow << "\n";
    };
    settings("127.0.0.2, 10.0.0.0/33");
    TForm1& form = started();
    click(form.ToolButtonXVC);
    EXPECT_TRUE(logged("XVC server not started: [xvc] Allow=127.0.0.2,10.0.0.0/33")) << log();
    EXPECT_FALSE(form.xvc_running());
    EXPECT_FALSE(form.ToolButtonXVC->isChecked());
    // A misspelt key would leave the server open to everyone.
    settings("127.0.0.2", "allow");
    click(form.ToolButtonXVC);
    EXPECT_TRUE(logged("XVC server not started: [xvc] allow: not a setting")) << log();
    EXPECT_FALSE(form.xvc_running());

    settings("127.0.0.2");
    click(form.ToolButtonXVC);
    ASSERT_TRUE(wait_until([&] { return logged("Clients are let in only from 127.0.0.2"); }, 5000))
        << log();
    const std::string text = log();
    const size_t at = text.find("Listening port ");
    ASSERT_NE(at, std::string::npos);
    const int port = std::stoi(text.substr(at + 15));
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    EXPECT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_TRUE(wait_until([&] { return logged("refused: not an allowed address"); }, 5000))
        << log();
    ::close(client);
    click(form.ToolButtonXVC);
}

// The language chosen in the status bar holds from the next message on and is kept in
// vireopg.ini for the next window; a stored value that is neither ja nor en counts as none.
TEST_F(GuiTest, TheLanguageChoiceHoldsAtOnceAndIsKept) {
    struct Restore {
        ~Restore() { set_language(Language::Japanese); }
    } restore;
    use("kb2203");
    std::filesystem::create_directories(dir_ / "config");
    std::ofstream(dir_ / "config/vireopg.ini") << "[window]\nLanguage=fr\n";
    TForm1& form = started();
    EXPECT_EQ(form.ComboBoxLanguage->currentIndex(), 0);
    form.ComboBoxLanguage->setCurrentIndex(2);
    form.ComboBoxLanguageChange(2);
    click(form.ToolButtonIDCODE);
    ASSERT_TRUE(idle());
    EXPECT_TRUE(logged("The IDCODE of device 'XC7A100T' is 0x")) << log();
    EXPECT_EQ(read_language(options_.settings_file), "en");

    form_.reset();
    TForm1& again = started();
    EXPECT_EQ(again.ComboBoxLanguage->currentIndex(), 2);
    again.ComboBoxLanguageChange(1);
    click(again.ToolButtonIDCODE);
    ASSERT_TRUE(idle());
    EXPECT_TRUE(logged("デバイス'XC7A100T'のIDCODEは 0x")) << log();
    EXPECT_EQ(read_language(options_.settings_file), "ja");
}

TEST_F(GuiTest, ABoardBehindAnXvcServerIsUsedLikeALocalOne) {
    use("kb2203");
    xvc::XvcOptions lend;
    lend.address = "127.0.0.1";
    lend.port = 0;
    xvc::TXvc server(lend, nullptr, {{}, [](const std::string&) {}, [](const std::string&) {}});
    ASSERT_TRUE(server.start());
    options_.remote_xvc = "127.0.0.1:" + std::to_string(server.port());
    started();
    EXPECT_TRUE(logged("XVC server " + options_.remote_xvc + ": vectors of up to 1024 bytes"))
        << log();
    EXPECT_TRUE(logged("Device XC7A100T was found")) << log();
    form_.reset();
    server.stop();
}

TEST_F(GuiTest, ExitFromTheIconMenuEndsTheServerAndTheWindow) {
    use("kb2203");
    TForm1& form = started();
    form.show();
    click(form.ToolButtonXVC);
    ASSERT_TRUE(form.xvc_running());
    form.Exit1Click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.xvc_running());
}

TEST_F(GuiTest, ASecondInstanceIsWarnedAndRunsOn) {
    test::use_virtual_board("");  // no board
    QLockFile first(options_.lock_file);
    std::filesystem::create_directories(dir_ / "run");
    ASSERT_TRUE(first.tryLock(0));
    TForm1& form = started();
    EXPECT_TRUE(form.second_instance());
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], "既にVIREOJTAGが起動しています。同時使用はできません。");
    EXPECT_TRUE(form.ToolButtonConnect->isEnabled());

    first.unlock();
    messages_.clear();
    form_.reset();
    EXPECT_FALSE(started().second_instance());
    EXPECT_TRUE(messages_.empty());
}

}  // namespace
}  // namespace vireo::gui
