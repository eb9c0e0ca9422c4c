#include "shell/cmdline.h"
#include "shell/inicio.h"
#include "support/windows.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

// A configuration file holding entry 0 alone, built from the record layout.
QByteArray emptyConfig()
{
    QByteArray record(140, '\0');
    record.replace(0, 16, QByteArray("00              "));
    return record;
}

long iniciarCalls(int port) { return sim::callCount(port, nullptr, "IniciarCNX"); }

TEST(StartUp, namedPortConnectsAndShowsItsCaption)
{
    MainFixture f;
    ASSERT_TRUE(f.start(QStringLiteral("/2")));
    EXPECT_EQ(f.window->windowTitle(), QStringLiteral("Climalog [COM2]"));
    EXPECT_EQ(f.g.puerto, 1);
    EXPECT_TRUE(f.g.conectado);
    EXPECT_TRUE(f.messages.texts.isEmpty());
    // No configuration: the pane opens and the list is empty.
    EXPECT_TRUE(f.window->mnueditar->isChecked());
    EXPECT_FALSE(f.window->Nsensor->isHidden());
    EXPECT_EQ(f.g.carpeta, f.folder.path() + QStringLiteral("/2/"));
    ASSERT_EQ(f.window->titulo->count(), 1);
    EXPECT_EQ(f.window->titulo->item(0)->text(), QStringLiteral("Tipo  Nombre            N. Serie          Datos"));
    EXPECT_EQ(f.window->titulo->item(0)->text().size(), 47);
    ASSERT_EQ(f.window->lblalarmas->count(), 1);
    EXPECT_EQ(f.window->lblalarmas->item(0)->text(), QStringLiteral("Alarmas"));
}

TEST(StartUp, rejectedCommandLinesShowTheUsageMessageAndEnd)
{
    for (const char *line : {"/5", "12", "/22", "/CAPX", "/test /cap", "/cap /test"}) {
        SCOPED_TRACE(line);
        MainFixture f;
        EXPECT_FALSE(f.start(QString::fromLatin1(line)));
        ASSERT_EQ(f.messages.texts.size(), 1);
        EXPECT_EQ(f.messages.texts[0], usoTexto());
        EXPECT_EQ(f.messages.buttons[0], Messages::Buttons::Ok);
        EXPECT_EQ(iniciarCalls(0) + iniciarCalls(1) + iniciarCalls(2) + iniciarCalls(3), 0);
    }
}

TEST(StartUp, failedConnectionShowsTheLibraryMessageAndEnds)
{
    struct Row {
        const char *commandLine;
        bool silent; // the port does not answer: the library leaves no text
        const char *message;
    };
    const Row rows[] = {
        {"/3", false, "No se puede abrir el puerto COM3: no hay respuesta de la red"},
        {"/2", true, "No se puede abrir el puerto COM2."},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.commandLine);
        MainFixture f;
        sim::silent(1, row.silent);
        bool windowShown = false;
        f.choosePort = [&] { windowShown = true; };
        EXPECT_FALSE(f.start(QString::fromLatin1(row.commandLine)));
        EXPECT_EQ(f.messages.texts, QStringList{QString::fromUtf8(row.message)});
        EXPECT_FALSE(windowShown);
        EXPECT_EQ(f.g.puerto, -1);
        sim::silent(1, false);
    }
}

TEST(StartUp, noConnectionFormsStartUnconnected)
{
    for (const char *line : {"/0", "/X"}) {
        SCOPED_TRACE(line);
        MainFixture f;
        f.folder.write(QStringLiteral("config1.ini"), emptyConfig());
        ASSERT_TRUE(f.start(QString::fromLatin1(line)));
        EXPECT_EQ(f.window->windowTitle(), QStringLiteral("Climalog []"));
        EXPECT_EQ(f.g.puerto, 0);
        EXPECT_FALSE(f.g.conectado);
        EXPECT_EQ(iniciarCalls(0), 0);
        EXPECT_EQ(f.g.configPath(), f.folder.file(QStringLiteral("config1.ini")));
        // The capture folder is the application folder, two separators on.
        EXPECT_EQ(f.g.carpeta, f.folder.path() + QStringLiteral("//"));
    }
}

TEST(StartUp, automaticChoiceFollowsTheConfigurationFiles)
{
    struct Row {
        const char *name;
        std::vector<int> files;
        bool windowExpected;
        int port;
    };
    const Row rows[] = {
        {"none", {}, true, -1},
        {"onlyConfig2", {2}, false, 1},
        {"twoFiles", {1, 4}, true, -1},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        MainFixture f;
        for (int n : row.files)
            f.folder.write(QStringLiteral("config%1.ini").arg(n), emptyConfig());
        bool windowShown = false;
        f.choosePort = [&] { windowShown = true; };
        const bool started = f.start(QString());
        EXPECT_EQ(windowShown, row.windowExpected);
        EXPECT_EQ(started, !row.windowExpected);
        EXPECT_EQ(f.g.puerto, row.port);
        EXPECT_TRUE(f.messages.texts.isEmpty());
    }
}

