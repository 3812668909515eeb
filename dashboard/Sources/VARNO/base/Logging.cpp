#include "base/Logging.h"

#include <QMutex>
#include <QMutexLocker>

#include <cstdio>

Q_LOGGING_CATEGORY(lcVarno, "varno")

namespace {

QMutex writeMutex;

void handler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    const QByteArray line = VarnoLogging::formatLine(type, message).toUtf8() + '\n';
    QMutexLocker lock(&writeMutex);
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace

namespace VarnoLogging {

QString formatLine(QtMsgType type, const QString &message)
{
    static const QString prefix = QStringLiteral("[VARNO] ");
    switch (type) {
    case QtWarningMsg:
        return prefix + QStringLiteral("warning: ") + message;
    case QtCriticalMsg:
        return prefix + QStringLiteral("error: ") + message;
    case QtFatalMsg:
        return prefix + QStringLiteral("fatal: ") + message;
    case QtDebugMsg:
    case QtInfoMsg:
        break;
    }
    return prefix + message;
}

void install()
{
    qInstallMessageHandler(handler);
}

} // namespace VarnoLogging
