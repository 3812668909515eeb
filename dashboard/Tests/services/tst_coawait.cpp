#include "TestRegistry.h"
#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

// The coroutine rule, as g++ 12 with QCoro needs it:
// 1. One co_await per statement. When one full expression holds two, g++ 12
//    never destroys the statement's temporaries, nor the locals of the
//    enclosing scope.
// 2. No lambda expression and no brace initialisation in a statement that
//    holds a co_await. g++ 12 destroys an aggregate temporary (a lambda's
//    closure, `Options{...}`) built there once too often, and rejects a
//    braced list there. Name such a value in a statement of its own first.
// 3. A coroutine takes no reference parameters and a coroutine lambda
//    captures nothing: its task may run on after the statement that called
//    it (detached, stored, awaited later), when a referenced argument or the
//    lambda object (its captures) is gone.
// Everything else may stand in a co_await statement: the awaited task itself,
// arguments made by calls or constructors, the awaited value passed on. A
// member coroutine that may outlive its object guards it with a QPointer made
// inside its body (not checked here). This reads every source folder and
// names each place that breaks the rule.

namespace {

QString withoutCommentsAndStrings(const QString &source)
{
    static const QRegularExpression parts(QStringLiteral(
                                              "/\\*.*?\\*/|//[^\\n]*|\"(?:\\\\.|[^\"\\\\\\n])*\"|'(?:\\\\.|[^'\\\\\\n])'"),
                                          QRegularExpression::DotMatchesEverythingOption);
    QString text;
    qsizetype from = 0;
    QRegularExpressionMatchIterator it = parts.globalMatch(source);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        text += source.mid(from, match.capturedStart() - from);
        const QChar first = match.captured().at(0);
        text += first == QLatin1Char('"') ? QStringLiteral("\"\"")
            : first == QLatin1Char('\'')  ? QStringLiteral("' '")
                                          : QStringLiteral(" ");
        from = match.capturedEnd();
    }
    text += source.mid(from);
    return text;
}

bool isOpening(QChar c)
{
    return c == QLatin1Char('(') || c == QLatin1Char('[');
}

bool isClosing(QChar c)
{
    return c == QLatin1Char(')') || c == QLatin1Char(']');
}

// The statement around position `at`: from after the ';', '{' or '}' before
// it to its ';' (or the '{' or '}' that ends it), outside brackets.
QString statementAround(const QString &text, qsizetype at)
{
    qsizetype begin = at;
    for (int depth = 0; begin > 0; --begin) {
        const QChar c = text.at(begin - 1);
        if (isClosing(c))
            ++depth;
        else if (isOpening(c))
            --depth;
        else if (depth <= 0 && (c == QLatin1Char(';') || c == QLatin1Char('{') || c == QLatin1Char('}')))
            break;
    }
    qsizetype end = at;
    for (int depth = 0; end < text.size(); ++end) {
        const QChar c = text.at(end);
        if (isOpening(c))
            ++depth;
        else if (isClosing(c))
            --depth;
        if (depth <= 0 && c == QLatin1Char(';')) {
            ++end;
            break;
        }
        // A block that opens outside brackets is the statement's body, not
        // part of it (a lambda or a braced list sits inside brackets or
        // after '=' / a name, and is kept).
        if (depth <= 0 && (c == QLatin1Char('{') || c == QLatin1Char('}'))) {
            const QString before = text.mid(begin, end - begin).trimmed();
            if (c == QLatin1Char('}') || before.endsWith(QLatin1Char(')')) || before.endsWith(QLatin1String("else"))
                || before.endsWith(QLatin1String("try")) || before.endsWith(QLatin1String("do")))
                break;
        }
    }
    return text.mid(begin, end - begin);
}

// Balanced text from an opening bracket at `open` to its closing one
// (exclusive of both); -1 as the end when it never closes.
qsizetype closingOf(const QString &text, qsizetype open, QChar opening, QChar closing)
{
    int depth = 0;
    for (qsizetype i = open; i < text.size(); ++i) {
        if (text.at(i) == opening)
            ++depth;
        else if (text.at(i) == closing && --depth == 0)
            return i;
    }
    return -1;
}

qsizetype openingOf(const QString &text, qsizetype close, QChar opening, QChar closing)
{
    int depth = 0;
    for (qsizetype i = close; i >= 0; --i) {
        if (text.at(i) == closing)
            ++depth;
        else if (text.at(i) == opening && --depth == 0)
            return i;
    }
    return -1;
}

