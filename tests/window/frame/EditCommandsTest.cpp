// Open and Edit against a real server, with a stand-in editor: a small
// script set as the program for .html files, which rewrites its file each
// time the test hands it new text, as an editor's save would.
#include "window/frame/EditCommands.h"
#include "window/frame/FrameFixture.h"
#include "engine/base/Settings.h"
#include "window/edit/EditedFilesDlg.h"
#include "window/local/LocalBrowserBar.h"
#include "window/resources/CommandIds.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <sys/stat.h>

#include <filesystem>

namespace {

int ModeOf(const QString& path)
{
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return int(info.st_mode & 07777);
}

class EditCommandsTest : public FrameFixture {
protected:
    EditCommandsTest()
    {
        // The private copies go below the test's own temporary folder.
        m_oldTemp = qgetenv("TMPDIR");
        qputenv("TMPDIR", m_temp.path().toUtf8());
        const QString script = m_temp.filePath(QStringLiteral("editor.sh"));
        QFile file(script);
        file.open(QIODevice::WriteOnly);
        // It notes what it was asked to open, then writes whatever the test
        // puts in "save" over the file, until the test's folder goes.
        file.write(QStringLiteral("#!/bin/sh\n"
                                  "echo \"$1\" >> '%1/opened'\n"
                                  "n=0\n"
                                  "while [ -d '%1' ] && [ $n -lt 1200 ]; do\n"
                                  "  if [ -e '%1/save' ]; then cat '%1/save' > \"$1\"; rm -f '%1/save'; fi\n"
                                  "  sleep 0.05; n=$((n+1))\n"
                                  "done\n")
                       .arg(m_temp.path())
                       .toUtf8());
        file.close();
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        kx::WriteProfileString(QStringLiteral("Editors"), QStringLiteral("html"), script);
    }
    ~EditCommandsTest() override
    {
        m_frame.reset(); // its copies go while TMPDIR still names their folder
        qputenv("TMPDIR", m_oldTemp);
    }

