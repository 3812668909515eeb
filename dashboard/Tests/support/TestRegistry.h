#pragma once

#include <QObject>

#include <functional>
#include <memory>

// Test classes register themselves with VARNO_TEST_CLASS(Class) in their .cpp;
// the suite's shared main runs every registered class with QTest::qExec.
// Set VARNO_TEST_CLASS=<Class> to run a single class (its arguments then work
// as usual: test function names, -v2, ...). VARNO_TEST_LIST=1 lists the
// registered classes, one a line, and runs none.
namespace VarnoTest {

using TestFactory = std::function<std::unique_ptr<QObject>()>;

bool registerTestClass(const char *name, TestFactory factory);

int runRegisteredTests(int argc, char **argv);

} // namespace VarnoTest

#define VARNO_TEST_CLASS(Class)                                                                      \
    namespace {                                                                                      \
    [[maybe_unused]] const bool varnoRegistered##Class = ::VarnoTest::registerTestClass(#Class, [] { \
        return std::make_unique<Class>();                                                            \
    });                                                                                              \
    }
