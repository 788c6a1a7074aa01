// The design file controls: the file dialog and the recent-file list in vireopg.ini, where
// that file lives, and the wait for a rewritten file.
#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <fstream>

#include "gui/Unitwait.h"
#include "gui/settings_file.h"
#include "gui_fixture.h"

namespace vireo::gui {
namespace {

namespace fs = std::filesystem;

QString make_file(const fs::path& path) {
    std::ofstream(path) << "design";
    return QString::fromStdString(path.string());
}

TEST_F(GuiTest, RecentFilesKeepTenDistinctNamesMostRecentFirst) {
    test::use_virtual_board("");  // no board
    TForm1& form = started();
    for (int i = 1; i <= 11; ++i) {
        chosen_file_ = make_file(dir_ / ("design" + std::to_string(i) + ".bit"));
        form.Button1Click();
    }
    EXPECT_EQ(dialog_title_, "Open design file");
    EXPECT_NE(dialog_filter_.find("*.bit *.mcs"), std::string::npos);
    std::vector<std::string> recent = read_recent_files(options_.settings_file);
    ASSERT_EQ(recent.size(), 10u);
    EXPECT_EQ(fs::path(recent[0]).filename(), "design11.bit");
    EXPECT_EQ(fs::path(recent[9]).filename(), "design2.bit") << "the oldest fell off";

    // A name chosen again, in another letter case, moves to the front once.
    chosen_file_ = QString::fromStdString(recent[4]).toUpper();
    form.Button1Click();
    recent = read_recent_files(options_.settings_file);
    EXPECT_EQ(recent[0], chosen_file_.toStdString());
    EXPECT_EQ(fs::path(recent[1]).filename(), "design11.bit");
    EXPECT_EQ(fs::path(recent[9]).filename(), "design2.bit") << "nothing else fell off";

    // The menu shows them as "&k name"; picking one puts it in the file name.
    form.PopupMenu1Popup();
    const QList<QAction*> items = form.PopupMenu1->actions();
    ASSERT_EQ(items.size(), 12);
    EXPECT_EQ(items[0]->text(), "Open a new file");
    EXPECT_TRUE(items[1]->isSeparator());
    EXPECT_EQ(items[3]->text(), "&2 " + QString::fromStdString(recent[1]));
    items[3]->trigger();
    EXPECT_EQ(form.EditFileName->text().toStdString(), recent[1]);
    EXPECT_EQ(read_recent_files(options_.settings_file)[0], recent[1]);

    // The dialog cancelled: nothing changes.
    chosen_file_.clear();
    form.Button1Click();
    EXPECT_EQ(form.EditFileName->text().toStdString(), recent[1]);

    // A file dropped on the window is taken as a chosen one.
    QMimeData dropped;
    dropped.setUrls({QUrl::fromLocalFile(make_file(dir_ / "dropped.bit"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &drop);
    EXPECT_EQ(form.EditFileName->text().toStdString(), (dir_ / "dropped.bit").string());
    EXPECT_EQ(read_recent_files(options_.settings_file)[0], (dir_ / "dropped.bit").string());
}

TEST_F(GuiTest, AnEmptyRecentEntryEmptiesTheFileNameAndDisablesAuto) {
    use("kb2203");
    QSettings(options_.settings_file, QSettings::IniFormat)
        .setValue("recent/File1",
                  QString::fromStdString(fs::absolute("examples/example_xc7a100t.bit").string()));
    TForm1& form = started();
    form.open_recent(1);
    EXPECT_TRUE(form.ToolButtonAUTO->isEnabled());
    form.open_recent(2);
    EXPECT_TRUE(form.EditFileName->text().isEmpty());
    EXPECT_FALSE(form.ToolButtonAUTO->isEnabled());
    // The empty name is not remembered as the most recent file.
    EXPECT_FALSE(read_recent_files(options_.settings_file)[0].empty());
}

TEST(SettingsFile, BesideTheExecutableOnlyWhenItIsAlreadyThere) {
    const fs::path dir = fs::temp_directory_path() / ("vireo_ini_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "bin");
    const QString bin = QString::fromStdString((dir / "bin").string());
    const QString config = QString::fromStdString((dir / "config").string());
    EXPECT_EQ(settings_file_path(bin, config), config + "/VireoJTAG/vireopg.ini");
    std::ofstream(dir / "bin" / "vireopg.ini") << "[recent]\n";
    EXPECT_EQ(settings_file_path(bin, config), bin + "/vireopg.ini");

    // A settings file that cannot be written is reported, not silently lost.
    std::ofstream(dir / "config") << "a file where the folder should be";
    EXPECT_FALSE(write_recent_files(config + "/VireoJTAG/vireopg.ini", {"a.bit"}));
    fs::remove_all(dir);
}

using WaitTest = GuiTest;

TEST_F(WaitTest, EndsOnlyOnANewerTimeStamp) {
    const fs::path file = dir_ / "top.bit";
    TFormWait wait(make_file(file));
    EXPECT_EQ(wait.windowTitle(), "Waiting...");
    EXPECT_TRUE(wait.Memo1->toPlainText().contains("Current timestamp is "));
    QSignalSpy finished(&wait, &QDialog::finished);
    wait.open();
    // Untouched: still waiting after half a second, the bar going through its shades.
    wait_until([] { return false; }, 500);
    EXPECT_EQ(finished.count(), 0);
    EXPECT_GT(wait.tag(), 0);
    // Rewritten: ends with OK once the newer file has stopped changing.
    // A whole bitstream: a file cut short is not yet rewritten.
    fs::copy_file("examples/example_xc7a100t.bit", file, fs::copy_options::overwrite_existing);
    fs::last_write_time(file, fs::last_write_time(file) + std::chrono::seconds(2));
    ASSERT_TRUE(wait_until([&] { return finished.count() > 0; }, 10000));
    EXPECT_EQ(finished.at(0).at(0).toInt(), QDialog::Accepted);
}

TEST_F(WaitTest, CancelAndEscapeEndTheWaitWithCancel) {
    // A file that does not exist yet has no time stamp to show.
    TFormWait wait(QString::fromStdString((dir_ / "later.bit").string()));
    EXPECT_FALSE(wait.Memo1->toPlainText().contains("Current timestamp"));
    QSignalSpy finished(&wait, &QDialog::finished);
    wait.open();
    EXPECT_EQ(wait.Button1->text(), "キャンセル");
    wait.Button1->click();
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.at(0).at(0).toInt(), QDialog::Rejected);

    TFormWait again(QString::fromStdString((dir_ / "later.bit").string()));
    QSignalSpy escaped(&again, &QDialog::finished);
    again.open();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&again, &escape);
    ASSERT_EQ(escaped.count(), 1);
    EXPECT_EQ(escaped.at(0).at(0).toInt(), QDialog::Rejected);
}

}  // namespace
}  // namespace vireo::gui
