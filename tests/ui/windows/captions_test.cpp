// Every caption of every window fits its control at the scale factor the
// process runs under (QT_SCALE_FACTOR; CTest runs one process per factor).
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>

#include "net/charset.h"
#include "ui/qt/qt_backend.h"
#include "ui/qt/qt_main.h"  // tests/ui/qt
#include "ui/qt/window_view.h"
#include "ui/windows/catalogue.h"
#include "ui/windows/catalogue_expect.h"

namespace qorvel::windows {
namespace {

using test::spin_until;

// The room a caption needs: for a label its text in its font, for a check
// box what it asks for, for a button its text in its frame (the size it asks
// for has a floor of the style's, wider than a two-character button).
QSize needed(QWidget* w) {
    if (auto* l = qobject_cast<QLabel*>(w)) {
        if (!l->pixmap().isNull() || l->text().isEmpty()) return {};
        QFontMetrics fm(l->font());
        return {fm.horizontalAdvance(l->text()) + 2 * l->margin(), fm.height()};
    }
    if (auto* c = qobject_cast<QCheckBox*>(w)) return c->text().isEmpty() ? QSize() : c->sizeHint();
    if (auto* b = qobject_cast<QPushButton*>(w)) {
        if (b->text().isEmpty()) return {};
        QStyle* s = b->style();
        const int frame = s->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b) +
                          2 * s->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, b);
        QFontMetrics fm(b->font());
        const int icon = b->icon().isNull() ? 0 : b->iconSize().width() + 4;
        return {fm.horizontalAdvance(b->text()) + frame + icon, fm.height()};
    }
    return {};
}

TEST(Captions, EveryCaptionFitsItsControl) {
    ui::qt::QtBackend backend;
    ui::qt::QtPrompts prompts;
    ui::Program program{backend, prompts};
    std::vector<std::string> ids;
    for (const auto& ew : test::expected_windows()) ids.push_back(ew.id);
    ids.push_back(kShutDownWindow);
    for (const std::string& id : ids) {
        SCOPED_TRACE(id);
        auto w = id == kShutDownWindow ? build_shut_down_window() : build_window(id, "127.0.0.1:1");
        ASSERT_TRUE(w);
        program.open(w, false);
        auto* view = backend.view(*w);
        ASSERT_TRUE(view);
        ASSERT_TRUE(spin_until([&] { return view->isVisible(); }));
        for (ui::Control* c : w->controls()) {
            QWidget* widget = view->widget(c->name());
            if (!widget || !c->visible()) continue;
            if (auto* tabs = qobject_cast<QTabWidget*>(widget)) {
                // Every page's title fits its tab and the tabs fit the control.
                QTabBar* bar = tabs->tabBar();
                int all = 0;
                for (int i = 0; i < bar->count(); ++i) {
                    const int text = bar->fontMetrics().horizontalAdvance(bar->tabText(i));
                    EXPECT_GT(bar->tabRect(i).width(), text) << c->name() << " page " << i;
                    all += bar->tabRect(i).width();
                }
                EXPECT_LE(all, tabs->width()) << c->name();
                continue;
            }
            QSize need = needed(widget);
            if (need.isEmpty()) continue;
            if (auto* l = qobject_cast<QLabel*>(widget); l && !l->toolTip().isEmpty()) {
                // Shortened: the whole caption is one rest of the mouse away.
                EXPECT_EQ(l->toolTip(), QString::fromStdString(gbk_to_utf8(c->text())))
                    << c->name();
                EXPECT_TRUE(l->text().endsWith(QChar(0x2026))) << c->name();
            }
            EXPECT_LE(need.width(), widget->width()) << c->name();
            EXPECT_LE(need.height(), widget->height()) << c->name();
        }
        program.close(*w);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    program.shutdown();
}

}  // namespace
}  // namespace qorvel::windows

QORVEL_QT_TEST_MAIN
