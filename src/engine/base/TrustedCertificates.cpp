#include "engine/base/TrustedCertificates.h"

#include "engine/base/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>

namespace {

QString g_pathOverride;

// A file of a few hundred bytes per host; anything much larger is not ours.
constexpr qint64 kMaxFileSize = 4 * 1024 * 1024;

QStringList ReadLines(const QString& path)
{
    QFile file(path);
    if (file.size() > kMaxFileSize || !file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
}

} // namespace

CTrustedCertificates::CTrustedCertificates(QString path)
    : m_path(std::move(path))
{
}

void CTrustedCertificates::SetDefaultPathOverride(const QString& path)
{
    g_pathOverride = path;
}

QString CTrustedCertificates::DefaultPath()
{
    if (!g_pathOverride.isEmpty())
        return g_pathOverride;
    const QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QLatin1String(kx::kOrganisation),
                             QLatin1String(kx::kApplication));
    return QFileInfo(settings.fileName()).absolutePath() + QStringLiteral("/Kestrix-trusted-certificates");
}

QString CTrustedCertificates::Key(const QString& host, int port)
{
    // Host names compare ignoring case; an IPv6 address keeps its brackets
    // apart from the port.
    return QStringLiteral("[%1]:%2").arg(host.toLower()).arg(port);
}

QString CTrustedCertificates::Normalized(const QString& sha256)
{
    QString hex = sha256.toLower();
    hex.remove(QLatin1Char(':'));
    return hex;
}

CTrustedCertificates::Verdict CTrustedCertificates::Check(const QString& host, int port, const QString& sha256) const
{
    const QString key = Key(host, port);
    for (const QString& line : ReadLines(m_path)) {
        const QStringList fields = line.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.size() != 2 || fields[0] != key)
            continue;
        return Normalized(fields[1]) == Normalized(sha256) ? Verdict::Trusted : Verdict::Changed;
    }
    return Verdict::Unknown;
}

bool CTrustedCertificates::Trust(const QString& host, int port, const QString& sha256, QString* error)
{
    const auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("The trusted certificate could not be stored in \"%1\": %2").arg(m_path, why);
        return false;
    };
    const QString fingerprint = Normalized(sha256);
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{64}$"));
    if (!hex.match(fingerprint).hasMatch())
        return fail(QStringLiteral("the fingerprint is not a SHA-256 fingerprint"));
    // One line per host: a host name that could break a line or a field
    // could also plant a trust for another host.
    for (const QChar c : host) {
        if (c.isSpace() || c.unicode() < 0x20 || c.unicode() == 0x7f)
            return fail(QStringLiteral("the host name holds spaces or control characters"));
    }
    const QString key = Key(host, port);
    QStringList kept;
    for (const QString& line : ReadLines(m_path)) {
        const QString trimmed = line.trimmed();
        if (!trimmed.isEmpty() && trimmed.section(QLatin1Char(' '), 0, 0) != key)
            kept << trimmed;
    }
    kept << key + QLatin1Char(' ') + fingerprint;

    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("the folder could not be created"));
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray bytes = (kept.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
    if (file.write(bytes) != bytes.size()) {
        const QString why = file.errorString();
        file.cancelWriting();
        return fail(why);
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}
