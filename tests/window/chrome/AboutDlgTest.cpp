#include "window/chrome/AboutDlg.h"
#include "window/resources/Resources.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

QString LabelText(const QDialog& dialog, const char* name)
{
    const auto* label = dialog.findChild<QLabel*>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<no label %1>").arg(QLatin1String(name));
}

TEST(AboutDlg, ShowsNameVersionAndDescription)
{
    struct Case {
        const char* given; // null: the version the program was built as
        const char* shown;
    };
    const Case cases[] = {
        {nullptr, "Version " KESTRIX_VERSION},
        {"9.8.7-beta", "Version 9.8.7-beta"},
    };
    for (const Case& c : cases) {
        const auto dialog = c.given ? std::make_unique<CAboutDlg>(QString::fromLatin1(c.given))
                                    : std::make_unique<CAboutDlg>();
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("About Kestrix"));
        EXPECT_EQ(LabelText(*dialog, "programName"), QStringLiteral("Kestrix"));
        EXPECT_EQ(LabelText(*dialog, "programVersion"), QString::fromLatin1(c.shown));
        EXPECT_EQ(LabelText(*dialog, "programDescription"), QStringLiteral("A desktop FTP client"));
    }
    EXPECT_EQ(CAboutDlg::BuildVersion(), QStringLiteral(KESTRIX_VERSION));
}

// The icon lives in a static library: a build that drops its registration
// still compiles and links, and only shows up as a missing picture.
TEST(AboutDlg, ShowsTheProgramIcon)
{
    // Nothing registers the resources before the dialog: it must do so itself.
    CAboutDlg dialog(QStringLiteral("1.0"));
    QFile svg(QString::fromLatin1(kx::kProgramIconPath));
    ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
    EXPECT_TRUE(svg.readAll().contains("<svg"));

    if (!QImageReader::supportedImageFormats().contains("svg"))
        GTEST_SKIP() << "the Qt SVG plugins (libqt6svg6) are not installed";

    const auto* icon = dialog.findChild<QLabel*>(QStringLiteral("programIcon"));
    ASSERT_NE(icon, nullptr);
    EXPECT_FALSE(icon->isHidden());
    const QImage image = icon->pixmap().toImage();
    ASSERT_FALSE(image.isNull());
    // Drawn, not blank: the centre of the tile is opaque.
    EXPECT_EQ(qAlpha(image.pixel(image.width() / 2, image.height() / 2)), 255);
    EXPECT_FALSE(dialog.windowIcon().isNull());
}

TEST(AboutDlg, OkCloses)
{
    CAboutDlg dialog;
    auto* box = dialog.findChild<QDialogButtonBox*>();
    ASSERT_NE(box, nullptr);
    ASSERT_EQ(box->buttons().size(), 1);
    QPushButton* ok = box->button(QDialogButtonBox::Ok);
    ASSERT_NE(ok, nullptr);
    EXPECT_TRUE(ok->isDefault());
    QTimer::singleShot(0, ok, &QPushButton::click);
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
}

} // namespace
