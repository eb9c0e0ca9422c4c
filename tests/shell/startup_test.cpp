// Start-up and shutdown of the main window: the command line, the port
// and its window, the splash, the save question and the connection's end.
#include "registry/configfile.h"
#include "shell/cmdline.h"
#include "shell/inicio.h"
#include "shell/logo.h"
#include "shell/running.h"
#include "support/controls.h"

#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

// The forms the runs of StartUp below do not take ("", /0, /5, /test, /cap /1).
TEST(CommandLine, everyFormOfTheTable)
{
    using P = Orden::Puerto;
    const struct {
        const char *line;
        P puerto;
        int numero;
        bool captura;
    } rows[] = {
        {"/4", P::Numero, 4, false},
        {"/test /cap", P::Rechazo, 0, true},
        {"  /2/Cap  ", P::Numero, 2, true},
        {"/X", P::SinConexion, 0, false},
        {"12", P::Rechazo, 0, false},
        {"/\xef\xbc\x92", P::SinConexion, 0, false}, // a full-width digit
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.line);
        const Orden o = interpreta(QString::fromUtf8(row.line));
        EXPECT_EQ(std::tuple(o.puerto, o.numero, o.captura),
                  std::tuple(row.puerto, row.numero, row.captura));
    }
}

long calls(const char *call)
{
    long n = 0;
    for (int port = 0; port < 4; ++port)
        n += sim::callCount(port, nullptr, call);
    return n;
}

// A run from start-up to the end: the command line, the configuration
// files, the port and its window; then a change or none, and Fin or the
// close box with the answers to its questions.
struct Session {
    const char *name;
    const char *line = "/1";
    std::vector<int> configs = {}; // configN.ini files in the folder
    bool silent = false; // COM2 answers nothing: the library leaves no text
    int choose = -1; // the port window: the entry picked; -1 never shown
    std::vector<Messages::Answer> answers = {};
    bool changed = false, saveFails = false, closeBox = false;
    bool capturing = false;
    const char *caption = "Climalog [COM1]"; // "Climalog": it ended at start-up
    QStringList messages = {}; // "…" first: only their ends
    int tries = 1; // IniciarCNX calls
    bool ends = true; // the program ended when asked to
    bool saved = false;
    bool reload =
        false; // "&Cargar" once the window is up, the file's sequence number spoilt meanwhile
};