// A parameter list holds a reference when a '&' stands outside template
// arguments (std::function<void(A &)> is a value).
bool hasReferenceParameter(const QString &parameters)
{
    int angle = 0;
    for (const QChar c : parameters) {
        if (c == QLatin1Char('<'))
            ++angle;
        else if (c == QLatin1Char('>'))
            --angle;
        else if (c == QLatin1Char('&') && angle == 0)
            return true;
    }
    return false;
}

QStringList statementFaults(const QString &text)
{
    QStringList faults;
    // (`operator co_await` declares, it does not await.)
    static const QRegularExpression await(QStringLiteral("(?<!operator )\\bco_await\\b"));
    static const QRegularExpression lambda(QStringLiteral("\\[[^\\[\\]]*\\]\\s*(?:\\(|\\{|mutable|->)"));
    QSet<QString> seen;
    QRegularExpressionMatchIterator it = await.globalMatch(text);
    while (it.hasNext()) {
        const QString statement = statementAround(text, it.next().capturedStart());
        if (seen.contains(statement))
            continue;
        seen.insert(statement);
        const QString shown = statement.simplified();
        if (statement.count(QLatin1String("co_await")) > 1)
            faults << shown + QStringLiteral("  <- two co_await in one statement");
        else if (lambda.match(statement).hasMatch())
            faults << shown + QStringLiteral("  <- a lambda expression in a co_await statement");
        else if (statement.contains(QLatin1Char('{')))
            faults << shown + QStringLiteral("  <- brace initialisation in a co_await statement");
    }
    return faults;
}

QStringList declarationFaults(const QString &text)
{
    QStringList faults;
    static const QRegularExpression task(QStringLiteral("\\bQCoro::Task\\s*<"));
    static const QRegularExpression declared(QStringLiteral("^\\s*([A-Za-z_][\\w:]*)\\s*\\("));
    QRegularExpressionMatchIterator it = task.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        const qsizetype close = closingOf(text, match.capturedEnd() - 1, QLatin1Char('<'), QLatin1Char('>'));
        if (close < 0)
            continue;
        // A function returning the task: its parameters.
        const QRegularExpressionMatch name = declared.match(text.mid(close + 1, 200));
        if (name.hasMatch()) {
            const qsizetype open = close + 1 + name.capturedEnd() - 1;
            const qsizetype end = closingOf(text, open, QLatin1Char('('), QLatin1Char(')'));
            const QString parameters = text.mid(open + 1, end - open - 1);
            if (end > 0 && hasReferenceParameter(parameters))
                faults << name.captured(1) + QLatin1Char('(') + parameters.simplified()
                        + QStringLiteral(")  <- a coroutine with a reference parameter");
            continue;
        }
        // A lambda returning the task: [captures](parameters) ... -> QCoro::Task<...>
        qsizetype i = match.capturedStart() - 1;
        while (i >= 0 && text.at(i).isSpace())
            --i;
        if (i < 1 || text.mid(i - 1, 2) != QLatin1String("->"))
            continue;
        i -= 2;
        while (i >= 0 && (text.at(i).isSpace() || text.at(i).isLetter()))
            --i; // mutable, noexcept
        if (i < 0 || text.at(i) != QLatin1Char(')'))
            continue;
        const qsizetype open = openingOf(text, i, QLatin1Char('('), QLatin1Char(')'));
        qsizetype j = open - 1;
        while (j >= 0 && text.at(j).isSpace())
            --j;
        if (open < 0 || j < 0 || text.at(j) != QLatin1Char(']'))
            continue;
        const qsizetype captureOpen = openingOf(text, j, QLatin1Char('['), QLatin1Char(']'));
        const QString captures = text.mid(captureOpen + 1, j - captureOpen - 1).trimmed();
        const QString parameters = text.mid(open + 1, i - open - 1);
        const QString shown = text.mid(captureOpen, match.capturedEnd() - captureOpen).simplified();
        if (!captures.isEmpty())
            faults << shown + QStringLiteral("  <- a coroutine lambda that captures");
        else if (hasReferenceParameter(parameters))
            faults << shown + QStringLiteral("  <- a coroutine with a reference parameter");
    }
    return faults;
}

