#pragma once

// The catalogue dialogs' tests: fresh settings, a catalogue file of their
// own as the default one, and prompts the test answers.

#include "engine/base/Settings.h"
#include "engine/catalog/SiteCatalog.h"
#include "support/AnsweringPrompts.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

class CatalogFileFixture : public ::testing::Test {
protected:
    CatalogFileFixture()
    {
        QSettings(QSettings::NativeFormat, QSettings::UserScope, kx::kOrganisation, kx::kApplication).clear();
        CSiteCatalog::SetDefaultPathOverride(Path());
        SetPrompts(&m_prompts);
    }
    ~CatalogFileFixture() override
    {
        SetPrompts(nullptr);
        CSiteCatalog::SetDefaultPathOverride(QString());
    }
    QString Path() const { return m_dir.filePath(QStringLiteral("sites.xml")); }
    void Write(const QByteArray& bytes)
    {
        QFile file(Path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    QByteArray Read() const
    {
        QFile file(Path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir m_dir;
    AnsweringPrompts m_prompts;
};
