// The browser module: QtWebEngine's view and the two-way cookie copy.
#include <QDateTime>
#include <QNetworkCookie>
#include <QUrl>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include "ui/qt/web_view_module.h"

// The engine's own set-up (GL share context and friends). It runs by itself
// only when the engine is linked into the program; loaded later, we call it.
namespace QtWebEngineCore {
extern void initialize();
}

namespace {

using qorvel::WebCookie;
using qorvel::ui::qt::WebViewHost;

// Once per process: the store is the default profile's, shared by every view.
void share_cookies(const WebViewHost& host) {
    static bool done = false;
    if (done) return;
    done = true;
    QWebEngineCookieStore* store = QWebEngineProfile::defaultProfile()->cookieStore();
    for (const WebCookie& c : host.cookies()) {
        QNetworkCookie cookie(QByteArray::fromStdString(c.name),
                              QByteArray::fromStdString(c.value));
        cookie.setDomain(QString::fromStdString(c.domain));
        cookie.setPath(QString::fromStdString(c.path.empty() ? "/" : c.path));
        cookie.setSecure(c.secure);
        if (c.expires > 0) cookie.setExpirationDate(QDateTime::fromSecsSinceEpoch(c.expires));
        store->setCookie(cookie, QUrl(QString::fromStdString("http://" + c.domain + "/")));
    }
    auto set_cookie = host.set_cookie;
    QObject::connect(
        store, &QWebEngineCookieStore::cookieAdded, [set_cookie](const QNetworkCookie& cookie) {
            WebCookie c;
            c.domain = cookie.domain().toStdString();
            // A host-only cookie comes without a leading dot; the request side needs a domain.
            c.include_subdomains = !c.domain.empty() && c.domain.front() == '.';
            if (c.include_subdomains) c.domain.erase(0, 1);
            c.path = cookie.path().isEmpty() ? "/" : cookie.path().toStdString();
            c.name = cookie.name().toStdString();
            c.value = cookie.value().toStdString();
            c.secure = cookie.isSecure();
            c.expires = cookie.isSessionCookie() ? 0 : cookie.expirationDate().toSecsSinceEpoch();
            if (!c.domain.empty()) set_cookie(c);
        });
}

}  // namespace

extern "C" __attribute__((visibility("default"))) QWidget* qorvel_create_web_view(
    QWidget* parent, const WebViewHost* host) {
    static bool initialized = false;
    if (!initialized) {
        initialized = true;
        QtWebEngineCore::initialize();
    }
    if (host) share_cookies(*host);
    return new QWebEngineView(parent);
}
