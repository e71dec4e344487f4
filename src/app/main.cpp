// The desktop client: the Qt window engine, the real desktop, the service
// hosts from configuration, and the start-up road.
#include <QApplication>
#include <QCoreApplication>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/client_windows.h"
#include "platform/desktop_shell.h"
#include "platform/sd_desktop_bus.h"
#include "platform/service_hosts.h"
#include "platform/special_folders.h"
#include "qorvel_version.h"
#include "roads/transfer/desktop_road.h"
#include "ui/qt/qt_backend.h"
#include "ui/qt/translations.h"

namespace {

const char kUsage[] =
    "usage: qorvel [--web ADDR] [--direct ADDR] [--files2 ADDR] [--files3 ADDR] [--ftp-host HOST]\n"
    "       qorvel --help | --version\n"
    "  ADDR is host:port; the FTP host is a bare host (uploads use its port 1678).\n"
    "  Defaults come from the reference service on loopback, then ~/.config/qorvel/qorvel.ini\n"
    "  [hosts], then QORVEL_WEB, QORVEL_DIRECT, QORVEL_FILES2, QORVEL_FILES3, QORVEL_FTP_HOST.\n";

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& a : args) {
        // Before Qt: neither needs a display.
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--version") {
            std::puts("qorvel " QORVEL_VERSION);
            return 0;
        }
    }
    std::vector<std::string> errors;
    qorvel::ServiceHosts hosts = qorvel::configured_hosts(args, errors);
    if (!errors.empty()) {
        for (const std::string& e : errors) std::fprintf(stderr, "qorvel: %s\n", e.c_str());
        std::fputs(kUsage, stderr);
        return 2;
    }
    // The browser child inherits this: the web view's sandbox refuses to start as root.
    if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    // No browser engine and no GL here: the web login runs the browser in a
    // child process (qorvel-web-view) that ends with its window.
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);  // the tray keeps the program alive
    if (!qorvel::ui::qt::install_qt_translations(app))
        std::fputs("qorvel: Qt's Chinese translations are not installed\n", stderr);

    qorvel::ui::qt::QtBackend backend;
    qorvel::ui::qt::QtPrompts prompts;
    qorvel::ui::Program program(backend, prompts);
    qorvel::ui::qt::install_web_pump(program);

    qorvel::DesktopShell shell(qorvel::ui::qt::clipboard_setter());
    qorvel::Client client(program, shell, hosts,
                          {qorvel::documents_folder(), qorvel::desktop_folder()});
    client.tray_available = [] { return qorvel::ui::qt::QtBackend::tray_available(); };
    // After the client, so it goes first: no notice's answer outlives the client.
    qorvel::SdDesktopBus desktop_bus;
    client.notifier = &desktop_bus;
    client.sleep_inhibitor = &desktop_bus;
    qorvel::start_desktop_watch(client);
    // Log-out without the tray: the main window's Ctrl+Shift+L chooses the tray menu's item.
    backend.add_menu_shortcut(qorvel::windows::kMainWindow, "Ctrl+Shift+L", "托盘", "注销");
    backend.remember_layout(qorvel::windows::kMainWindow, client.config().skin_file(), "window");

    program.post([&client] { qorvel::start_client(client); });
    int code = program.run();
    program.shutdown();
    return code;
}
