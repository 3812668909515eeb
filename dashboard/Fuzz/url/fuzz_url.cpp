// "varno:" addresses and the message that hands them to the running app.
// The input is read both as one address and as a message. An address that
// opens an update check starts with "varno:" exactly and its host is one of
// the two words; a message that decodes holds at most maxUrls addresses, and
// what it holds comes through encoding and decoding again unchanged.
#include "FuzzSupport.h"

#include "shell/VarnoURL.h"

#include <QUrl>

namespace {

bool hasLoneSurrogate(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            return true;
    }
    return false;
}

void checkAddress(const QString &url)
{
    if (!VarnoURL::isUpdateCheckURL(url))
        return;
    FUZZ_CHECK(url.startsWith(QLatin1String("varno:")), url.left(200));
    const QString host = QUrl(url, QUrl::TolerantMode).host().toLower();
    FUZZ_CHECK(host == QLatin1String("update") || host == QLatin1String("check-for-updates"), url.left(200));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    checkAddress(QString::fromUtf8(bytes));

    const auto urls = VarnoURL::decodeMessage(bytes);
    if (!urls)
        return 0;
    FUZZ_CHECK(urls->size() <= VarnoURL::maxUrls, QString::number(urls->size()));
    bool plain = true;
    for (const QString &url : *urls) {
        checkAddress(url);
        plain = plain && !hasLoneSurrogate(url);
    }
    const QByteArray again = VarnoURL::encodeMessage(*urls);
    FUZZ_CHECK(again.endsWith('\n') && again.count('\n') == 1, QString::fromUtf8(again.left(200)));
    if (plain && again.size() <= VarnoURL::maxMessageBytes)
        FUZZ_CHECK(VarnoURL::decodeMessage(again) == urls, QString::fromUtf8(again.left(200)));
    return 0;
}
