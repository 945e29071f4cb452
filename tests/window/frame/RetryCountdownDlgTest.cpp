#include "window/frame/RetryCountdownDlg.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

QString Line(int seconds)
{
    return QStringLiteral("Kestrix will retry to connect after %1 seconds...").arg(seconds);
}

TEST(RetryCountdown, CountsDownEverySecondAndEndsWithRetry)
{
    CRetryCountdownDlg dialog;
    dialog.SetErrorText(QStringLiteral("530 Login incorrect."));
    dialog.SetDelay(3);
    QStringList seen;
    // Sample the line much faster than it changes, the first one included.
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (seen.isEmpty() || seen.back() != dialog.CountdownText())
            seen << dialog.CountdownText();
    });
    sampler.start(1);
    dialog.SetTickInterval(40);
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.Position(), 3);
    EXPECT_EQ(dialog.CountdownText(), Line(0));
    EXPECT_EQ(seen.first(), Line(3));
    EXPECT_TRUE(seen.contains(Line(1)));
    EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("errorText"))->text(), QStringLiteral("530 Login incorrect."));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Kestrix"));
}

TEST(RetryCountdown, CancelGivesUp)
{
    CRetryCountdownDlg dialog;
    dialog.SetDelay(10);
    dialog.SetTickInterval(20);
    QTimer::singleShot(70, &dialog, [&] {
        for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
            if (button->text() == QStringLiteral("Cancel"))
                button->click();
        }
    });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_LT(dialog.Position(), 10);
}

TEST(RetryCountdown, ZeroOrNegativeDelayStillEnds)
{
    for (const int delay : {0, -5}) {
        CRetryCountdownDlg dialog;
        dialog.SetDelay(delay);
        dialog.SetTickInterval(5);
        EXPECT_EQ(dialog.exec(), QDialog::Accepted) << delay;
        EXPECT_EQ(dialog.CountdownText(), Line(0));
    }
}

} // namespace
