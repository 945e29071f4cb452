#include "window/frame/WindowPlacement.h"

#include "engine/base/Settings.h"

#include <QDockWidget>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>

namespace {

using namespace kx;

// Show states as stored in "FrameStatus".
constexpr int kShowNormal = 1;
constexpr int kShowMinimized = 2;
constexpr int kShowMaximized = 3;
// A window saved on a larger screen keeps at least this much of itself inside.
constexpr int kVisibleCorner = 32;

QString SectionKey(const char* section)
{
    return QString::fromLatin1(section);
}

int ReadPaneSize(const char* section, const char* key, int current)
{
    return std::max(settings::kMinimumPaneSize, GetProfileInt(SectionKey(section), QLatin1String(key), current));
}

void SavePaneSize(const QMainWindow& window, const WindowPlacement::Pane& pane)
{
    const QSize size = pane.dock->size();
    const Qt::DockWidgetArea area = window.dockWidgetArea(pane.dock);
    const bool horizontal = area == Qt::TopDockWidgetArea || area == Qt::BottomDockWidgetArea;
    const bool floating = pane.dock->isFloating();
    const char* cx = floating ? settings::kSizeFloatingCX : horizontal ? settings::kSizeHorzCX : settings::kSizeVertCX;
    const char* cy = floating ? settings::kSizeFloatingCY : horizontal ? settings::kSizeHorzCY : settings::kSizeVertCY;
    WriteProfileInt(SectionKey(pane.section), QLatin1String(cx), size.width());
    WriteProfileInt(SectionKey(pane.section), QLatin1String(cy), size.height());
}

void ApplyPaneSize(QMainWindow& window, const WindowPlacement::Pane& pane)
{
    QDockWidget* dock = pane.dock;
    if (dock->isFloating()) {
        dock->resize(ReadPaneSize(pane.section, settings::kSizeFloatingCX, dock->width()),
                     ReadPaneSize(pane.section, settings::kSizeFloatingCY, dock->height()));
        return;
    }
    if (!dock->isVisible())
        return;
    const Qt::DockWidgetArea area = window.dockWidgetArea(dock);
    if (area == Qt::TopDockWidgetArea || area == Qt::BottomDockWidgetArea) {
        const int fallback = pane.firstHeight > 0 ? pane.firstHeight : dock->height();
        window.resizeDocks({dock}, {ReadPaneSize(pane.section, settings::kSizeHorzCY, fallback)}, Qt::Vertical);
    } else {
        window.resizeDocks({dock}, {ReadPaneSize(pane.section, settings::kSizeVertCX, dock->width())}, Qt::Horizontal);
    }
}

} // namespace

namespace WindowPlacement {

Qt::WindowStates Restore(QMainWindow& window)
{
    if (!GetProfileInt(settings::SavePosition))
        return Qt::WindowNoState;
    const int status = GetProfileInt(settings::FrameStatus);
    const int top = GetProfileInt(settings::FrameTop);
    const int left = GetProfileInt(settings::FrameLeft);
    const int bottom = GetProfileInt(settings::FrameBottom);
    const int right = GetProfileInt(settings::FrameRight);
    if (status == -1 || top == -1 || left == -1 || bottom == -1 || right == -1)
        return Qt::WindowNoState;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen || right <= left || bottom <= top)
        return Qt::WindowNoState;
    const QRect work = screen->availableGeometry();
    const QRect whole = screen->geometry();
    const int width = std::min(right - left, whole.width());
    const int height = std::min(bottom - top, whole.height());
    const int x = std::min(left + work.left(), whole.width() - kVisibleCorner);
    const int y = std::min(top + work.top(), whole.height() - kVisibleCorner);
    window.setGeometry(x, y, width, height);
    if (status == kShowMaximized)
        return Qt::WindowMaximized;
    if (status == kShowMinimized)
        return Qt::WindowMinimized;
    return Qt::WindowNoState;
}

void Save(const QMainWindow& window)
{
    if (!GetProfileInt(settings::SavePosition))
        return;
    const QRect work = window.screen() ? window.screen()->availableGeometry() : QRect();
    const QRect normal = window.normalGeometry().isValid() ? window.normalGeometry() : window.geometry();
    const int status = window.isMaximized() ? kShowMaximized : window.isMinimized() ? kShowMinimized : kShowNormal;
    WriteProfileInt(settings::FrameStatus, status);
    WriteProfileInt(settings::FrameTop, normal.top() - work.top());
    WriteProfileInt(settings::FrameLeft, normal.left() - work.left());
    WriteProfileInt(settings::FrameBottom, normal.bottom() + 1 - work.top());
    WriteProfileInt(settings::FrameRight, normal.right() + 1 - work.left());
}

void RestoreBars(QMainWindow& window, const QList<Pane>& panes)
{
    const QString state = GetProfileString(SectionKey(settings::kQuickConnectStateSection), QStringLiteral("DockState"));
    if (!state.isEmpty())
        window.restoreState(QByteArray::fromBase64(state.toLatin1()));
    // Dock sizes only take once the window is laid out.
    QMetaObject::invokeMethod(
        &window,
        [&window, panes] {
            for (const Pane& pane : panes)
                ApplyPaneSize(window, pane);
        },
        Qt::QueuedConnection);
}

void SaveBars(QMainWindow& window, const QList<Pane>& panes)
{
    for (const Pane& pane : panes)
        SavePaneSize(window, pane);
    WriteProfileString(SectionKey(settings::kQuickConnectStateSection), QStringLiteral("DockState"),
                       QString::fromLatin1(window.saveState().toBase64()));
}

} // namespace WindowPlacement
