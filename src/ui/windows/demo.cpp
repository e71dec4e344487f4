// Shows one window of the catalogue with no operations behind it:
//   qorvel-windows-demo [main|login|registration|...] [--grab FILE] [--web HOST:PORT]
// With --grab the window is rendered into FILE (PNG) and the demo ends.
#include <QApplication>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <string>

#include "ui/qt/qt_backend.h"
#include "ui/qt/window_view.h"
#include "ui/windows/catalogue.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::string id = qorvel::windows::kLoginWindow;
    std::string grab_file;
    std::string web_host = "127.0.0.1:18080";
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--grab" && i + 1 < argc)
            grab_file = argv[++i];
        else if (arg == "--web" && i + 1 < argc)
            web_host = argv[++i];
        else
            id = arg;
    }
    auto window = qorvel::windows::build_window(id, web_host);
    if (!window) {
        std::fprintf(stderr, "unknown window %s\n", id.c_str());
        return 2;
    }
    qorvel::ui::qt::QtBackend backend;
    qorvel::ui::qt::QtPrompts prompts;
    qorvel::ui::Program program(backend, prompts);
    if (id == qorvel::windows::kMainWindow) qorvel::windows::wire_main_window(program, *window);
    window->on_window(qorvel::ui::Event::destroyed,
                      [&](qorvel::ui::EventArgs&) { program.exit(0); });
    program.open(window, false);

    int status = 0;
    if (!grab_file.empty()) {
        QTimer::singleShot(1500, [&] {
            auto* view = backend.view(*window);
            if (!view || !view->grab().save(QString::fromStdString(grab_file), "PNG")) status = 1;
            program.exit(status);
        });
    }
    int code = program.run();
    program.shutdown();
    return code;
}
