#include "ui/qt/web_cookies.h"

#include <QDateTime>
#include <QNetworkCookie>
#include <QUrl>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

#include "net/web.h"

namespace qorvel::ui::qt {

void share_web_cookies() {
    static bool done = false;
    if (done) return;
    done = true;
    QWebEngineCookieStore* store = QWebEngineProfile::defaultProfile()->cookieStore();
    WebSession& session = WebSession::process();
    for (const WebCookie& c : session.cookies()) {
        QNetworkCookie cookie(QByteArray::fromStdString(c.name), QByteArray::fromStdString(c.value));
        cookie.setDomain(QString::fromStdString(c.domain));
        cookie.setPath(QString::fromStdString(c.path.empty() ? "/" : c.path));
        cookie.setSecure(c.secure);
        if (c.expires > 0) cookie.setExpirationDate(QDateTime::fromSecsSinceEpoch(c.expires));
        store->setCookie(cookie, QUrl(QString::fromStdString("http://" + c.domain + "/")));
    }
    QObject::connect(store, &QWebEngineCookieStore::cookieAdded, [](const QNetworkCookie& cookie) {
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
        if (!c.domain.empty()) WebSession::process().set_cookie(c);
    });
}

}  // namespace qorvel::ui::qt
