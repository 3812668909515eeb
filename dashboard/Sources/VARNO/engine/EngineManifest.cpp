#include "engine/EngineManifest.h"

#include "engine/CLIBootstrapError.h"
#include "platform/MainBundle.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace EngineManifest {

std::optional<QString> bundledManifestPath()
{
    return MainBundle::urlForResource(QStringLiteral("cli-manifest"), QStringLiteral("json"));
}

QString sha256Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

namespace {

const QString manifestFile = QStringLiteral("(manifest)");

// A path relative to the install folder that names something inside it.
bool isInsidePath(const QString &path)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')) || path.contains(QChar(u'\0')))
        return false;
    for (const QStringView part : QStringView(path).split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return false;
    }
    return true;
}

} // namespace

QList<Entry> parse(const QByteArray &bytes)
{
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
    QList<Entry> entries;
    entries.reserve(files.size());
    for (auto it = files.constBegin(); it != files.constEnd(); ++it) {
        if (!it.value().isString() || !isInsidePath(it.key()))
            throw invalidFiles();
        entries.append(Entry{it.key(), it.value().toString()});
    }
    return entries;
}

void verify(const std::optional<QString> &manifestPath, const QString &installDir)
{
    // A build without a manifest cannot vouch for its engine: that is a
    // failed check, not a skipped one.
    if (!manifestPath || !QFileInfo::exists(*manifestPath))
        throw CLIBootstrapError::hashMismatch(manifestFile, QStringLiteral("(parseable manifest)"),
                                              QStringLiteral("(missing)"));

    QFile manifest(*manifestPath);
    if (!manifest.open(QIODevice::ReadOnly))
        throw CLIBootstrapError::hashMismatch(manifestFile, QStringLiteral("(parseable manifest)"), QString());
    const QList<Entry> entries = parse(manifest.readAll());

    const QDir root(installDir);
    for (const Entry &entry : entries) {
        const QString &relative = entry.path;
        const QString &expected = entry.sha256;
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

} // namespace EngineManifest
