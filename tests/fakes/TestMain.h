#pragma once

#include <QList>
#include <QObject>

#include <functional>
#include <memory>

// One test program runs several test classes, so each part of the program
// has one program's scaffolding, not one per class.
using TestFactory = std::function<std::unique_ptr<QObject>()>;
QList<TestFactory>& testRegistry();

template <typename Test> struct RegisterTest
{
    RegisterTest() { testRegistry().append([] { return std::make_unique<Test>(); }); }
};

#define TARVEX_TEST(Class) static const RegisterTest<Class> registered##Class;
