// Climalog: loads the network access library from its own folder, shows the
// splash and runs the main window's start-up.
#include "netaccess/binding.h"
#include "platform/clock.h"
#include "platform/qtplatform.h"
#include "registry/general.h"
#include "shell/logo.h"
#include "shell/principal.h"

#include <QApplication>
#include <QStringList>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#else
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onTerminate(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[0], &byte, 1);
}

// A request to end from the system (logout, shutdown, kill) or Ctrl+C in the
// terminal that started the program closes the main window as its close box
// would, so the configuration question and the closing of the connection
// still happen.
void closeOnTerminate(QWidget &window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char byte;
        [[maybe_unused]] const auto got = ::read(signalPipe[1], &byte, 1);
        window.close();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

}
#endif

// The command line exactly as typed, program name left out. The toolkit
// never sees it: its own options (-style, -platform, ...) would otherwise be
// taken out of it, or end the program with a message of their own.
static QString lineaDeOrdenes(int argc, char *argv[])
{
#ifdef _WIN32
    (void)argc;
    (void)argv;
    int count = 0;
    LPWSTR *args = CommandLineToArgvW(GetCommandLineW(), &count);
    QStringList words;
    for (int k = 1; k < count; ++k)
        words << QString::fromWCharArray(args[k]);
    LocalFree(args);
    return words.join(QLatin1Char(' '));
#else
    QStringList words;
    for (int k = 1; k < argc; ++k)
        words << QString::fromLocal8Bit(argv[k]);
    return words.join(QLatin1Char(' '));
#endif
}

int main(int argc, char *argv[])
{
    const QString commandLine = lineaDeOrdenes(argc, argv);
    int toolkitArgc = 1;
    char *toolkitArgv[] = {argv[0], nullptr};
    QApplication app(toolkitArgc, toolkitArgv);
    QApplication::setApplicationName(QStringLiteral("Climalog"));
    cargaTraducciones();
    QtMessages messages;
    QtExplorer explorer;
    SystemClock clock;

    General g;
    g.appFolder = QCoreApplication::applicationDirPath();
    QString error;
    std::unique_ptr<SondaIO> io = SondaIO::load(g.appFolder, &error);
    if (!io) {
        messages.show(error + QStringLiteral("\r\nEl programa no puede continuar."));
        return 1;
    }

    // The program ends at once: no further handler runs.
    auto salir = [](int code) {
        std::fflush(nullptr);
        std::exit(code);
    };
    principal window(g, io.get(), {clock, messages, explorer, salir, nullptr});
    logo splash(clock, [&] {
        if (!window.Form_Load(commandLine, [&splash](int k, int n) { splash.avance(k, n); }))
            salir(0);
        window.show();
    });
#ifndef _WIN32
    closeOnTerminate(window);
#endif
    splash.show();
    return app.exec();
}
