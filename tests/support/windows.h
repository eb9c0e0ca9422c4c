// Window tests: one application object for the whole test program, on the
// offscreen platform, and a main window wired to scripted platform pieces.
#pragma once

#include "netaccess/binding.h"
#include "shell/principal.h"
#include "support/support.h"

#include <QApplication>
#include <gtest/gtest.h>

inline QApplication &application()
{
    static char name[] = "climalog-test";
#ifdef _WIN32
    // Under wine the platform variable does not reach the program; the
    // command line does.
    static char option[] = "-platform";
    static char offscreen[] = "offscreen";
    static char *argv[] = {name, option, offscreen, nullptr};
#else
    static char *argv[] = {name, nullptr};
#endif
    static int argc = int(std::size(argv)) - 1;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never destroyed: at exit Qt's own input devices are gone before a
    // static application object would be.
    static QApplication *app = new QApplication(argc, argv);
    return *app;
}

struct RecordingExplorer final : Explorer {
    void open(const QString &folder) override { folders << folder; }
    QStringList folders;
};

// A main window on a temporary application folder and the real simulator
// library, with scripted message boxes and a clock the test steps.
struct MainFixture {
    MainFixture()
    {
        application();
        g.appFolder = folder.path();
        QString error;
        io = SondaIO::load(binFolder(), &error);
        EXPECT_TRUE(io) << error.toStdString();
        sim::load(nullptr);
        window = std::make_unique<principal>(
            g, io.get(),
            principal::Platform{clock, messages, explorer,
                                [this](int code) { exitCodes.push_back(code); },
                                [this] {
                                    if (choosePort)
                                        choosePort();
                                }});
    }
    // Start-up with the port window left to the test.
    bool start(const QString &commandLine) { return window->Form_Load(commandLine); }

    TempFolder folder;
    General g;
    std::unique_ptr<SondaIO> io;
    TestClock clock;
    ScriptedMessages messages;
    RecordingExplorer explorer;
    std::vector<int> exitCodes;
    std::function<void()> choosePort;
    std::unique_ptr<principal> window;
};
