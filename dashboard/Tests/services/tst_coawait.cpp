#include "TestRegistry.h"
#include "TestSupport.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>

// g++ 12 mishandles temporaries with destructors that live in a full
// expression holding a co_await: they can be destroyed twice or not at all
// across the suspension. The services and the platform layer therefore await
// only plain names: every argument of an awaited call is a named local (or
// moved from one), and the awaited value is stored or returned as it is,
// never passed on inside the same expression. This reads their sources and
// names each expression that breaks the rule.

namespace {

QString withoutComments(const QString &source)
{
    static const QRegularExpression block(QStringLiteral("/\\*.*?\\*/"),
                                          QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression line(QStringLiteral("//[^\\n]*"));
    QString text = source;
    text.remove(block);
    text.remove(line);
    return text;
}

// Splits an argument list at its top-level commas.
QStringList topLevelArguments(const QString &list)
{
    QStringList arguments;
    int depth = 0;
    QString current;
    for (const QChar c : list) {
        if (c == QLatin1Char('(') || c == QLatin1Char('{') || c == QLatin1Char('<'))
            ++depth;
        else if (c == QLatin1Char(')') || c == QLatin1Char('}') || c == QLatin1Char('>'))
            --depth;
        if (c == QLatin1Char(',') && depth == 0) {
            arguments << current.trimmed();
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.trimmed().isEmpty())
        arguments << current.trimmed();
    return arguments;
}

bool isPlainArgument(const QString &argument)
{
    // A name, a name moved from, a number, a pointer to a member, or the
    // raw pointer of a named owner: none of them makes an object with a destructor.
    static const QRegularExpression plain(QStringLiteral(
        "^(?:[A-Za-z_]\\w*|std::move\\([A-Za-z_]\\w*\\)|\\d[\\d.]*|&[\\w:]+|[A-Za-z_]\\w*\\.get\\(\\))$"));
    return plain.match(argument).hasMatch();
}

// What is wrong with one statement holding a co_await, or nothing.
std::optional<QString> fault(const QString &statement)
{
    static const QRegularExpression shape(QStringLiteral(
        "^(?:if \\((?:(?!co_await).)*\\) )?"
        "(?:co_return |(?:const )?[\\w:<>, ]+ [A-Za-z_]\\w* = |[A-Za-z_][\\w.>-]* = )?"
        "co_await (.*);$"));
    const QRegularExpressionMatch match = shape.match(statement);
    if (!match.hasMatch())
        return QStringLiteral("the awaited value is used inside a larger expression");
    QString awaited = match.captured(1).trimmed();
    static const QRegularExpression name(QStringLiteral("^(?:std::move\\()?[A-Za-z_][\\w:]*\\)?$"));
    if (name.match(awaited).hasMatch())
        return std::nullopt;
    static const QRegularExpression call(QStringLiteral("^([A-Za-z_][\\w:.>-]*)\\((.*)\\)$"));
    const QRegularExpressionMatch callMatch = call.match(awaited);
    if (!callMatch.hasMatch())
        return QStringLiteral("the awaited expression is not a call on named values");
    for (const QString &argument : topLevelArguments(callMatch.captured(2))) {
        if (!isPlainArgument(argument))
            return QStringLiteral("the argument \"%1\" is built inside the co_await").arg(argument);
    }
    return std::nullopt;
}

QStringList faultsIn(const QString &source)
{
    const QString text = withoutComments(source);
    QStringList faults;
    qsizetype from = 0;
    while ((from = text.indexOf(QLatin1String("co_await"), from)) >= 0) {
        qsizetype begin = from;
        while (begin > 0 && text.at(begin - 1) != QLatin1Char(';') && text.at(begin - 1) != QLatin1Char('{')
               && text.at(begin - 1) != QLatin1Char('}'))
            --begin;
        const qsizetype end = text.indexOf(QLatin1Char(';'), from);
        const QString statement = text.mid(begin, end + 1 - begin).simplified();
        if (const auto why = fault(statement))
            faults << statement + QStringLiteral("  <- ") + *why;
        from = end < 0 ? text.size() : end + 1;
    }
    return faults;
}

} // namespace

class TestCoroutineExpressions : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The checker itself: it finds what it must and lets the rule's own form pass.
    void checker_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("faulty");

        QTest::newRow("named argument") << "const ToolResult r = co_await ToolRunner::run(request);" << false;
        QTest::newRow("moved argument") << "ToolResult r = co_await ToolRunner::run(std::move(request));" << false;
        QTest::newRow("several names and a number") << "const bool ok = co_await runAsync(path, args, 2.5);" << false;
        QTest::newRow("returned as it is") << "co_return co_await gatherAsync(std::move(inputs));" << false;
        QTest::newRow("awaited alone") << "co_await load();" << false;
        QTest::newRow("named awaitable") << "const QString report = co_await future;" << false;
        QTest::newRow("signal of an owner") << "co_await qCoro(run.get(), &ToolRun::completed);" << false;
        QTest::newRow("builder call as argument") << "const ToolResult r = co_await ToolRunner::run(listRequest(t));"
                                                  << true;
        QTest::newRow("dereferenced optional") << "const bool ok = co_await runAsync(*brew, args, t);" << true;
        QTest::newRow("factory as argument") << "co_return co_await gatherAsync(Inputs::current());" << true;
        QTest::newRow("braced list") << "co_await run({QStringLiteral(\"-p\")});" << true;
        QTest::newRow("result passed on") << "if (mentions(co_await runAsync(p, a, t), w))\n co_return true;" << true;
        QTest::newRow("across lines") << "const ToolResult r =\n    co_await ToolRunner::run(\n  make(x));" << true;
        QTest::newRow("awaited under a condition") << "if (!run->isDone())\n co_await qCoro(run.get(), &R::done);"
                                                   << false;
        QTest::newRow("comment ignored") << "// co_await run(make(x));\nco_await load();" << false;
    }

    void checker()
    {
        QFETCH(QString, source);
        QFETCH(bool, faulty);
        QCOMPARE(!faultsIn(source).isEmpty(), faulty);
    }

    void sourcesAwaitOnlyNamedValues_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("services") << QStringLiteral("services");
        QTest::newRow("platform") << QStringLiteral("platform");
    }

    void sourcesAwaitOnlyNamedValues()
    {
        QFETCH(QString, folder);
        const QDir dir(VarnoTest::sourcePath(QStringLiteral("dashboard/Sources/VARNO/") + folder));
        const QStringList files = dir.entryList({QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files);
        QVERIFY(!files.isEmpty());
        QStringList faults;
        int awaits = 0;
        for (const QString &file : files) {
            const QString source = QString::fromUtf8(VarnoTest::readFile(dir.filePath(file)));
            awaits += int(source.count(QLatin1String("co_await")));
            for (const QString &fault : faultsIn(source))
                faults << file + QStringLiteral(": ") + fault;
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
        QVERIFY(awaits > 0);
    }
};

VARNO_TEST_CLASS(TestCoroutineExpressions)
#include "tst_coawait.moc"
