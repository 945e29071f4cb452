#pragma once

// A home folder of the test's own: HOME and the XDG folders point into a
// temporary folder for the object's lifetime, so the places, the standard
// folders and the trash are the test's and never the user's.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QTemporaryDir>

class TempHome {
public:
    TempHome()
    {
        QDir().mkpath(Home());
        Set("HOME", Home());
        Set("XDG_CONFIG_HOME", Home() + QStringLiteral("/.config"));
        Set("XDG_DATA_HOME", Home() + QStringLiteral("/.local/share"));
        Set("XDG_CACHE_HOME", Home() + QStringLiteral("/.cache"));
    }
    ~TempHome()
    {
        for (const Saved& saved : std::as_const(m_saved)) {
            if (saved.wasSet)
                qputenv(saved.name.constData(), saved.value);
            else
                qunsetenv(saved.name.constData());
        }
    }

    QString Root() const { return m_dir.path(); }
    QString Home() const { return m_dir.path() + QStringLiteral("/home"); }
    // Creates the folder (and those above it); returns its path.
    QString Folder(const QString& relative) const
    {
        const QString path = Root() + QLatin1Char('/') + relative;
        QDir().mkpath(path);
        return path;
    }
    QString File(const QString& relative) const
    {
        const QString path = Root() + QLatin1Char('/') + relative;
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write("kestrix");
        return path;
    }

private:
    void Set(const char* name, const QString& value)
    {
        m_saved.append({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
        qputenv(name, value.toUtf8());
    }

    struct Saved {
        QByteArray name;
        QByteArray value;
        bool wasSet;
    };
    QTemporaryDir m_dir;
    QList<Saved> m_saved;
};
