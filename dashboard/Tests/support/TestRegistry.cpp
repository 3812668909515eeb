#include "TestRegistry.h"

#include <QList>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {

struct Entry {
    QByteArray name;
    VarnoTest::TestFactory factory;
};

QList<Entry> &entries()
{
    static QList<Entry> list;
    return list;
}

} // namespace

namespace VarnoTest {

bool registerTestClass(const char *name, TestFactory factory)
{
    entries().append({QByteArray(name), std::move(factory)});
    return true;
}

int runRegisteredTests(int argc, char **argv)
{
    QList<Entry> all = entries();
    std::sort(all.begin(), all.end(), [](const Entry &a, const Entry &b) { return a.name < b.name; });

    // The build checks that CTest has a test for every class registered.
    if (qEnvironmentVariableIsSet("VARNO_TEST_LIST")) {
        for (const Entry &entry : std::as_const(all))
            std::printf("%s\n", entry.name.constData());
        return 0;
    }

    // QtTest's own crash handler can deadlock (it forks from a signal
    // handler) or print without end after an abort; a crash must simply end
    // the program so that CTest reports it.
    QList<char *> arguments;
    arguments.append(argc > 0 ? argv[0] : const_cast<char *>("test"));
    static char noCrashHandler[] = "-nocrashhandler";
    arguments.append(noCrashHandler);
    for (int i = 1; i < argc; ++i)
        arguments.append(argv[i]);
    arguments.append(nullptr);
    const int fullCount = int(arguments.size()) - 1;

    const QByteArray only = qgetenv("VARNO_TEST_CLASS");
    int failed = 0;
    int ran = 0;
    for (const Entry &entry : std::as_const(all)) {
        if (!only.isEmpty() && entry.name != only)
            continue;
        ++ran;
        std::unique_ptr<QObject> test = entry.factory();
        // Function names on the command line only make sense for one class.
        const int status = only.isEmpty() ? QTest::qExec(test.get(), 2, arguments.data())
                                          : QTest::qExec(test.get(), fullCount, arguments.data());
        if (status != 0)
            ++failed;
    }
    if (ran == 0) {
        std::fprintf(stderr, "No test class ran%s.\n",
                     only.isEmpty() ? ""
                                    : qPrintable(QStringLiteral(" (none is named %1)").arg(QString::fromUtf8(only))));
        return 1;
    }
    std::fprintf(stderr, "%d of %d test classes failed.\n", failed, ran);
    return failed == 0 ? 0 : 1;
}

} // namespace VarnoTest
