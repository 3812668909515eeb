#pragma once

#include <QString>

#include <functional>
#include <memory>

class QFile;
class SerialQueue;

// The plain-text log of an update run (~/Library/Logs/VARNO/update.err): one
// line per entry, "[yyyy-MM-dd HH:mm:ss] text" in UTC, the time taken when the
// entry is written. Past 262144 bytes the newest 262144 bytes move to
// update.err.prev and the log starts empty again.
//
// Writes go to a serial queue ("org.varno.update-log-writer") in batches and
// never block or report a failure; entries still queued when the writer is
// destroyed are written all the same. The queue is bounded: an entry that
// finds pendingCap characters of text already waiting is dropped and
// counted, and the count is written as one line, "[… N line(s) dropped …]",
// after the entries that were kept. So an engine that writes faster than the
// disk takes neither grows the memory nor makes flush() wait without bound.
class UpdateLogWriter {
public:
    static constexpr qint64 rotationSize = 262144;
    // Characters of text that may wait to be written.
    static constexpr qsizetype pendingCap = 1048576;

    // ~/Library/Logs/VARNO/update.err
    static QString defaultPath();

    // A writer for the log at the path, or nothing when its folder cannot be
    // created or the file cannot be opened for writing. With room, a log that
    // could not take that many more bytes without passing rotationSize is
    // rotated at opening, so that a writer that keeps within its room never
    // pushes what the log held before out of update.err.prev.
    static std::unique_ptr<UpdateLogWriter> open(const QString &path, qint64 room = 0);
    static std::unique_ptr<UpdateLogWriter> open() { return open(defaultPath()); }

    // The rotation at opening, for a log that is appended to by other means
    // (the bootstrap's failure log): when the log at path could not take
    // room more bytes without passing rotationSize, its newest rotationSize
    // bytes move to path + ".prev" and it starts empty.
    static void rotateForRoom(const QString &path, qint64 room);

    ~UpdateLogWriter();
    UpdateLogWriter(const UpdateLogWriter &) = delete;
    UpdateLogWriter &operator=(const UpdateLogWriter &) = delete;

    QString path() const { return m_path; }

    // Queues one entry and returns at once. An entry with line feeds is written
    // unchanged, spanning several lines under one time stamp.
    void write(const QString &text);

    // Returns once every entry queued before it is in the file. Does not close
    // the file. Must not be called from the write queue itself (it then returns
    // at once).
    void flush();

    // Holds the write queue until the returned function is called (tests:
    // a disk that cannot keep up).
    std::function<void()> holdWritesForTesting();

    struct Shared;

private:
    UpdateLogWriter(QString path, std::shared_ptr<Shared> shared);

    // At opening: when the file at path is larger than threshold, its newest
    // maxBytes go to path + ".prev" and the file starts empty.
    static void _rotateIfNeeded(const QString &path, qint64 maxBytes, qint64 threshold);
    // While writing: the same for the open file.
    static void _rotateInPlace(QFile &file, const QString &path, qint64 maxBytes);

    // Writes the last maxBytes of bytes to path + ".prev" atomically.
    static bool writePrevious(const QString &path, const QByteArray &bytes, qint64 maxBytes);

    QString m_path;
    std::shared_ptr<Shared> m_shared;
};
