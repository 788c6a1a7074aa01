// vireopg: the window of the programmer.
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QStandardPaths>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#include "app/paths.h"
#include "cables/usb_virtual.h"
#include "gui/Unit1.h"
#include "gui/result_badge.h"
#include "gui/settings_file.h"
#include "jtag/lang.h"
#include "sim/virtual_board.h"
#include "vireo_version.h"
#include "xvc/xvc_client.h"

namespace {

constexpr int kExitUsage = 2;

// Shows an exception that escaped an event handler; the application then ends.
class VireoApplication : public QApplication {
  public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            fatal(e.what());
        } catch (...) {
            fatal("unknown exception");
        }
        return false;
    }

    static void fatal(const QString& what) {
        QMessageBox::critical(nullptr, "VireoJTAG", "Unexpected error: " + what);
        QApplication::exit(1);
    }
};

// Japanese log lines and messages need a CJK font; Noto Sans CJK is the one the install asks for.
void prefer_cjk_font() {
    const QStringList families = QFontDatabase::families();
    for (const char* cjk : {"Noto Sans CJK JP", "Noto Sans Mono CJK JP"}) {
        if (families.contains(cjk)) {
            QFont font = QApplication::font();
            font.setFamilies({font.family(), cjk});
            QApplication::setFont(font);
            return;
        }
    }
}

// The window as it looks, with the result badge that floats over it.
void save_screenshot(QWidget& form, const QString& path) {
    QPixmap picture = form.grab();
    QPainter painter(&picture);
    for (auto* badge : form.findChildren<vireo::gui::ResultBadge*>()) {
        const QPoint at = form.mapFromGlobal(badge->pos());
        painter.setClipRegion(badge->mask().translated(at));
        painter.drawPixmap(at, badge->grab());
    }
    painter.end();
    if (!picture.save(path, "PNG")) std::fprintf(stderr, "%s: not written\n", qPrintable(path));
}

void name_application() {
    QCoreApplication::setApplicationName("vireopg");
    QCoreApplication::setApplicationVersion(QString(VIREO_VERSION) + " (source revision " +
                                            VIREO_REVISION + ")");
}

// The command line, read before the window's application exists: --help, --version and usage
// errors need no display.
struct Arguments {
    int exit = -1;  // the process ends with this status when it is 0 or more
    bool sim_set = false, xvc_set = false;
    std::string sim, remote;
    std::string lang;  // "ja", "en" or "" (not given)
    QString program, screenshot;
};

Arguments read_arguments(int argc, char** argv) {
    QCoreApplication core(argc, argv);
    name_application();
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "vireopg - the window of VireoJTAG, the JTAG programmer for Xilinx Spartan-6 and "
        "7-series FPGAs.");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption sim_option(
        "sim",
        "Use the virtual board PRESET[,option=value...] instead of USB hardware (kb2201, kb2203, "
        "zynq, ...; same syntax as VIREO_SIM).",
        "PRESET");
    const QCommandLineOption program_option(
        "program",
        "After start-up, configure the FPGA from FILE.bit (AUTO), then exit: 0 for "
        "a success, 1 otherwise.",
        "FILE");
    const QCommandLineOption screenshot_option(
        "screenshot", "Save a picture of the window in PNG before --program exits.", "PNG");
    const QCommandLineOption xvc_option(
        "xvc",
        "Use the board behind the XVC 1.0 server at HOST[:PORT] (port 2542 when none is given) "
        "instead of USB hardware; also [remote] Xvc= in vireopg.ini.",
        "HOST[:PORT]");
    const QCommandLineOption lang_option(
        "lang",
        "Language of the log and the messages: ja (Japanese) or en (English); without it the "
        "window's setting ([window] Language in vireopg.ini), else the locale's: the first of "
        "LC_ALL, LC_MESSAGES, LANG that is set, Japanese when it starts with \"ja\", English "
        "otherwise.",
        "ja|en");
    parser.addOption(xvc_option);
    parser.addOption(lang_option);
    parser.addOption(sim_option);
    parser.addOption(program_option);
    parser.addOption(screenshot_option);
    Arguments args;
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "%s\n", parser.errorText().toLocal8Bit().constData());
        args.exit = kExitUsage;
        return args;
    }
    if (parser.isSet("help")) parser.showHelp(0);
    if (parser.isSet("version")) parser.showVersion();
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "Unexpected argument '%s'; see --help\n",
                     parser.positionalArguments().first().toLocal8Bit().constData());
        args.exit = kExitUsage;
        return args;
    }
    args.sim_set = parser.isSet(sim_option);
    args.sim = parser.value(sim_option).toStdString();
    args.xvc_set = parser.isSet(xvc_option);
    args.remote = parser.value(xvc_option).toStdString();
    args.program = parser.value(program_option);
    args.lang = parser.value(lang_option).toStdString();
    Language language = Language::Japanese;
    if (parser.isSet(lang_option) && !parse_language(args.lang, &language)) {
        std::fprintf(stderr, "--lang: '%s' is not ja or en\n", args.lang.c_str());
        args.exit = kExitUsage;
        return args;
    }
    args.screenshot = parser.value(screenshot_option);
    if (args.xvc_set) {
        std::string host, why;
        uint16_t port = 0;
        if (args.sim_set || std::getenv("VIREO_SIM")) {
            why = "--sim and VIREO_SIM choose a virtual board; use one or the other";
        } else {
            why = vireo::xvc::xvc_parse_endpoint(args.remote, &host, &port);
        }
        if (!why.empty()) {
            std::fprintf(stderr, "--xvc: %s\n", why.c_str());
            args.exit = kExitUsage;
        }
    }
    return args;
}

}  // namespace