    CEditedFiles& Files() const { return m_frame->EditCommands().Files(); }
    // The copies the editor was asked to open, in order.
    QStringList Opened() const
    {
        QFile file(m_temp.filePath(QStringLiteral("opened")));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    // The editor saves this text (written aside first, so it never reads half of it).
    void Save(const QByteArray& text)
    {
        QFile file(m_temp.filePath(QStringLiteral("save.part")));
        file.open(QIODevice::WriteOnly);
        file.write(text);
        file.close();
        QFile::rename(file.fileName(), m_temp.filePath(QStringLiteral("save")));
    }
    bool Until(const std::function<bool()>& condition, int milliseconds = 20000)
    {
        return QTest::qWaitFor(condition, milliseconds);
    }
    EditedFile::State StateOf(int index) const { return Files().Files().value(index).state; }
    // Opens /www/index.html with the stand-in editor; false when it did not come up.
    bool OpenIndex()
    {
        m_root.Write("www/index.html", "<p>old</p>\n");
        m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
        if (!Connect(QStringLiteral("/www")))
            return false;
        Select({QStringLiteral("index.html")});
        m_frame->Command(cmd::ID_OPEN_EDIT)->trigger();
        return Until([&] { return Opened().size() == 1 && Files().Files().size() == 1; });
    }
    // Answers the upload question once it is up.
    void AnswerUploadQuestion(QMessageBox::StandardButton button, bool always = false)
    {
        WhenModal([this, button, always](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            m_questions << box->objectName() + QStringLiteral(": ") + box->text();
            box->checkBox()->setChecked(always);
            box->button(button)->click();
        });
    }

    QTemporaryDir m_temp;
    QByteArray m_oldTemp;
    QStringList m_questions;
};

TEST_F(EditCommandsTest, ASavedCopyGoesBackAfterTheQuestionAndQuittingWithOneNotSentAsks)
{
    ASSERT_TRUE(OpenIndex());
    // A private copy, of this site and path, that only the user can read.
    const QString copy = Opened().first();
    EXPECT_TRUE(copy.startsWith(CEditedFiles::Root() + QLatin1Char('/'))) << copy.toStdString();
    EXPECT_TRUE(copy.endsWith(QStringLiteral("/index.html")));
    EXPECT_EQ(ModeOf(copy), 0600);
    EXPECT_EQ(ModeOf(QFileInfo(copy).path()), 0700);
    EXPECT_EQ(StateOf(0), EditedFile::State::Watching);
    QFile fetched(copy);
    ASSERT_TRUE(fetched.open(QIODevice::ReadOnly));
    EXPECT_EQ(fetched.readAll(), QByteArray("<p>old</p>\n"));

    // Saved: asked, and uploaded on Yes, with a line in the Trace.
    AnswerUploadQuestion(QMessageBox::Yes);
    Save("<p>new</p>\n");
    ASSERT_TRUE(Until([&] { return m_root.Read("www/index.html") == "<p>new</p>\n"; }));
    ASSERT_EQ(m_questions.size(), 1);
    EXPECT_TRUE(m_questions[0].startsWith(QStringLiteral("uploadBackQuestion: \"/www/index.html\" was saved.")));
    EXPECT_TRUE(Trace().contains(QStringLiteral("Uploading the changed \"/www/index.html\" back to the server")));
    ASSERT_TRUE(Until([&] { return StateOf(0) == EditedFile::State::Watching; }));

    // Saved again, and not uploaded this time: the change waits.
    AnswerUploadQuestion(QMessageBox::No);
    Save("<p>newer</p>\n");
    ASSERT_TRUE(Until([&] { return m_questions.size() == 2 && StateOf(0) == EditedFile::State::Saved; }));
    QTest::qWait(300);
    EXPECT_EQ(m_root.Read("www/index.html"), "<p>new</p>\n");

    // Closing asks; No keeps the window.
    m_prompts.answer = IPrompts::No;
    EXPECT_FALSE(m_frame->close());
    ASSERT_EQ(m_prompts.questions.size(), 1);
    EXPECT_TRUE(m_prompts.questions[0].startsWith(QStringLiteral("Files Being Edited: These files were changed")));
    EXPECT_TRUE(m_prompts.questions[0].contains(QStringLiteral("/www/index.html")));
    EXPECT_TRUE(m_frame->isVisible());
    // Yes closes it, and the copy with the change stays where it was said to be.
    m_prompts.answer = IPrompts::Yes;
    EXPECT_TRUE(m_frame->close());
    m_frame.reset();
    EXPECT_TRUE(QFileInfo::exists(copy));
}

TEST_F(EditCommandsTest, AlwaysForThisFileSendsItsLaterSavesUnasked)
{
    ASSERT_TRUE(OpenIndex());
    AnswerUploadQuestion(QMessageBox::Yes, true);
    Save("<p>one</p>\n");
    ASSERT_TRUE(Until([&] { return m_root.Read("www/index.html") == "<p>one</p>\n"; }));
    ASSERT_TRUE(Until([&] { return StateOf(0) == EditedFile::State::Watching; }));
    EXPECT_TRUE(Files().Files().value(0).alwaysUpload);
    Save("<p>two</p>\n");
    ASSERT_TRUE(Until([&] { return m_root.Read("www/index.html") == "<p>two</p>\n"; }));
    EXPECT_EQ(m_questions.size(), 1);
    EXPECT_TRUE(m_prompts.questions.isEmpty());
}

TEST_F(EditCommandsTest, AProgramThatCannotStartIsNamedAndTheCopyIsStillWatched)
{
    kx::WriteProfileString(QStringLiteral("Editors"), QStringLiteral("txt"), QStringLiteral("/nowhere/editor --new"));
    kx::WriteProfileString(QStringLiteral("Editors"), QStringLiteral("md"), QStringLiteral("\"\""));
    m_root.Write("www/notes.txt", "notes");
    m_root.Write("www/readme.md", "readme");
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    ASSERT_TRUE(Connect(QStringLiteral("/www")));
    Select({QStringLiteral("notes.txt"), QStringLiteral("readme.md")});
    m_frame->Command(cmd::ID_OPEN_EDIT)->trigger();
    ASSERT_TRUE(Until([&] { return m_prompts.messages.size() == 2; }));
    m_prompts.messages.sort();
    EXPECT_TRUE(m_prompts.messages[0].startsWith(
        QStringLiteral("The program set for .md files could not be started:\n\"\"\n\nThe copy is at ")));
    EXPECT_TRUE(m_prompts.messages[1].startsWith(
        QStringLiteral("The program set for .txt files could not be started:\n/nowhere/editor --new\n\nThe copy is at ")));
    EXPECT_EQ(Files().Files().size(), 2);
    EXPECT_EQ(StateOf(0), EditedFile::State::Watching);
}

TEST_F(EditCommandsTest, AFileChangedOnTheServerSinceItWasOpenedIsNotOverwrittenUnasked)
{
    kx::WriteProfileInt(kx::settings::EditUploadWithoutAsking, 1);
    ASSERT_TRUE(OpenIndex());
    m_root.Write("www/index.html", "<p>changed by a colleague</p>\n");

    // Declined: the server keeps its file, the copy its change.
    m_prompts.answer = IPrompts::No;
    Save("<p>mine</p>\n");
    ASSERT_TRUE(Until([&] { return !m_prompts.questions.isEmpty(); }));
    EXPECT_TRUE(m_prompts.questions[0].startsWith(
        QStringLiteral("File Changed on the Server: \"/www/index.html\" changed on the server since you opened it: "
                       "it was 11 bytes")))
        << m_prompts.questions[0].toStdString();
    EXPECT_TRUE(m_questions.isEmpty()); // the setting skipped the upload question
    QTest::qWait(300);
    EXPECT_EQ(m_root.Read("www/index.html"), "<p>changed by a colleague</p>\n");
    EXPECT_EQ(StateOf(0), EditedFile::State::Saved);

    // Upload Now in the list of files being edited: asked again, and Yes replaces it.
    m_prompts.answer = IPrompts::Yes;
    QString state;
    WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<CEditedFilesDlg*>(modal);
        ASSERT_NE(dialog, nullptr);
        ASSERT_EQ(dialog->List()->topLevelItemCount(), 1);
        state = dialog->List()->topLevelItem(0)->text(1);
        dialog->List()->topLevelItem(0)->setSelected(true);
        for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
            if (button->text() == QStringLiteral("&Upload Now"))
                button->click();
        }
        QTimer::singleShot(0, dialog, &QDialog::reject);
    });
    m_frame->Command(cmd::ID_EDITED_FILES)->trigger();
    EXPECT_EQ(state, QStringLiteral("Changed, not uploaded"));
    ASSERT_TRUE(Until([&] { return m_root.Read("www/index.html") == "<p>mine</p>\n"; }));
    EXPECT_EQ(m_prompts.questions.size(), 2);
    ASSERT_TRUE(Until([&] { return StateOf(0) == EditedFile::State::Watching; }));

    // The server's file is now ours: the next save goes up without a word.
    Save("<p>mine, again</p>\n");
    ASSERT_TRUE(Until([&] { return m_root.Read("www/index.html") == "<p>mine, again</p>\n"; }));
    EXPECT_EQ(m_prompts.questions.size(), 2);
}

