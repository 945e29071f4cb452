#include "window/frame/TracePane.h"
#include "support/Printers.h"

#include <QApplication>
#include <QScrollBar>

#include <gtest/gtest.h>

namespace {

TEST(TracePane, KeepsTheNewest256LinesInViewUnlessTheReaderScrolledUp)
{
    CTracePane pane;
    pane.resize(400, 120);
    pane.show();
    for (int i = 1; i <= 257; ++i)
        pane.AddLine(TRACE_INFO, QStringLiteral("[1] line %1").arg(i));
    ASSERT_EQ(pane.count(), CTracePane::kMaxLines);
    EXPECT_EQ(pane.item(0)->text(), QStringLiteral("[1] line 2"));
    EXPECT_EQ(pane.item(255)->text(), QStringLiteral("[1] line 257"));
    // In view, and drawn in its own colour rather than as a selection.
    EXPECT_TRUE(pane.viewport()->rect().intersects(pane.visualItemRect(pane.item(255))));
    EXPECT_TRUE(pane.selectedItems().isEmpty());

    // Scrolled up to read: a keep-alive line does not take the view away.
    pane.scrollToItem(pane.item(10), QAbstractItemView::PositionAtTop);
    const int reading = pane.verticalScrollBar()->value();
    pane.AddLine(TRACE_COMMAND, QStringLiteral("[1] Sending NOOP command..."));
    EXPECT_EQ(pane.verticalScrollBar()->value(), reading - 1); // the oldest line went
    pane.scrollToBottom();
    pane.AddLine(TRACE_INFO, QStringLiteral("[1] newest"));
    EXPECT_TRUE(pane.viewport()->rect().intersects(pane.visualItemRect(pane.item(255))));
    // Made smaller (another pane docked beside it), it still follows.
    pane.resize(400, 60);
    QApplication::processEvents();
    pane.AddLine(TRACE_INFO, QStringLiteral("[1] after the resize"));
    EXPECT_TRUE(pane.viewport()->rect().intersects(pane.visualItemRect(pane.item(255))));
}

TEST(TracePane, TextIsShownUnchangedInTheColourOfItsLevel)
{
    CTracePane pane;
    pane.AddLine(TRACE_COMMAND, QStringLiteral("[7] Deleting file \"100% %d %s.txt\""));
    pane.AddLine(TRACE_SUCCESS, QStringLiteral("ok"));
    pane.AddLine(TRACE_ERROR, QStringLiteral("bad"));
    pane.AddLine(42, QStringLiteral("unknown level"));
    pane.AddLine(TRACE_INFO, QStringLiteral("[9] 50% done"));
    EXPECT_EQ(pane.item(0)->text(), QStringLiteral("[7] Deleting file \"100% %d %s.txt\""));
    EXPECT_EQ(pane.item(0)->foreground().color(), QColor(0, 0, 255));
    EXPECT_EQ(pane.item(1)->foreground().color(), QColor(0, 130, 0));
    EXPECT_EQ(pane.item(2)->foreground().color(), QColor(255, 0, 0));
    EXPECT_EQ(pane.item(3)->foreground().color(), QColor(0, 0, 0));
    EXPECT_EQ(pane.item(4)->text(), QStringLiteral("[9] 50% done"));
}

} // namespace
