#include "model/UpdateState.h"

UpdateState::UpdateState(Kind kind, qint64 position, qint64 total, QString text)
    : m_kind(kind)
    , m_position(position)
    , m_total(total)
    , m_text(std::move(text))
{
}

UpdateState UpdateState::queued(qint64 position, qint64 total)
{
    return UpdateState(Kind::queued, position, total, QString());
}

UpdateState UpdateState::running(const QString &status)
{
    return UpdateState(Kind::running, 0, 0, status);
}

UpdateState UpdateState::skipped(const QString &reason)
{
    return UpdateState(Kind::skipped, 0, 0, reason);
}

UpdateState UpdateState::failed(const QString &message)
{
    return UpdateState(Kind::failed, 0, 0, message);
}

UpdateState UpdateState::quitDenied(const QString &message)
{
    return UpdateState(Kind::quitDenied, 0, 0, message);
}

UpdateState UpdateState::done()
{
    return UpdateState(Kind::done, 0, 0, QString());
}

bool UpdateState::isFinal() const
{
    switch (m_kind) {
    case Kind::skipped:
    case Kind::failed:
    case Kind::quitDenied:
    case Kind::done:
        return true;
    case Kind::queued:
    case Kind::running:
    case Kind::idle:
        return false;
    }
    return false;
}

bool UpdateState::operator==(const UpdateState &other) const
{
    if (m_kind != other.m_kind)
        return false;
    switch (m_kind) {
    case Kind::queued:
        return m_position == other.m_position && m_total == other.m_total;
    case Kind::running:
    case Kind::skipped:
    case Kind::failed:
    case Kind::quitDenied:
        return m_text == other.m_text;
    case Kind::idle:
    case Kind::done:
        return true;
    }
    return false;
}

QString UpdateState::debugText() const
{
    switch (m_kind) {
    case Kind::queued:
        return QStringLiteral("queued(%1/%2)").arg(m_position).arg(m_total);
    case Kind::running:
        return QStringLiteral("running(\"%1\")").arg(m_text);
    case Kind::skipped:
        return QStringLiteral("skipped(\"%1\")").arg(m_text);
    case Kind::failed:
        return QStringLiteral("failed(\"%1\")").arg(m_text);
    case Kind::quitDenied:
        return QStringLiteral("quitDenied(\"%1\")").arg(m_text);
    case Kind::idle:
        return QStringLiteral("idle");
    case Kind::done:
        return QStringLiteral("done");
    }
    return QString();
}