TEST_F(EditCommandsTest, AFailedUploadKeepsTheCopyAndSaysWhere)
{
    kx::WriteProfileInt(kx::settings::EditUploadWithoutAsking, 1);
    ASSERT_TRUE(OpenIndex());
    const QString copy = Opened().first();
    // The folder goes on the server: whether the file changed cannot be told,
    // the user says upload all the same, and the upload has nowhere to go.
    std::filesystem::remove_all(m_root.Path("www"));
    m_prompts.answer = IPrompts::Yes;
    Save("<p>mine</p>\n");
    ASSERT_TRUE(Until([&] { return !m_prompts.messages.isEmpty(); }));
    ASSERT_FALSE(m_prompts.questions.isEmpty());
    EXPECT_TRUE(m_prompts.questions[0].contains(QStringLiteral("It may be gone."))) << m_prompts.questions[0].toStdString();
    EXPECT_TRUE(m_prompts.messages[0].startsWith(QStringLiteral("\"/www/index.html\" could not be uploaded:")))
        << m_prompts.messages[0].toStdString();
    EXPECT_TRUE(m_prompts.messages[0].contains(copy));
    EXPECT_EQ(StateOf(0), EditedFile::State::UploadFailed);
    // The copy outlives the window, with the change in it.
    m_prompts.answer = IPrompts::Yes; // quit all the same
    m_frame.reset();
    QFile kept(copy);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("<p>mine</p>\n"));
}

