#include "engine/CLIManifest.h"

#include "engine/CLIBootstrapError.h"
#include "platform/MainBundle.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace CLIManifest {

std::optional<QString> bundledManifestPath()
{
    return MainBundle::urlForResource(QStringLiteral("cli-manifest"), QStringLiteral("json"));
}

QString sha256Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

void verify(const std::optional<QString> &manifestPath, const QString &installDir)
{
    const QString manifestFile = QStringLiteral("(manifest)");
    // A build without a manifest cannot vouch for its engine: that is a
    // failed check, not a skipped one.
    if (!manifestPath || !QFileInfo::exists(*manifestPath))
        throw CLIBootstrapError::hashMismatch(manifestFile, QStringLiteral("(parseable manifest)"),
                                              QStringLiteral("(missing)"));

    QFile manifest(*manifestPath);
    if (!manifest.open(QIODevice::ReadOnly))
        throw CLIBootstrapError::hashMismatch(manifestFile, QStringLiteral("(parseable manifest)"), QString());
    const QByteArray bytes = manifest.readAll();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        throw CLIBootstrapError::hashMismatch(manifestFile, QStringLiteral("(parseable manifest)"), QString());

    const auto invalidFiles = [&] {
        return CLIBootstrapError::hashMismatch(manifestFile, QStringLiteral("(valid files entry)"), QString());
    };
    if (!document.isObject() || document.object().isEmpty())
        throw invalidFiles();
    const QJsonValue filesValue = document.object().value(QLatin1String("files"));
    if (!filesValue.isObject())
        throw invalidFiles();
    const QJsonObject files = filesValue.toObject();
    for (auto it = files.constBegin(); it != files.constEnd(); ++it) {
        if (!it.value().isString())
            throw invalidFiles();
    }

    const QDir root(installDir);
    for (auto it = files.constBegin(); it != files.constEnd(); ++it) {
        const QString relative = it.key();
        const QString expected = it.value().toString();
        const QString path = root.filePath(relative);
        const QFileInfo info(path);
        if (!info.exists())
            throw CLIBootstrapError::hashMismatch(relative, expected, QStringLiteral("(missing)"));
        QFile file(path);
        if (!info.isFile() || !file.open(QIODevice::ReadOnly))
            throw CLIBootstrapError::hashMismatch(relative, expected, QStringLiteral("(unreadable)"));
        const QByteArray content = file.readAll();
        if (file.error() != QFileDevice::NoError)
            throw CLIBootstrapError::hashMismatch(relative, expected, QStringLiteral("(unreadable)"));
        const QString actual = sha256Hex(content);
        if (actual.toLower() != expected.toLower())
            throw CLIBootstrapError::hashMismatch(relative, expected, actual);
    }
}

} // namespace CLIManifest
