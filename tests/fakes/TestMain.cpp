#include "TestMain.h"

#include <QTest>

#ifdef TARVEX_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

QList<TestFactory>& testRegistry()
{
    static QList<TestFactory> tests;
    return tests;
}

int main(int argc, char* argv[])
{
    TestApplication app(argc, argv);
    int failed = 0;
    for (const TestFactory& make : testRegistry()) {
        const std::unique_ptr<QObject> test = make();
        failed += QTest::qExec(test.get(), argc, argv);
    }
    return failed;
}