TEST(StartUp, fromTheCommandLineToTheEnd)
{
    using A = Messages::Answer;
    const QString refused =
        u"Error al intentar acceder en ese puerto\r\n¿ Continuar de todos modos ?"_s;
    const QString ask = u"Los cambios se perderan.\r\n¿Desea salvar la configuración?"_s;
    const QString stay = u"…\r\n¿Desea terminar sin salvar la configuración?"_s;
    const Session runs[] = {
        {.name = "refused port",
         .line = "/3",
         .caption = "Climalog",
         .messages = {u"No se puede abrir el puerto COM3: no hay respuesta de la red"_s}},
        {.name = "silent port",
         .line = "/2",
         .silent = true,
         .caption = "Climalog",
         .messages = {u"No se puede abrir el puerto COM2."_s}},
        {.name = "unconnected", .line = "/0", .configs = {1}, .caption = "Climalog []", .tries = 0},
        {.name = "the only configuration",
         .line = "",
         .configs = {2},
         .caption = "Climalog [COM2]"},
        {.name = "capture",
         .line = "/cap /1",
         .capturing = true,
         .caption = "Climalog [COM1] - 07-12-2026-00.log"},
        {.name = "two configurations, window",
         .line = "",
         .configs = {1, 4},
         .choose = 1,
         .caption = "Climalog [COM2]"},
        {.name = "window, refused, go on",
         .line = "/test",
         .choose = 2,
         .answers = {A::Yes},
         .caption = "Climalog [COM3]",
         .messages = {refused}},
        {.name = "usage /5",
         .line = "/5",
         .caption = "Climalog",
         .messages = {usoTexto()},
         .tries = 0},
        {.name = "changed: yes saves",
         .answers = {A::Yes},
         .changed = true,
         .messages = {ask},
         .saved = true},
        {.name = "close box",
         .answers = {A::No},
         .changed = true,
         .closeBox = true,
         .messages = {ask}},
        {.name = "failed save: stays",
         .answers = {A::Yes, A::No},
         .changed = true,
         .saveFails = true,
         .messages = {ask, stay},
         .ends = false},
        {.name = "failed save: ends",
         .answers = {A::Yes, A::Yes},
         .changed = true,
         .saveFails = true,
         .messages = {ask, stay}},
        {.name = "a load once up says what it found",
         .configs = {1},
         .messages = {u"…no es válido; se usa 00."_s},
         .reload = true},
    };
    for (const Session &run : runs) {
        SCOPED_TRACE(run.name);
        Running f(nullptr);
        sim::silent(1, run.silent);
        for (int n : run.configs)
            f.folder.write(u"config%1.ini"_s.arg(n), QByteArray("00").leftJustified(140, ' '));
        for (A a : run.answers)
            f.messages.answer(a);
        f.choosePort = [&] {
            inicio p(f.g, f.io.get(), f.messages);
            p.show();
            p.RSport->setCurrentIndex(run.choose);
            emit p.RSport->activated(run.choose);
            QTest::mouseClick(p.iniciar, Qt::LeftButton);
            EXPECT_TRUE(p.isHidden());
        };
        const bool started = f.start(QString::fromLatin1(run.line));
        EXPECT_EQ(started, QByteArray(run.caption) != "Climalog");
        EXPECT_EQ(f.window->windowTitle(), QString::fromLatin1(run.caption));
        EXPECT_EQ(calls("IniciarCNX"), run.tries);
        // Connected when it runs on a port that did not refuse.
        const int com = QString::fromLatin1(run.caption).section(u"COM"_s, 1).left(1).toInt();
        const bool connected = started && com > 0 && run.messages.value(0) != refused;
        EXPECT_EQ(f.g.conectado, connected);
        if (started) {
            // Unconnected runs use the first port's file and the program's
            // folder, two separators on, for captures.
            EXPECT_EQ(f.g.configPath(), f.folder.file(u"config%1.ini"_s.arg(std::max(com, 1))));
            EXPECT_EQ(f.g.carpeta,
                      f.folder.path() + u"/%1/"_s.arg(com ? QString::number(com) : QString()));
            // No devices: the pane is open, unless a capture closed it.
            EXPECT_EQ(control<QAction>(*f.window, "mnueditar")->isChecked() &&
                          !control<QGroupBox>(*f.window, "Nsensor")->isHidden(),
                      !run.capturing);
            if (run.changed)
                f.add("Sala", "STT28A3F2C501080011");
            if (run.reload) {
                f.folder.write(u"config1.ini"_s, QByteArray("7").leftJustified(140, ' '));
                f.window->cargar_Click();
            }
            // A folder where the file should be: the save cannot replace it.
            if (run.saveFails)
                QDir(f.folder.path()).mkdir(u"config1.ini"_s);
            if (run.closeBox) {
                f.window->show();
                f.window->close();
                EXPECT_EQ(f.window->isVisible(), !run.ends);
            } else {
                f.window->fin_Click();
            }
            EXPECT_EQ(f.exitCodes, run.ends ? std::vector<int>{0} : std::vector<int>{});
            EXPECT_EQ(f.folder.read(u"config1.ini"_s).contains("Sala"), run.saved);
            EXPECT_EQ(f.g.modificado, run.changed && !run.saved);
        }
        ASSERT_EQ(f.messages.texts.size(), run.messages.size())
            << f.messages.texts.join(u'|').toStdString();
        for (qsizetype k = 0; k < run.messages.size(); ++k) {
            const QString &m = run.messages[k];
            EXPECT_TRUE(m.startsWith(u'…') ? f.messages.texts[k].endsWith(m.mid(1))
                                           : f.messages.texts[k] == m)
                << k;
        }
        // The connection ends with the program only when it was made.
        EXPECT_EQ(calls("FinalizarCNX"), connected && run.ends ? 1 : 0);
    }
}

// A steady counter that moves an eighth of a second per reading.
class SteppingClock final : public Clock {
public:
    QDateTime now() const override { return {}; }
    double elapsed() const override { return ++reads / 8.0; }
    mutable int reads = 0;
};

// The splash waits just over a second, then the first tick runs behind it
// and it says which read is under way.
TEST(Splash, waitsASecondThenSaysWhichReadTheFirstTickIsAt)
{
    MainFixture f;
    General table;
    addDevice(table, {STT, "D1"});
    addDevice(table, {STT, "D2"});
    f.folder.write(u"config1.ini"_s, configfile::encode(table.dispositivos));
    SteppingClock clock;
    logo splash(clock, [&] {
        EXPECT_TRUE(f.window->Form_Load(u"/1"_s, [&](int k, int n) { splash.avance(k, n); }));
    });
    splash.show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(splash.isHidden());
    // t0, then readings until more than one second has passed.
    EXPECT_EQ(clock.reads, 10);
    EXPECT_EQ(splash.estado->text(), u"Leyendo dispositivos… 2 de 2"_s);
}

}
