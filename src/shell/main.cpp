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

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Climalog"));
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

    const QString commandLine = QCoreApplication::arguments().mid(1).join(QLatin1Char(' '));
    // The program ends at once: no further handler runs.
    auto salir = [](int code) {
        std::fflush(nullptr);
        std::exit(code);
    };
    principal window(g, io.get(), {clock, messages, explorer, salir, nullptr});
    logo splash(clock, [&] {
        if (!window.Form_Load(commandLine))
            salir(0);
        window.show();
    });
    splash.show();
    return app.exec();
}
