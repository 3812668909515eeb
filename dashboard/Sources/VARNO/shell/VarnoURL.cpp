#include "shell/VarnoURL.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>

namespace {

// A URL scheme: a letter, then letters, digits, "+", "-" or ".", before the first ":".
std::optional<QString> schemeOf(const QString &url)
{
    const qsizetype colon = url.indexOf(QLatin1Char(':'));
    if (colon <= 0)
        return std::nullopt;
    const QString scheme = url.left(colon);
    if (!scheme.at(0).isLetter() || scheme.at(0).unicode() > 127)
        return std::nullopt;
    for (const QChar c : scheme) {
        const bool allowed = c.unicode() < 128
            && (c.isLetterOrNumber() || c == QLatin1Char('+') || c == QLatin1Char('-') || c == QLatin1Char('.'));
        if (!allowed)
            return std::nullopt;
    }
    return scheme;
}

} // namespace

namespace VarnoURL {

bool isUpdateCheckURL(const QString &url)
{
    const auto scheme = schemeOf(url);
    // Compared as written: "VARNO:" is not ours.
    if (!scheme || *scheme != QLatin1String("varno"))
        return false;
    const QUrl parsed(url, QUrl::TolerantMode);
    if (!parsed.isValid())
        return false;
    const QString host = parsed.host().toLower();
    return host == QLatin1String("check-for-updates") || host == QLatin1String("update");
}

QByteArray encodeMessage(const QStringList &urls)
{
    return QJsonDocument(QJsonArray::fromStringList(urls.mid(0, maxUrls))).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<QStringList> decodeMessage(const QByteArray &message)
{
    if (message.size() > maxMessageBytes)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(message.trimmed(), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QStringList urls;
    for (const QJsonValue &value : document.array()) {
        if (!value.isString())
            return std::nullopt;
        urls.append(value.toString());
    }
    if (urls.size() > maxUrls)
        return std::nullopt;
    return urls;
}

} // namespace VarnoURL
