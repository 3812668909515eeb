#include "engine/EngineSettingsCommands.h"

#include "platform/PlainText.h"

#include "base/Utf8Text.h"
#include "engine/VARNOError.h"
#include "engine/VARNOProcess.h"
#include "records/RecordCodingError.h"

namespace {

constexpr qsizetype kInvalidOutputBytes = 200;
constexpr int kTelemetryOutputCharacters = 120;

bool isLineBreak(QChar c)
{
    switch (c.unicode()) {
    case 0x000A: // line feed
    case 0x000B: // vertical tab
    case 0x000C: // form feed
    case 0x000D: // carriage return (alone or before a line feed)
    case 0x0085: // next line
    case 0x2028: // line separator
    case 0x2029: // paragraph separator
        return true;
    default:
        return false;
    }
}

template<typename Record, typename Decode>
Record decodeOrInvalid(const QByteArray &output, Decode decode)
{
    try {
        return decode(output);
    } catch (const RecordDecodingError &) {
        throw VARNOError::invalidJSON(Utf8Text::prefixLossy(output, kInvalidOutputBytes));
    }
}

QCoro::Task<DeveloperReport> runReport(QStringList arguments)
{
    const QByteArray output = co_await VARNOProcess::run(arguments, EngineSettingsCommands::timeoutSeconds);
    co_return decodeOrInvalid<DeveloperReport>(output, [](const QByteArray &bytes) {
        return DeveloperReportEnvelope::decode(bytes).payload;
    });
}

} // namespace

namespace EngineSettingsCommands {

QStringList developerSetStateArguments()
{
    return {QStringLiteral("dev"), QStringLiteral("set")};
}

QStringList developerInspectArguments()
{
    return {QStringLiteral("dev"), QStringLiteral("inspect"), QStringLiteral("--json")};
}

QStringList developerUpdatePlanArguments()
{
    return {QStringLiteral("dev"), QStringLiteral("plan-updates"), QStringLiteral("--json")};
}

QStringList retentionStatusArguments()
{
    return {QStringLiteral("retention"), QStringLiteral("status"), QStringLiteral("--json")};
}

QStringList retentionSetArguments(const QStringList &arguments)
{
    QStringList vector{QStringLiteral("retention"), QStringLiteral("set")};
    vector.append(arguments);
    vector.append(QStringLiteral("--json"));
    return vector;
}

QStringList retentionConsentArguments(bool grant)
{
    return {QStringLiteral("retention"), QStringLiteral("consent"),
            grant ? QStringLiteral("--grant") : QStringLiteral("--revoke"), QStringLiteral("--json")};
}

QStringList telemetryStatusArguments()
{
    return {QStringLiteral("telemetry"), QStringLiteral("status")};
}

QCoro::Task<void> developerSetState(DeveloperWorkbenchState state)
{
    // Encoded before the child exists, so a state that cannot be written
    // starts nothing.
    const QByteArray input = state.encode();
    const QStringList arguments = developerSetStateArguments();
    co_await VARNOProcess::run(arguments, timeoutSeconds, nullptr, input);
}

QCoro::Task<DeveloperReport> developerInspect()
{
    return runReport(developerInspectArguments());
}

QCoro::Task<DeveloperReport> developerUpdatePlan()
{
    return runReport(developerUpdatePlanArguments());
}

QCoro::Task<RetentionStatus> retentionStatus(std::shared_ptr<VARNOCancellationToken> cancellationToken)
{
    const QStringList arguments = retentionStatusArguments();
    const QByteArray output = co_await VARNOProcess::run(arguments, timeoutSeconds, std::move(cancellationToken));
    co_return decodeOrInvalid<RetentionStatus>(output, &RetentionStatus::decode);
}

QCoro::Task<RetentionStatus> retentionSet(QStringList arguments)
{
    const QStringList vector = retentionSetArguments(arguments);
    const QByteArray output = co_await VARNOProcess::run(vector, timeoutSeconds);
    // The decoder's own error goes to the caller: the Storage pane shows its
    // description rather than the engine's "unexpected output" text.
    co_return RetentionStatus::decode(output);
}

QCoro::Task<RetentionStatus> retentionConsent(bool grant)
{
    const QStringList vector = retentionConsentArguments(grant);
    const QByteArray output = co_await VARNOProcess::run(vector, timeoutSeconds);
    co_return RetentionStatus::decode(output);
}

QCoro::Task<bool> telemetryStatus()
{
    const QStringList arguments = telemetryStatusArguments();
    const QByteArray output = co_await VARNOProcess::run(arguments, timeoutSeconds);
    const QString text = Utf8Text::decodeOrEmpty(output);
    const std::optional<bool> optIn = parseTelemetryStatus(text);
    if (!optIn)
        throw VARNOError::invalidJSON(PlainText::prefixCharacters(text, kTelemetryOutputCharacters));
    co_return *optIn;
}

std::optional<bool> parseTelemetryStatus(const QString &text)
{
    static const QString prefix = QStringLiteral("Telemetry opt-in:");
    qsizetype start = 0;
    const qsizetype size = text.size();
    while (start <= size) {
        qsizetype end = start;
        while (end < size && !isLineBreak(text.at(end)))
            ++end;
        const QString line = text.mid(start, end - start).trimmed();
        if (line.startsWith(prefix)) {
            if (line.endsWith(QStringLiteral("yes")))
                return true;
            if (line.endsWith(QStringLiteral("no")))
                return false;
        }
        if (end >= size)
            break;
        start = end + 1;
    }
    return std::nullopt;
}

} // namespace EngineSettingsCommands
