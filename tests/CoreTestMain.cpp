// Entry point of the tests of the layers without widgets: a QCoreApplication
// for the event loop, with settings redirected away from the user's own.
#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "NoSessionBus.h"
#include "engine/base/Settings.h"

int main(int argc, char** argv)
{
    UseNoSessionBus();
    QTemporaryDir settingsFolder;
    kx::UseSettingsFolder(settingsFolder.path());
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