int main(int argc, char** argv) {
    const Arguments args = read_arguments(argc, argv);
    if (args.exit >= 0) return args.exit;
    VireoApplication app(argc, argv);
    name_application();
    const std::string& remote = args.remote;
    std::shared_ptr<vireo::sim::VirtualBoard> board;
    std::string sim_error;
    if (!usb_choose_virtual_board(args.sim_set ? &args.sim : nullptr, std::getenv("VIREO_SIM"),
                                  &board, &sim_error)) {
        std::fprintf(stderr, "%s\n", sim_error.c_str());
        return kExitUsage;
    }
    prefer_cjk_font();

    vireo::gui::FormOptions options;
    options.paths = vireo::app::find_app_paths(argv[0]);
    options.settings_file = vireo::gui::settings_file_path(
        QApplication::applicationDirPath(),
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty()) runtime = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    options.lock_file = runtime + "/VireoJTAG.lock";
    // --lang, else the window's setting, else the locale.
    Language language = language_from_environment();
    if (!parse_language(args.lang, &language))
        parse_language(vireo::gui::read_language(options.settings_file), &language);
    set_language(language);
    // The command line's choice of board first; the settings file's remote board only when
    // the command line chose none.
    options.remote_xvc = remote;
    if (remote.empty() && !board)
        options.remote_xvc = vireo::gui::read_remote_xvc(options.settings_file);

    int status = 0;
    try {
        vireo::gui::TForm1 form(std::move(options));
        form.show();
        if (!args.program.isEmpty()) {
            // Start-up, then AUTO with the file, then the picture and the end.
            const QString file = QFileInfo(args.program).absoluteFilePath();
            const QString shot = args.screenshot;
            int step = 0;
            QObject::connect(
                &form, &vireo::gui::TForm1::commandFinished, &form, [&form, &step, file, shot] {
                    if (step++ == 0) {
                        form.EditFileName->setText(file);
                        form.ToolButtonAUTOClick();
                        return;
                    }
                    // The badge shows for a second; the picture is taken with it.
                    QTimer::singleShot(300, &form, [&form, shot] {
                        if (!shot.isEmpty()) save_screenshot(form, shot);
                        QApplication::exit(form.last_result() == "Program Success!!" ? 0 : 1);
                    });
                });
        }
        form.start();
        status = QApplication::exec();
    } catch (const std::exception& e) {
        VireoApplication::fatal(e.what());
        status = 1;
    }
    std::string error;
    if (board && !board->save_state(&error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        if (status == 0) status = 1;
    }
    return status;
}
