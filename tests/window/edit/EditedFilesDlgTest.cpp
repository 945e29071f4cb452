// The list of files being edited and the question before an upload back.
#include "window/edit/EditedFilesDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

TEST(EditedFilesDlg, StatesShowAndTheButtonsActOnTheSelection)
{
    QTemporaryDir temp;
    qputenv("TMPDIR", temp.path().toUtf8());
    CEditedFiles files;
    const auto open = [&](const char* remote) {
        const RemotePath path = RemotePath::FromServer(QString::fromLatin1(remote));
        const QString local = files.PrepareCopy(QStringLiteral("site"), path);
        QFile file(local);
        file.open(QIODevice::WriteOnly);
        return files.Watch(QStringLiteral("site"), path, local, 0, -1);
    };
    const int a = open("/a.html");
    const int b = open("/b.html");
    files.SetState(b, EditedFile::State::UploadFailed, QStringLiteral("Permission denied"));

    CEditedFilesDlg dialog(files);
    QTreeWidget* list = dialog.List();
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("Watching for changes"));
    EXPECT_EQ(list->topLevelItem(1)->text(1), QStringLiteral("Upload failed: Permission denied (the copy is kept)"));

    QSignalSpy uploads(&dialog, &CEditedFilesDlg::UploadRequested);
    const auto button = [&](const QString& text) {
        for (QPushButton* candidate : dialog.findChildren<QPushButton*>())
            if (candidate->text() == text)
                return candidate;
        return static_cast<QPushButton*>(nullptr);
    };
    EXPECT_FALSE(button(QStringLiteral("&Upload Now"))->isEnabled());
    list->topLevelItem(1)->setSelected(true);
    button(QStringLiteral("&Upload Now"))->click();
    ASSERT_EQ(uploads.count(), 1);
    EXPECT_EQ(uploads.at(0).at(0).value<QList<int>>(), QList<int>{b});

    const QString copyA = files.File(a)->localPath;
    list->clearSelection();
    list->topLevelItem(0)->setSelected(true);
    button(QStringLiteral("&Delete Local Copy"))->click();
    EXPECT_FALSE(QFileInfo::exists(copyA));
    ASSERT_EQ(list->topLevelItemCount(), 1);
}

TEST(EditedFilesDlg, TheUploadQuestionOffersAlwaysForThisFile)
{
    EditedFile file;
    file.remotePath = RemotePath::FromServer(QStringLiteral("/www/index.html"));
    QTimer::singleShot(50, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->text().contains(QStringLiteral("/www/index.html")));
        box->checkBox()->setChecked(true);
        box->button(QMessageBox::Yes)->click();
    });
    bool always = false;
    EXPECT_TRUE(AskUploadBack(nullptr, file, always));
    EXPECT_TRUE(always);
}

} // namespace
