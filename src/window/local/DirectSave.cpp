#include "window/local/DirectSave.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QUrl>

#include <unistd.h>

#if defined(KESTRIX_HAVE_XCB)
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#endif

namespace DirectSave {

#if defined(KESTRIX_HAVE_XCB)

namespace {

xcb_connection_t* Connection()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t Atom(xcb_connection_t* connection, const char* name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, uint16_t(qstrlen(name)), name);
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The window Qt drags from: it owns the XdndSelection while a drag runs,
// and targets read the drag's properties from it.
xcb_window_t DragSource(xcb_connection_t* connection)
{
    const xcb_atom_t selection = Atom(connection, "XdndSelection");
    const std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> reply(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr), &std::free);
    return reply ? reply->owner : xcb_window_t(XCB_WINDOW_NONE);
}

} // namespace

bool IsAvailable()
{
    return Connection() != nullptr;
}

bool Offer(const QString& fileName)
{
    xcb_connection_t* connection = Connection();
    const xcb_window_t source = connection ? DragSource(connection) : xcb_window_t(XCB_WINDOW_NONE);
    if (source == XCB_WINDOW_NONE)
        return false;
    const QByteArray name = fileName.toUtf8();
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, source, Atom(connection, kFormat),
                        Atom(connection, "text/plain"), 8, uint32_t(name.size()), name.constData());
    xcb_flush(connection);
    return true;
}

QString TargetAddress()
{
    xcb_connection_t* connection = Connection();
    const xcb_window_t source = connection ? DragSource(connection) : xcb_window_t(XCB_WINDOW_NONE);
    if (source == XCB_WINDOW_NONE)
        return QString();
    // 4 KiB of address is more than any path a file manager writes.
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(connection, 0, source, Atom(connection, kFormat), XCB_GET_PROPERTY_TYPE_ANY, 0, 1024);
    const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(connection, cookie, nullptr), &std::free);
    if (!reply || reply->format != 8)
        return QString();
    QByteArray bytes(static_cast<const char*>(xcb_get_property_value(reply.get())),
                     xcb_get_property_value_length(reply.get()));
    // Some targets write the address with its closing zero byte.
    while (bytes.endsWith('\0'))
        bytes.chop(1);
    return QString::fromUtf8(bytes).trimmed();
}

void Withdraw()
{
    xcb_connection_t* connection = Connection();
    const xcb_window_t source = connection ? DragSource(connection) : xcb_window_t(XCB_WINDOW_NONE);
    if (source == XCB_WINDOW_NONE)
        return;
    xcb_delete_property(connection, source, Atom(connection, kFormat));
    xcb_flush(connection);
}

#else

bool IsAvailable()
{
    return false;
}

bool Offer(const QString&)
{
    return false;
}

QString TargetAddress()
{
    return QString();
}

void Withdraw()
{
}

#endif

QString LocalFolderOf(const QString& address)
{
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("file") || url.path().isEmpty())
        return QString();
    // A host names the computer the path is on: this one, or nothing to do
    // with a download here.
    if (const QString host = url.host(); !host.isEmpty() && host != QLatin1String("localhost")) {
        char name[256] = {};
        if (gethostname(name, sizeof name - 1) != 0 || host.compare(QString::fromLocal8Bit(name), Qt::CaseInsensitive) != 0)
            return QString();
    }
    const QString folder = QFileInfo(QDir::cleanPath(url.path())).absolutePath();
    return QFileInfo(folder).isDir() ? folder : QString();
}

} // namespace DirectSave
