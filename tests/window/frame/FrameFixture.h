#pragma once

// A main window on a first run, the prompts answered by the test, and the
// helpers the window tests share: connecting, reading the Trace pane, the
// list's rows and the tree's nodes, and selecting rows.

#include "window/frame/FreshProgramState.h"
#include "window/frame/ConnectCommands.h"
#include "window/frame/MainFrame.h"
#include "window/frame/RemoteItemCommands.h"
#include "window/frame/TransferCommands.h"
#include "window/frame/TracePane.h"
#include "engine/base/Prompts.h"
#include "support/AnsweringPrompts.h"
#include "support/Printers.h"
#include "support/ServerProcess.h"
#include "window/views/FtpListView.h"
#include "window/views/FtpTreeView.h"

#include <QItemSelectionModel>
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QStringList>
#include <QTreeWidgetItem>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

class FrameFixture : public ::testing::Test {
protected:
    FrameFixture()
    {
        SetPrompts(&m_prompts);
        m_frame = std::make_unique<CMainFrame>();
    }
    ~FrameFixture() override
    {
        m_frame.reset();
        SetPrompts(nullptr);
    }

    // Connects the window to m_server; suffix is a path to open ("/home/u/").
    bool Connect(const QString& suffix = QString())
    {
        m_frame->show();
        const QString address = QStringLiteral("127.0.0.1:%1").arg(m_server->port()) + suffix;
        return m_frame->Connect(&address, QStringLiteral("anna"), QStringLiteral("secret"));
    }

    // The program's own trace texts without their "[id] " prefix, from the
    // given line on; Conversation() has the commands and replies.
    QStringList Trace(int from = 0) const { return TraceTexts(from, false); }
    QStringList Conversation(int from = 0) const { return TraceTexts(from, true); }
    QStringList TraceTexts(int from, bool conversation) const
    {
        QStringList lines;
        CTracePane* pane = m_frame->TracePane();
        for (int i = from; i < pane->count(); ++i) {
            const int level = pane->item(i)->data(Qt::UserRole).toInt();
            if ((level == TRACE_SENT || level == TRACE_REPLY) == conversation)
                lines << pane->item(i)->text().section(QStringLiteral("] "), 1);
        }
        return lines;
    }
    // Colours of the program's own lines, as Trace() lists them.
    QList<QColor> TraceColours(int from) const
    {
        QList<QColor> colours;
        CTracePane* pane = m_frame->TracePane();
        for (int i = from; i < pane->count(); ++i) {
            const int level = pane->item(i)->data(Qt::UserRole).toInt();
            if (level != TRACE_SENT && level != TRACE_REPLY)
                colours << pane->item(i)->foreground().color();
        }
        return colours;
    }
    // Acts on the next modal dialog once it is up.
    static void WhenModal(std::function<void(QWidget*)> act)
    {
        auto* timer = new QTimer(qApp);
        timer->setInterval(20);
        QObject::connect(timer, &QTimer::timeout, [timer, act] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                timer->stop();
                timer->deleteLater();
                act(modal);
            }
        });
        timer->start();
    }
    int TraceCount() const { return m_frame->TracePane()->count(); }

    QStringList Rows() const
    {
        QStringList names;
        for (int i = 0; i < m_frame->ListView()->RowCount(); ++i)
            names << m_frame->ListView()->ItemName(i);
        return names;
    }
    int RowOf(const QString& name) const { return int(Rows().indexOf(name)); }
    void Select(const QStringList& names)
    {
        CFtpListView* list = m_frame->ListView();
        list->SelectAll();
        list->InvertSelection();
        for (const QString& name : names) {
            const int row = RowOf(name);
            ASSERT_GE(row, 0) << name.toStdString();
            list->Selection()->select(list->Model()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }

    // What a double-click delivers: press, release, double-click, release.
    void DoubleClickRow(int row)
    {
        CFtpListView* list = m_frame->ListView();
        QWidget* viewport = list->CurrentView()->viewport();
        const QPoint centre = list->CurrentView()->visualRect(list->Model()->index(row, 0)).center();
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, centre);
        QTest::mouseDClick(viewport, Qt::LeftButton, Qt::NoModifier, centre);
        QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, centre);
    }

    static QStringList Children(const QTreeWidgetItem* item)
    {
        QStringList names;
        for (int i = 0; item && i < item->childCount(); ++i)
            names << item->child(i)->text(0);
        return names;
    }
    static QTreeWidgetItem* Child(const QTreeWidgetItem* item, const QString& name)
    {
        return CFtpTreeView::FindChild(item, name);
    }
    // The tree's node of an absolute path ("/" is the root); null when it has none.
    QTreeWidgetItem* NodeAt(const QString& path) const
    {
        QTreeWidgetItem* node = m_frame->TreeView()->Root();
        for (const QString& name : path.split(QLatin1Char('/'), Qt::SkipEmptyParts))
            node = Child(node, name);
        return node;
    }

    FreshProgramState m_state{true}; // before the window, which reads the settings
    AnsweringPrompts m_prompts;
    kxtest::TempDir m_root;
    kxtest::TempDir m_files; // listings the scripted server sends
    std::unique_ptr<kxtest::ServerProcess> m_server;
    std::unique_ptr<CMainFrame> m_frame;
};