TEST(StartUp, configuredDevicesCloseThePane)
{
    MainFixture f;
    QByteArray file = emptyConfig();
    QByteArray device(140, '\0');
    device.replace(0, 16, QByteArray("Sala            "));
    const Serial serial = sn("28A3F2C501080011");
    device.replace(16, 8, QByteArray(reinterpret_cast<const char *>(serial.data()), 8));
    device[24] = 1; // STT
    device[138] = 1; // period 1 s
    file += device;
    f.folder.write(QStringLiteral("config1.ini"), file);
    ASSERT_TRUE(f.start(QStringLiteral("/1")));
    EXPECT_EQ(f.g.n(), 1);
    EXPECT_FALSE(f.window->mnueditar->isChecked());
    EXPECT_TRUE(f.window->Nsensor->isHidden());
    // The first polling cycle ran during start-up.
    EXPECT_EQ(sim::callCount(0, &serial, "LeerTemperatura"), 1);
}

TEST(StartUp, mainWindowHasTheWholeMenuBar)
{
    MainFixture f;
    ASSERT_TRUE(f.start(QStringLiteral("/1")));
    QStringList menus;
    for (QAction *a : f.window->menuBar()->actions()) {
        QStringList items;
        for (QAction *item : a->menu()->actions())
            items << item->text() + (item->shortcut().isEmpty() ? QString() : QStringLiteral(" ") + item->shortcut().toString());
        menus << a->text() + QStringLiteral(": ") + items.join(QStringLiteral(", "));
    }
    EXPECT_EQ(menus, (QStringList{
                         QStringLiteral("&Fichero: &Salvar Ctrl+S, &Cargar Ctrl+C, &Fin"),
                         QStringLiteral("&Edicion: &Editar Ctrl+E, &Buscar Dispositivos"),
                         QStringLiteral("&Captura: &Capturar, &Ver capturas, &Gráficas"),
                         QStringLiteral("&Ayuda: &Acerca de Climalog"),
                     }));
}

// The port selection window driven as a user would.
struct PortWindow {
    explicit PortWindow(MainFixture &f) : window(f.g, f.io.get(), f.messages) {}
    void choose(int position)
    {
        window.RSport->setCurrentIndex(position);
        emit window.RSport->activated(position);
    }
    inicio window;
};

TEST(PortWindow, startsDisabledAndListsTheFourPorts)
{
    MainFixture f;
    PortWindow p(f);
    EXPECT_EQ(p.window.windowTitle(), QStringLiteral("Climalog - Inicio"));
    ASSERT_EQ(p.window.RSport->count(), 4);
    EXPECT_EQ(p.window.RSport->itemText(0), QStringLiteral("COM1"));
    EXPECT_EQ(p.window.RSport->itemText(3), QStringLiteral("COM4"));
    EXPECT_EQ(p.window.RSport->currentText(), QStringLiteral("Puerto"));
    QTest::keyClicks(p.window.RSport->lineEdit(), QStringLiteral("COM2"));
    EXPECT_FALSE(p.window.iniciar->isEnabled());
    p.choose(2);
    EXPECT_TRUE(p.window.iniciar->isEnabled());
}

TEST(PortWindow, outcomesOfTheConnection)
{
    struct Row {
        const char *name;
        int position;
        Messages::Answer answer;
        bool started;
        int port;
        bool connected;
        const char *caption;
    };
    const Row rows[] = {
        {"com3Refused_yesKeepsTheChosenPort", 2, Messages::Answer::Yes, true, 2, false, "Climalog [COM3]"},
        {"com3Refused_noEnds", 2, Messages::Answer::No, false, -1, false, ""},
        {"com2Connects", 1, Messages::Answer::Yes, true, 1, true, "Climalog [COM2]"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        MainFixture f;
        f.messages.answer(row.answer);
        f.choosePort = [&] {
            PortWindow p(f);
            p.window.show();
            p.choose(row.position);
            QTest::mouseClick(p.window.iniciar, Qt::LeftButton);
            EXPECT_TRUE(p.window.isHidden());
        };
        EXPECT_EQ(f.start(QStringLiteral("/test")), row.started);
        EXPECT_EQ(f.g.puerto, row.port);
        EXPECT_EQ(f.g.conectado, row.connected);
        if (row.started) {
            EXPECT_EQ(f.window->windowTitle(), QString::fromLatin1(row.caption));
        }
        if (!row.connected) {
            ASSERT_EQ(f.messages.texts.size(), 1);
            EXPECT_EQ(f.messages.texts[0],
                      QStringLiteral("Error al intentar acceder en ese puerto\r\n¿ Continuar de todos modos ?"));
            EXPECT_EQ(f.messages.buttons[0], Messages::Buttons::YesNo);
            EXPECT_EQ(f.messages.icons[0], Messages::Icon::Information);
        }
        if (row.started && !row.connected) {
            // The configuration file of the chosen port, not another one's.
            EXPECT_EQ(f.g.configPath(), f.folder.file(QStringLiteral("config3.ini")));
        }
    }
}

TEST(PortWindow, closingWithoutAPortEndsSilently)
{
    MainFixture f;
    f.choosePort = [&] {
        PortWindow p(f);
        p.window.show();
        p.window.close();
    };
    EXPECT_FALSE(f.start(QStringLiteral("/test")));
    EXPECT_TRUE(f.messages.texts.isEmpty());
}

}
