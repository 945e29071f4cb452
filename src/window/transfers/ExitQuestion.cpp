#include "window/transfers/ExitQuestion.h"

#include <QMessageBox>
#include <QPushButton>

ExitChoice AskExitWithTransfers(QWidget* parent, int running)
{
    QMessageBox box(parent);
    box.setObjectName(QStringLiteral("exitWithTransfers"));
    box.setWindowTitle(QStringLiteral("Kestrix"));
    box.setIcon(QMessageBox::Question);
    box.setText(running == 1 ? QStringLiteral("A transfer is still running.")
                             : QStringLiteral("%1 transfers are still running.").arg(running));
    box.setInformativeText(QStringLiteral("Stopped transfers wait in the queue and go on from where they are at the "
                                          "next start. Cancelled ones are forgotten; what they wrote stays."));
    QPushButton* keep = box.addButton(QStringLiteral("&Stop and Keep"), QMessageBox::AcceptRole);
    keep->setObjectName(QStringLiteral("stopAndKeep"));
    QPushButton* cancel = box.addButton(QStringLiteral("&Cancel Transfers"), QMessageBox::DestructiveRole);
    cancel->setObjectName(QStringLiteral("cancelTransfers"));
    QPushButton* back = box.addButton(QStringLiteral("&Go Back"), QMessageBox::RejectRole);
    back->setObjectName(QStringLiteral("goBack"));
    box.setDefaultButton(keep);
    box.setEscapeButton(back);
    box.exec();
    if (box.clickedButton() == keep)
        return ExitChoice::StopAndKeep;
    if (box.clickedButton() == cancel)
        return ExitChoice::CancelThem;
    return ExitChoice::GoBack;
}
