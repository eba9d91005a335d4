#pragma once

// Shared by the tests of the AI commands through the real main window: a fresh
// window for each test function, with scripted prompts and cleared settings.

#include "MainWindowTestAccess.h"
#include "QmTest.h"
#include "ScriptedPrompts.h"

#include "app/MainWindow.h"

#include <QSettings>
#include <QtTest>

#include <memory>

namespace AiCommandTest {

// Derive the test object from it; call open() in init() and close() in cleanup().
class WindowFixture {
protected:
    void open()
    {
        QSettings().clear();
        prompts.calls.clear();
        prompts.answers.clear();
        Quillmark::Prompts::setOverride(&prompts);
        window = std::make_unique<Quillmark::MainWindow>();
        access = std::make_unique<Quillmark::MainWindowTestAccess>(*window);
        window->show();
    }

    void close()
    {
        access.reset();
        window.reset();
        Quillmark::Prompts::setOverride(nullptr);
    }

    // Waits until the AI run in progress has ended (or fails the test).
    void waitForRunEnd() { QTRY_VERIFY_WITH_TIMEOUT(!window->isAiBatchRunning(), QmTest::patienceMs); }

    // Waits until every model file being opened has been taken in.
    void waitForModelLoads() { QTRY_VERIFY_WITH_TIMEOUT(!window->isModelLoading(), QmTest::patienceMs); }

    QmTest::ScriptedPrompts prompts;
    std::unique_ptr<Quillmark::MainWindow> window;
    std::unique_ptr<Quillmark::MainWindowTestAccess> access;
};

} // namespace AiCommandTest
