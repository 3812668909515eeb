#include "services/ESEProbe.h"

#include "platform/Clock.h"
#include "platform/PlainText.h"
#include "platform/ToolRunner.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>

#include <atomic>

namespace {

// The tool answers at once; one that hangs must not hang the Environment screen.
std::atomic<qint64> toolTimeoutMs{30000};

QString trimBrackets(const QString &text)
{
    auto isBracket = [](QChar c) { return c == QLatin1Char('[') || c == QLatin1Char(']'); };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBracket(text[begin]))
        ++begin;
    while (end > begin && isBracket(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

bool isTeamId(const QString &text)
{
    const QList<uint> codePoints = text.toUcs4();
    if (codePoints.size() != 10)
        return false;
    for (const uint codePoint : codePoints) {
        if (!QChar::isLetterOrNumber(static_cast<char32_t>(codePoint)))
            return false;
    }
    return true;
}

const QStringList kNetworkFilterIds = {
    QStringLiteral("littlesnitch"), QStringLiteral("little-snitch"), QStringLiteral("micro-snitch"),
    QStringLiteral("microsnitch"),  QStringLiteral("lulu"),          QStringLiteral("radiosilence"),
};
const QStringList kEndpointSecurityIds = {
    QStringLiteral("wdav"),   QStringLiteral("microsoft.defender"), QStringLiteral("crowdstrike"),
    QStringLiteral("falcon"), QStringLiteral("sentinelone"),        QStringLiteral("sophos"),
    QStringLiteral("eset"),   QStringLiteral("sentinel"),
};

bool containsAny(const QString &text, const QStringList &needles)
{
    for (const QString &needle : needles) {
        if (text.contains(needle))
            return true;
    }
    return false;
}

struct ProbeMemory {
    QMutex mutex;
    QList<ESE> lastResult;
    std::optional<QDateTime> lastRun;
};

ProbeMemory &memory()
{
    static ProbeMemory m;
    return m;
}

QMutex receiptsMutex;
std::optional<QString> receiptsOverride;

} // namespace

// ---------------------------------------------------------------------------
// ESE

QString ESE::categoryName(Category category)
{
    switch (category) {
    case Category::networkFilter:
        return QStringLiteral("networkFilter");
    case Category::endpointSecurity:
        return QStringLiteral("endpointSecurity");
    case Category::driverExtension:
        return QStringLiteral("driverExtension");
    case Category::unknown:
        break;
    }
    return QStringLiteral("unknown");
}

std::optional<ESE::Category> ESE::categoryFromName(const QString &name)
{
    for (const Category category :
         {Category::networkFilter, Category::endpointSecurity, Category::driverExtension, Category::unknown}) {
        if (categoryName(category) == name)
            return category;
    }
    return std::nullopt;
}

QJsonObject ESE::toJson() const
{
    return QJsonObject{
        {QStringLiteral("bundleId"), bundleId}, {QStringLiteral("teamId"), teamId},
        {QStringLiteral("name"), name},         {QStringLiteral("version"), version},
        {QStringLiteral("state"), state},       {QStringLiteral("category"), categoryName(category)},
    };
}

std::optional<ESE> ESE::fromJson(const QJsonObject &object)
{
    const QStringList keys = {QStringLiteral("bundleId"), QStringLiteral("teamId"), QStringLiteral("name"),
                              QStringLiteral("version"),  QStringLiteral("state"),  QStringLiteral("category")};
    for (const QString &key : keys) {
        if (!object.value(key).isString())
            return std::nullopt;
    }
    const auto category = categoryFromName(object.value(QStringLiteral("category")).toString());
    if (!category)
        return std::nullopt;
    return ESE{object.value(QStringLiteral("bundleId")).toString(), object.value(QStringLiteral("teamId")).toString(),
               object.value(QStringLiteral("name")).toString(),     object.value(QStringLiteral("version")).toString(),
               object.value(QStringLiteral("state")).toString(),    *category};
}

size_t qHash(const ESE &ese, size_t seed)
{
    return qHashMulti(seed, ese.bundleId, ese.teamId, ese.name, ese.version, ese.state, static_cast<int>(ese.category));
}

// ---------------------------------------------------------------------------
// ESEProbe

const QString ESEProbe::toolPath = QStringLiteral("/usr/bin/systemextensionsctl");

QCoro::Task<QString> ESEProbe::runTool(QString path, QStringList args)
{
    ToolRequest request;
    request.program = path;
    request.arguments = args;
    request.timeout = toolTimeout();
    request.outputCap = 4 * 1024 * 1024;
    const ToolResult result = co_await ToolRunner::run(request);
    if (!result.started() || result.timedOut())
        co_return QString();
    co_return result.standardOutputText();
}

QCoro::Task<QList<ESE>> ESEProbe::probe()
{
    QStringList args;
    args << QStringLiteral("list");
    const QString output = co_await runTool(toolPath, args);
    const QList<ESE> result = parse(output);
    ProbeMemory &m = memory();
    QMutexLocker lock(&m.mutex);
    m.lastResult = result;
    m.lastRun = Clock::now();
    co_return result;
}

QList<ESE> ESEProbe::lastResult()
{
    ProbeMemory &m = memory();
    QMutexLocker lock(&m.mutex);
    return m.lastResult;
}

std::chrono::milliseconds ESEProbe::toolTimeout()
{
    return std::chrono::milliseconds(toolTimeoutMs.load());
}

void ESEProbe::setToolTimeout(std::chrono::milliseconds timeout)
{
    toolTimeoutMs.store(timeout.count());
}

std::optional<QDateTime> ESEProbe::lastRun()
{
    ProbeMemory &m = memory();
    QMutexLocker lock(&m.mutex);
    return m.lastRun;
}

QList<ESE> ESEProbe::parse(const QString &output)
{
    static const QRegularExpression newlines(QStringLiteral("[\\n\\x{000B}\\x{000C}\\r\\x{0085}\\x{2028}\\x{2029}]"));
    QList<ESE> result;
    QString section;
    const QStringList lines = output.split(newlines);
    for (const QString &rawLine : lines) {
        const QString line = PlainText::trimBlanks(rawLine);
        if (line.isEmpty())
            continue;
        if (line.startsWith(QLatin1String("---"))) {
            section = line;
            continue;
        }
        const QString lower = line.toLower();
        if (lower.contains(QLatin1String("teamid"))
            && (line.startsWith(QLatin1String("enabled"))
                || (!line.startsWith(QLatin1Char('*')) && line.contains(QLatin1String("teamID")))))
            continue;

        QStringList cells;
        const QStringList rawCells = line.split(QLatin1Char('\t'));
        for (const QString &cell : rawCells) {
            const QString trimmed = PlainText::trimBlanks(cell);
            if (!trimmed.isEmpty())
                cells.append(trimmed);
        }
        if (cells.size() < 4)
            continue;
        while (!cells.isEmpty() && (cells.first() == QLatin1String("*") || cells.first().isEmpty()))
            cells.removeFirst();
        if (cells.size() < 3)
            continue;
        if (!isTeamId(cells[0]))
            continue;

        ESE ese;
        ese.teamId = cells[0];
        std::tie(ese.bundleId, ese.version) = splitBundleAndVersion(cells[1]);
        ese.name = cells[2];
        ese.state = cells.size() > 3 ? trimBrackets(cells[3]) : QString();
        ese.category = classify(ese.bundleId, section);
        result.append(ese);
    }
    return result;
}

std::pair<QString, QString> ESEProbe::splitBundleAndVersion(const QString &text)
{
    const qsizetype open = text.lastIndexOf(QLatin1Char('('));
    const qsizetype close = text.lastIndexOf(QLatin1Char(')'));
    if (open < 0 || close < 0 || close <= open)
        return {text, QString()};
    return {PlainText::trimBlanks(text.left(open)), text.mid(open + 1, close - open - 1)};
}

ESE::Category ESEProbe::classify(const QString &bundleId, const QString &categoryLine)
{
    const QString lower = bundleId.toLower();
    if (categoryLine.contains(QLatin1String("network_extension")))
        return ESE::Category::networkFilter;
    if (containsAny(lower, kNetworkFilterIds))
        return ESE::Category::networkFilter;
    if (categoryLine.contains(QLatin1String("endpoint_security")))
        return ESE::Category::endpointSecurity;
    if (containsAny(lower, kEndpointSecurityIds))
        return ESE::Category::endpointSecurity;
    if (categoryLine.contains(QLatin1String("driver_extension")))
        return ESE::Category::driverExtension;
    return ESE::Category::unknown;
}

// ---------------------------------------------------------------------------
// TCCStatus

QString TCCStatus::receiptsPath()
{
    QMutexLocker lock(&receiptsMutex);
    return receiptsOverride.value_or(QStringLiteral("/private/var/db/receipts"));
}

void TCCStatus::setReceiptsPathOverride(std::optional<QString> path)
{
    QMutexLocker lock(&receiptsMutex);
    receiptsOverride = std::move(path);
}

bool TCCStatus::receiptsFolderExists()
{
    const QFileInfo info(receiptsPath());
    return info.exists() || info.isSymLink();
}

bool TCCStatus::hasFullDiskAccess()
{
    const QString path = receiptsPath();
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (!info.isDir() || !info.isReadable())
        return false;
    const QDir folder(path);
    return !folder.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System).isEmpty();
}
