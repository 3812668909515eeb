#include "platform/ConsoleOut.h"

#include <QMutex>
#include <QMutexLocker>

#include <cstdio>

namespace {

QMutex consoleMutex;
std::function<void(const QString &)> consoleCapture;

} // namespace

namespace ConsoleOut {

void writeLine(const QString &line)
{
    QMutexLocker lock(&consoleMutex);
    if (consoleCapture) {
        consoleCapture(line);
        return;
    }
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

void setCapture(std::function<void(const QString &)> capture)
{
    QMutexLocker lock(&consoleMutex);
    consoleCapture = std::move(capture);
}

} // namespace ConsoleOut
