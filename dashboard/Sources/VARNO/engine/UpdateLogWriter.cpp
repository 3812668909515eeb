#include "engine/UpdateLogWriter.h"

#include "base/SerialQueue.h"
#include "platform/Clock.h"
#include "platform/VarnoPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QSaveFile>
#include <QSemaphore>
#include <QStringList>

struct UpdateLogWriter::Shared {
    QFile file;
    SerialQueue writeQueue{QStringLiteral("org.varno.update-log-writer")};

    // Entries that wait for the next batch.
    QMutex mutex;
    QStringList pending;
    qsizetype pendingSize = 0;
    qint64 dropped = 0;
    bool batchQueued = false;
};

namespace {

QByteArray stamped(const QString &stamp, const QString &text)
{
    return (QLatin1Char('[') + stamp + QStringLiteral("] ") + text + QLatin1Char('\n')).toUtf8();
}

} // namespace

QString UpdateLogWriter::defaultPath()
{
    return VarnoPaths::logsDir() + QStringLiteral("/update.err");
}

std::unique_ptr<UpdateLogWriter> UpdateLogWriter::open(const QString &path, qint64 room)
{
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return nullptr;

    rotateForRoom(path, room);

    auto shared = std::make_shared<Shared>();
    shared->file.setFileName(path);
    // Opening for writing creates the file when it is missing; an existing
    // log is kept and each entry goes to its end.
    if (!shared->file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return nullptr;
    if (!QFileInfo(path).isWritable()) {
        shared->file.close();
        return nullptr;
    }
    return std::unique_ptr<UpdateLogWriter>(new UpdateLogWriter(path, std::move(shared)));
}

void UpdateLogWriter::rotateForRoom(const QString &path, qint64 room)
{
    _rotateIfNeeded(path, rotationSize, rotationSize - qBound<qint64>(0, room, rotationSize));
}

UpdateLogWriter::UpdateLogWriter(QString path, std::shared_ptr<Shared> shared)
    : m_path(std::move(path))
    , m_shared(std::move(shared))
{
}

// The queued blocks hold the shared state; the file closes when the last of
// them (or the writer) lets go of it.
UpdateLogWriter::~UpdateLogWriter() = default;

void UpdateLogWriter::write(const QString &text)
{
    std::shared_ptr<Shared> shared = m_shared;
    {
        QMutexLocker lock(&shared->mutex);
        if (shared->pendingSize + text.size() > pendingCap && !shared->pending.isEmpty()) {
            ++shared->dropped;
            return;
        }
        shared->pending.append(text);
        shared->pendingSize += text.size();
        if (shared->batchQueued)
            return;
        shared->batchQueued = true;
    }
    const QString path = m_path;
    // One block writes everything that waits when it runs.
    shared->writeQueue.async([shared, path] {
        QStringList entries;
        qint64 dropped = 0;
        {
            QMutexLocker lock(&shared->mutex);
            entries.swap(shared->pending);
            shared->pendingSize = 0;
            dropped = shared->dropped;
            shared->dropped = 0;
            shared->batchQueued = false;
        }
        QFile &file = shared->file;
        if (!file.isOpen())
            return;
        const QString stamp = Clock::now().toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        QByteArray batch;
        for (const QString &entry : std::as_const(entries))
            batch += stamped(stamp, entry);
        if (dropped > 0)
            batch += stamped(stamp, QStringLiteral("[\u2026 %1 line(s) dropped \u2026]").arg(dropped));
        file.seek(file.size());
        file.write(batch);
        const qint64 size = file.size();
        if (size > rotationSize)
            _rotateInPlace(file, path, rotationSize);
    });
}

std::function<void()> UpdateLogWriter::holdWritesForTesting()
{
    auto gate = std::make_shared<QSemaphore>(0);
    m_shared->writeQueue.async([gate] { gate->acquire(); });
    return [gate] { gate->release(); };
}

void UpdateLogWriter::flush()
{
    m_shared->writeQueue.sync();
}

bool UpdateLogWriter::writePrevious(const QString &path, const QByteArray &bytes, qint64 maxBytes)
{
    QSaveFile previous(path + QStringLiteral(".prev"));
    if (!previous.open(QIODevice::WriteOnly))
        return false;
    const QByteArray tail = bytes.size() > maxBytes ? bytes.right(maxBytes) : bytes;
    if (previous.write(tail) != tail.size()) {
        previous.cancelWriting();
        return false;
    }
    return previous.commit();
}

void UpdateLogWriter::_rotateIfNeeded(const QString &path, qint64 maxBytes, qint64 threshold)
{
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile())
        return;
    if (info.size() <= threshold || info.size() == 0)
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    file.close();
    // The log is emptied only once its tail is safe in the .prev copy.
    if (!writePrevious(path, bytes, maxBytes))
        return;
    QFile fresh(path);
    if (fresh.open(QIODevice::WriteOnly | QIODevice::Truncate))
        fresh.close();
}

void UpdateLogWriter::_rotateInPlace(QFile &file, const QString &path, qint64 maxBytes)
{
    QFile reader(path);
    if (!reader.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = reader.readAll();
    reader.close();
    if (!writePrevious(path, bytes, maxBytes))
        return;
    file.resize(0);
    file.seek(0);
}
