#include "services/SoftwareUpdateProbe.h"

#include "platform/PlainText.h"
#include "platform/ToolRunner.h"

#include <QStringList>

namespace {

ToolRequest listRequest(double timeout)
{
    ToolRequest request;
    request.program = SoftwareUpdateProbe::toolPath;
    request.arguments = QStringList{QStringLiteral("--list")};
    request.timeout = ToolRunner::fromSeconds(timeout);
    request.outputCap = 4 * 1024 * 1024;
    return request;
}

const QString kTitle = QStringLiteral("Title:");
const QString kLabel = QStringLiteral("Label:");
const QString kStarLabel = QStringLiteral("* Label:");

} // namespace

MacOSUpdateStatus MacOSUpdateStatus::unavailable()
{
    return MacOSUpdateStatus{0, QStringLiteral("macOS update check unavailable"), std::nullopt};
}

MacOSUpdateStatus MacOSUpdateStatus::upToDate()
{
    return MacOSUpdateStatus{0, QStringLiteral("macOS up to date"), std::nullopt};
}

const QString SoftwareUpdateProbe::toolPath = QStringLiteral("/usr/sbin/softwareupdate");

QCoro::Task<MacOSUpdateStatus> SoftwareUpdateProbe::check(double timeout)
{
    ToolRequest request = listRequest(timeout);
    const ToolResult result = co_await ToolRunner::run(std::move(request));
    co_return interpret(result);
}

MacOSUpdateStatus SoftwareUpdateProbe::runCheck(double timeout)
{
    return interpret(ToolRunner::runBlocking(listRequest(timeout)));
}

MacOSUpdateStatus SoftwareUpdateProbe::interpret(const ToolResult &result)
{
    if (!result.succeeded())
        return MacOSUpdateStatus::unavailable();
    const QString output = result.standardOutputText();
    const QString errors = result.standardErrorText();
    if (output.isEmpty() && !errors.isEmpty())
        return MacOSUpdateStatus::unavailable();
    return parse(output);
}

MacOSUpdateStatus SoftwareUpdateProbe::parse(const QString &output)
{
    QStringList kept;
    const QStringList lines = output.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QString trimmed = PlainText::trimBlanks(line);
        if (trimmed.startsWith(kTitle) || trimmed.startsWith(kLabel) || trimmed.startsWith(kStarLabel))
            kept.append(trimmed);
    }

    if (kept.isEmpty()) {
        if (output.contains(QStringLiteral("No new software available"), Qt::CaseInsensitive))
            return MacOSUpdateStatus::upToDate();
        return MacOSUpdateStatus::unavailable();
    }

    // A label line opens an update; the title line right after it describes
    // the same update. A title line without a label before it is an update of
    // its own.
    qint64 count = 0;
    bool labelAwaitingTitle = false;
    for (const QString &line : std::as_const(kept)) {
        if (line.startsWith(kTitle)) {
            if (labelAwaitingTitle)
                labelAwaitingTitle = false;
            else
                ++count;
        } else {
            ++count;
            labelAwaitingTitle = true;
        }
    }

    QString first = kept.first();
    first.remove(QLatin1Char('*'));
    first = PlainText::trimBlanks(first);
    first.remove(kTitle);
    first.remove(kLabel);
    const QStringList pieces = first.split(QLatin1Char(','), Qt::SkipEmptyParts);
    std::optional<QString> detail;
    if (!pieces.isEmpty())
        detail = pieces.first().trimmed();
    return MacOSUpdateStatus{count, QStringLiteral("macOS update ready"), detail};
}
