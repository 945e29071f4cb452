// Entry point of the widget tests: a real QApplication on Qt's offscreen
// platform, with settings redirected away from the user's own.
#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "NoSessionBus.h"
#include "engine/base/Settings.h"

int main(int argc, char** argv)
{
    UseNoSessionBus();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir settingsFolder;
    kx::UseSettingsFolder(settingsFolder.path());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