QStringList faultsIn(const QString &source)
{
    const QString text = withoutCommentsAndStrings(source);
    return statementFaults(text) + declarationFaults(text);
}

} // namespace

class TestCoroutineExpressions : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The checker itself: it finds what the rule forbids and lets the rest pass.
    void checker_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("faulty");

        QTest::newRow("named argument") << "const ToolResult r = co_await ToolRunner::run(request);" << false;
        QTest::newRow("builder call as argument")
            << "const ToolResult r = co_await ToolRunner::run(listRequest(t));" << false;
        QTest::newRow("dereferenced optional") << "const bool ok = co_await runAsync(*brew, args, t);" << false;
        QTest::newRow("returned as it is") << "co_return co_await gatherAsync(Inputs::current());" << false;
        QTest::newRow("result passed on") << "if (mentions(co_await runAsync(p, a, t), w))\n co_return true;" << false;
        QTest::newRow("awaited under a condition")
            << "if (!run->isDone())\n co_await qCoro(run.get(), &R::done);" << false;
        QTest::newRow("block after the condition") << "if (ok) {\n co_await load();\n}" << false;
        QTest::newRow("awaiter of a type") << "Awaiter operator co_await() const { return Awaiter{*this}; }" << false;
        QTest::newRow("comment and string ignored")
            << "// co_await a(); co_await b();\nco_await log(\"co_await {x}\");" << false;
        QTest::newRow("two awaits") << "const int n = co_await count(a) + co_await count(b);" << true;
        QTest::newRow("two awaits in a condition") << "if (co_await a() && co_await b()) {\n go();\n}" << true;
        QTest::newRow("lambda called in place") << "co_await [x]() -> QCoro::Task<void> { co_return; }();" << true;
        QTest::newRow("lambda as argument")
            << "const int v = co_await Async::offThread(this, [x] { return x; });" << true;
        QTest::newRow("braced list") << "co_await run({QStringLiteral(\"-p\")});" << true;
        QTest::newRow("aggregate temporary") << "co_await apply(Options{path, 2});" << true;
        QTest::newRow("value parameters")
            << "QCoro::Task<void> Model::load(QString path, std::function<void(A &)> f)\n{" << false;
        QTest::newRow("reference parameter") << "QCoro::Task<QList<R>> read(const QString &path)\n{" << true;
        QTest::newRow("forwarding parameter") << "QCoro::Task<void> take(Request &&request);" << true;
        QTest::newRow("task as a parameter") << "void detach(QCoro::Task<T> task);" << false;
        QTest::newRow("lambda without captures") << "f = [](double) -> QCoro::Task<Status> { co_return {}; };" << false;
        QTest::newRow("lambda that captures") << "f = [this]() -> QCoro::Task<QString> { co_return name(); };" << true;
        QTest::newRow("lambda with a reference parameter") << "f = [](const A &a) -> QCoro::Task<void> {};" << true;
    }

    void checker()
    {
        QFETCH(QString, source);
        QFETCH(bool, faulty);
        const QStringList faults = faultsIn(source);
        QVERIFY2(faults.isEmpty() != faulty, qPrintable(faults.join(QLatin1Char('\n'))));
    }

    void sourcesKeepTheCoroutineRule_data()
    {
        QTest::addColumn<QString>("folder");
        const QDir root(VarnoTest::sourcePath(QStringLiteral("dashboard/Sources/VARNO")));
        const QStringList folders = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QVERIFY(!folders.isEmpty());
        for (const QString &folder : folders)
            QTest::newRow(qPrintable(folder)) << folder;
    }

    void sourcesKeepTheCoroutineRule()
    {
        QFETCH(QString, folder);
        const QDir dir(VarnoTest::sourcePath(QStringLiteral("dashboard/Sources/VARNO/") + folder));
        QDirIterator it(dir.path(), {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                        QDirIterator::Subdirectories);
        QStringList faults;
        int files = 0;
        while (it.hasNext()) {
            const QString path = it.next();
            ++files;
            const QString source = QString::fromUtf8(VarnoTest::readFile(path));
            for (const QString &fault : faultsIn(source))
                faults << dir.relativeFilePath(path) + QStringLiteral(": ") + fault;
        }
        QVERIFY(files > 0);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    }
};

VARNO_TEST_CLASS(TestCoroutineExpressions)
#include "tst_coawait.moc"