TEST_F(EditCommandsTest, DoubleClickOpensForEditingWhenTheSettingSaysSoAndAFailedFetchSaysWhy)
{
    kx::WriteProfileInt(kx::settings::DoubleClickOpensFiles, 1);
    m_root.Write("www/page.html", "<p>page</p>\n");
    m_root.Write("www/gone.html", "<p>gone</p>\n");
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    ASSERT_TRUE(Connect(QStringLiteral("/www")));
    DoubleClickRow(RowOf(QStringLiteral("page.html")));
    ASSERT_TRUE(Until([&] { return Opened().size() == 1; }));
    EXPECT_TRUE(Opened().first().endsWith(QStringLiteral("/page.html")));

    // Opening it again brings the editor up on the same copy.
    Select({QStringLiteral("page.html")});
    m_frame->Command(cmd::ID_OPEN_EDIT)->trigger();
    ASSERT_TRUE(Until([&] { return Opened().size() == 2; }));
    EXPECT_EQ(Opened()[1], Opened()[0]);
    EXPECT_EQ(Files().Files().size(), 1);

    // A file the server no longer has: said, and nothing left behind.
    std::filesystem::remove(m_root.Path("www/gone.html"));
    Select({QStringLiteral("gone.html")});
    m_frame->Command(cmd::ID_OPEN_EDIT)->trigger();
    ASSERT_TRUE(Until([&] { return !m_prompts.messages.isEmpty(); }));
    EXPECT_TRUE(m_prompts.messages[0].startsWith(
        QStringLiteral("\"/www/gone.html\" could not be opened for editing: it was not downloaded.")))
        << m_prompts.messages[0].toStdString();
    EXPECT_EQ(Files().Files().size(), 1);
    EXPECT_EQ(m_frame->TransferQueue().JobCount(), 0);

    // Without the setting a double-click downloads, as before.
    kx::WriteProfileInt(kx::settings::DoubleClickOpensFiles, 0);
    kxtest::TempDir downloads;
    kx::WriteProfileString(kx::settings::DefaultLocalPath, QString::fromStdString(downloads.path()));
    m_frame->LocalBrowser()->GoToPath(QString::fromStdString(downloads.path()));
    DoubleClickRow(RowOf(QStringLiteral("page.html")));
    ASSERT_TRUE(Until([&] { return QFileInfo::exists(QString::fromStdString(downloads.Path("page.html"))); }));
    EXPECT_EQ(Opened().size(), 2);

    // Its watch ends when the window goes: nothing changed, so the copy goes too.
    const QString copy = Opened().first();
    m_frame.reset();
    EXPECT_FALSE(QFileInfo::exists(copy));
}

} // namespace
