#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcVarno)

// Console logging: every message of the app goes out as one line that starts
// with "[VARNO] ", through Qt's message handler.
namespace VarnoLogging {

// Installs the handler; messages then reach stderr with the prefix. Safe to
// call more than once.
void install();

// The line the handler writes for a message ("[VARNO] " + message, and the
// severity for warnings and worse).
QString formatLine(QtMsgType type, const QString &message);

} // namespace VarnoLogging
