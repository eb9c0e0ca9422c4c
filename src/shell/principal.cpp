#include "shell/principal.h"

#include "dialogs/avanzado.h"
#include "dialogs/buscar.h"
#include "monitor/capture.h"
#include "monitor/lines.h"
#include "monitor/monitor.h"
#include "monitor/sensoresmodel.h"
#include "netaccess/binding.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/qtplatform.h"
#include "registry/configfile.h"
#include "registry/general.h"
#include "shell/cmdline.h"
#include "shell/inicio.h"
#include "shell/portlock.h"
#include "shell/startup.h"
#include "viewer/graficas.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>

#include <utility>

// The polling core's view of this window. Rebuilds asked for by the tick run
// under the list refresh flag, so the list's click handler ignores them.
class principal::View final : public MainView {
public:
    explicit View(principal &w) : w_(w) {}
    void setTimerEnabled(bool enabled) override
    {
        // A tick starts by disabling the timer: its first yield always
        // services the window.
        if (!enabled)
            w_.yielded_.invalidate();
        w_.timerEnabled_ = enabled;
        w_.applyTimer();
    }
    void setTimerInterval(int milliseconds) override
    {
        w_.timerInterval_ = milliseconds;
        w_.applyTimer();
    }
    void actualizando() override
    {
        w_.refrescando_ = true;
        w_.actualizando();
        w_.refrescando_ = false;
    }
    void listado() override
    {
        w_.refrescando_ = true;
        w_.listado();
        w_.refrescando_ = false;
    }
    // Pending events are handled at least every few milliseconds; handling
    // them after each of thousands of quick reads would spend the tick
    // repainting the list. A slow read yields every time.
    void yieldEvents() override
    {
        if (w_.yielded_.isValid() && w_.yielded_.elapsed() < yieldSpacingMs)
            return;
        QCoreApplication::processEvents();
        w_.yielded_.start();
    }
    // The relay writes follow one another with no user action between
    // them; painting and timers may run.
    void repinta() override
    {
        if (w_.yielded_.isValid() && w_.yielded_.elapsed() < yieldSpacingMs)
            return;
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        w_.yielded_.start();
    }
    void leyendo(int k, int n) override
    {
        if (w_.progreso_)
            w_.progreso_(k, n);
    }
    void showAlarmas(const QStringList &lines) override { w_.showAlarmas(lines); }
    void setCaption(const QString &caption) override { w_.setWindowTitle(caption); }

private:
    static constexpr int yieldSpacingMs = 10;
    principal &w_;
};

namespace {

// The library message as a text to show: it ends at its first zero byte.
QString messageText(const FixedText<100> &mensaje)
{
    const QString text = mensaje.text();
    const qsizetype end = text.indexOf(QChar(u'\0'));
    return end < 0 ? text : text.left(end);
}

}

principal::principal(General &g, SondaIO *io, Platform platform, QWidget *parent)
    : QMainWindow(parent), g_(g), io_(io), platform_(std::move(platform)),
      view_(std::make_unique<View>(*this))
{
    applyProgramFont(this);
    monitor_ = std::make_unique<Monitor>(g_, io_, platform_.clock, *view_);
    monitor_->onFatal = [this](const QString &) {
        if (g_.conectado && io_)
            io_->FinalizarCNX(g_.puerto, g_.mensaje);
        endProgram(1);
    };
    captura_ = std::make_unique<Captura>(g_, platform_.clock);
    // The tick never waits for the disk: a line that cannot be written waits
    // in memory, and the user is asked once the tick is over.
    monitor_->onCapture = [this](const QString &hora) {
        const Captura::Escritura r = captura_->escribe(hora);
        if (r.renombrado)
            setCaption();
        if (r.estado == Captura::Estado::Escrito)
            return;
        // Relays and readings go on without the capture.
        if (r.estado == Captura::Estado::Fallo)
            stopCapture();
        failedWrite_ = r;
    };
    // The name column's width is measured in this window's own font.
    const QFontMetricsF metrics(font());
    model_ = std::make_unique<SensoresModel>(g_, io_, [this, metrics](const QString &name16) {
        return metrics.horizontalAdvance(name16) * 1440.0 / logicalDpiX() < 1300.0;
    });

    setCentralWidget(new QWidget(this));
    buildMenus();
    buildPane();
    buildLists();
    setDesignSize();
    centralWidget()->installEventFilter(this);
    setWindowTitle(QStringLiteral("Climalog"));

    Timer1 = new QTimer(this);
    Timer1->setInterval(3000);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
    nameControls();
}

principal::~principal() = default;

void principal::buildMenus()
{
    fichero = menuBar()->addMenu(QStringLiteral("&Fichero"));
    salvar = fichero->addAction(QStringLiteral("&Salvar"), this, [this] { salvar_Click(); });
    salvar->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    cargar = fichero->addAction(QStringLiteral("&Cargar"), this, [this] { cargar_Click(); });
    cargar->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    fin = fichero->addAction(QStringLiteral("&Fin"), this, [this] { fin_Click(); });

    edicion = menuBar()->addMenu(QStringLiteral("&Edicion"));
    // The check marks are the handlers' to set: undo the toolkit's own
    // toggle before the handler runs.
    mnueditar = edicion->addAction(QStringLiteral("&Editar"), this, [this] {
        mnueditar->setChecked(!mnueditar->isChecked());
        mnueditar_Click();
    });
    mnueditar->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    mnueditar->setCheckable(true);
    mnubuscar = edicion->addAction(QStringLiteral("&Buscar Dispositivos"), this,
                                   [this] { mnubuscar_Click(); });

    captura = menuBar()->addMenu(QStringLiteral("&Captura"));
    mnucapturar = captura->addAction(QStringLiteral("&Capturar"), this, [this] {
        mnucapturar->setChecked(!mnucapturar->isChecked());
        mnucapturar_Click();
    });
    mnucapturar->setCheckable(true);
    mnuver = captura->addAction(QStringLiteral("&Ver capturas"), this, [this] { mnuver_Click(); });
    // Only reads the capture files: always available, during a capture too.
    mnugraficas =
        captura->addAction(QStringLiteral("&Gráficas"), this, [this] { mnugraficas_Click(); });

    ayuda = menuBar()->addMenu(QStringLiteral("&Ayuda"));
    mnuabout =
        ayuda->addAction(QStringLiteral("&Acerca de Climalog"), this, [this] { mnuabout_Click(); });
}

// The menus' shortcuts win over the boxes' own keys (Ctrl+C copies, Ctrl+E
// goes to the end of the line): the box is told the key is not its own.
bool principal::isMenuShortcut(QObject *watched, QEvent *event) const
{
    auto *widget = qobject_cast<QWidget *>(watched);
    if (event->type() != QEvent::ShortcutOverride || !widget || widget->window() != this)
        return false;
    const QKeySequence pressed(static_cast<QKeyEvent *>(event)->keyCombination());
    for (QMenu *menu : {fichero, edicion, captura, ayuda}) {
        if (!menu->isEnabled())
            continue;
        for (const QAction *action : menu->actions())
            if (action->isEnabled() && !action->shortcut().isEmpty() &&
                action->shortcut() == pressed)
                return true;
    }
    return false;
}

bool principal::eventFilter(QObject *watched, QEvent *event)
{
    if (isMenuShortcut(watched, event)) {
        event->ignore();
        return true;
    }
    if (event->type() == QEvent::FocusIn && (watched == nombre || watched == SN)) {
        auto *box = static_cast<QLineEdit *>(watched);
        QTimer::singleShot(0, box, [box] { box->selectAll(); });
    }
    if (watched == menuBar() && event->type() == QEvent::Shortcut && Avan->isVisible() &&
        Avan->isEnabled() &&
        static_cast<QShortcutEvent *>(event)->key() == QKeySequence(Qt::ALT | Qt::Key_A)) {
        Avan->animateClick();
        return true;
    }
    if (watched == centralWidget() && event->type() == QEvent::Resize)
        fitLists();
    if (watched == Sensores && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Delete) {
            Sensores_KeyDown(deleteKey, 0);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- Start-up ------------------------------------------------------------

bool principal::Form_Load(const QString &commandLine, std::function<void(int, int)> progreso)
{
    g_.vacia();
    g_.separador = QStringLiteral("  ");
    g_.intervalo = Timer1->interval();
    g_.puerto = -2;
    titulo->clear();
    titulo->addItem(listHeader(g_.separador));
    lblalarmas->clear();
    lblalarmas->addItem(QStringLiteral("Alarmas"));

    const Orden orden = interpreta(commandLine);
    // One program per configuration file: a second one would save over the
    // first one's table and capture into its files. It says so and ends,
    // before it connects.
    auto reserva = [this](int index) {
        if (portLock_)
            return true;
        const QString path =
            QDir(g_.appFolder).filePath(QStringLiteral("config%1.ini").arg(index + 1));
        PortLock::Status status = PortLock::Status::Unavailable;
        portLock_ = PortLock::take(path, status);
        if (status != PortLock::Status::Busy)
            return true;
        platform_.messages.show(
            QStringLiteral("Ya hay otro Climalog en marcha con el fichero de configuración %1.\r\n"
                           "Dos programas no pueden usar la misma configuración ni capturar en la "
                           "misma carpeta: este se cierra.")
                .arg(QDir::toNativeSeparators(path)));
        g_.puerto = -3;
        return false;
    };
    auto connectOn = [this, reserva](int d) {
        if (!reserva(d - 1))
            return;
        if (conecta(g_, io_, d))
            return;
        // A port that does not answer at all leaves no text behind.
        const QString text = messageText(g_.mensaje);
        platform_.messages.show(text.trimmed().isEmpty()
                                    ? QStringLiteral("No se puede abrir el puerto COM%1.").arg(d)
                                    : text);
    };
    auto chooseInWindow = [this] {
        g_.puerto = -1;
        if (platform_.eligePuerto) {
            platform_.eligePuerto();
            return;
        }
        inicio window(g_, io_, platform_.messages, this);
        window.exec();
    };
    switch (orden.puerto) {
    case Orden::Puerto::Automatico: {
        g_.puerto = -1;
        const int r = puertoAutomatico(g_.appFolder);
        if (r > 0)
            connectOn(r);
        else
            chooseInWindow();
        break;
    }
    case Orden::Puerto::Numero:
        connectOn(orden.numero);
        break;
    case Orden::Puerto::SinConexion:
        g_.puerto = 0;
        g_.conectado = false;
        g_.nombrepuerto.clear();
        reserva(0);
        break;
    case Orden::Puerto::Ventana:
        chooseInWindow();
        break;
    case Orden::Puerto::Rechazo:
        break;
    }
    // The port window connects by itself.
    if (const std::int16_t elegido = g_.puerto;
        elegido >= 0 && !reserva(elegido) && g_.conectado && io_) {
        io_->FinalizarCNX(elegido, g_.mensaje);
        g_.conectado = false;
    }
    if (g_.puerto == -2)
        platform_.messages.show(usoTexto());
    if (g_.puerto < 0)
        return false;

    setCaption();
    // What the load has to say waits for the window: polling starts first.
    startupNotices_.emplace();
    cargar_Click();
    // Also without a configuration file: devices added later are then due
    // at once, not after the polling clock has passed half a day.
    monitor_->reiniciaReloj();
    g_.carpeta = portFolder(g_) + u'/';
    mnueditar->setChecked(g_.n() > 0);
    mnueditar_Click();
    progreso_ = std::move(progreso);
    Timer1_Timer();
    progreso_ = nullptr;
    if (orden.captura)
        mnucapturar_Click();
    QTimer::singleShot(0, this, [this, avisos = *std::exchange(startupNotices_, std::nullopt)] {
        for (const QString &text : avisos)
            if (!ended_)
                platform_.messages.show(text);
    });
    return !ended_;
}

void principal::setCaption() { setWindowTitle(windowCaption(g_)); }

void principal::notify(const QString &text)
{
    if (startupNotices_)
        startupNotices_->append(text);
    else
        platform_.messages.show(text);
}

// ---- Timer and lists -------------------------------------------------------

void principal::applyTimer()
{
    if (ended_ || !timerEnabled_ || timerInterval_ <= 0) {
        Timer1->stop();
        return;
    }
    Timer1->start(timerInterval_);
}

bool principal::timerRunning() const { return Timer1->isActive(); }

void principal::setTimerInterval(int milliseconds) { view_->setTimerInterval(milliseconds); }

void principal::Timer1_Timer()
{
    // A timer restarted by a handler during a yield must not start a tick
    // inside the running one.
    if (ended_ || ticking_)
        return;
    ticking_ = true;
    monitor_->Timer1_Timer();
    ticking_ = false;
    if (captureToggleWaiting_) {
        captureToggleWaiting_ = false;
        mnucapturar_Click();
    }
    handleCaptureFaults();
}

void principal::rebuildList(bool red)
{
    if (red != rojo_) {
        QPalette palette = Sensores->palette();
        palette.setColor(QPalette::Text,
                         red ? QColor(255, 0, 0)
                             : QApplication::palette(Sensores).color(QPalette::Text));
        Sensores->setPalette(palette);
        rojo_ = red;
    }
    int row = selectedRow();
    model_->rebuild();
    const int count = model_->rowCount();
    if (row > count - 1)
        row = count - 1;
    selectRow(row);
    if (row >= 0)
        Sensores_Click();
}

int principal::selectedRow() const
{
    const QModelIndexList rows = Sensores->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void principal::selectRow(int row)
{
    selecting_ = true;
    if (row < 0)
        Sensores->selectionModel()->clear();
    else if (selectedRow() != row)
        Sensores->selectionModel()->setCurrentIndex(model_->index(row),
                                                    QItemSelectionModel::ClearAndSelect);
    selecting_ = false;
}

void principal::listado() { rebuildList(false); }
void principal::actualizando() { rebuildList(true); }

// Appending one device's line: the model derives the lines from the table,
// so showing the new row is enough. The selection stays where it was.
void principal::anade(int i)
{
    if (i > g_.n())
        return;
    model_->append();
}

void principal::showAlarmas(const QStringList &lines)
{
    infoalarmas->clear();
    infoalarmas->addItems(lines);
}

// ---- Configuration file ----------------------------------------------------

void principal::salvar_Click()
{
    const configfile::SaveResult result = guarda();
    if (result.status == configfile::SaveStatus::Failed)
        platform_.messages.show(result.message);
}

// Every save of the table goes through here: a file the program could not
// read is replaced only when the user says so, the safe answer the default.
configfile::SaveResult principal::guarda()
{
    configfile::SaveResult result = configfile::save(g_);
    if (result.status != configfile::SaveStatus::NeedsConsent)
        return result;
    if (platform_.messages.show(result.message, Messages::Buttons::YesNoDefaultNo) !=
        Messages::Answer::Yes)
        return result;
    return configfile::save(g_, true);
}

void principal::cargar_Click()
{
    if (g_.modificado) {
        const auto answer = platform_.messages.show(
            QStringLiteral("Los cambios se perderan.\r\n¿Desea cargar la configuración?"),
            Messages::Buttons::YesNoDefaultNo);
        if (answer != Messages::Answer::Yes)
            return;
    }
    configfile::ReadResult file = configfile::read(g_.configPath());
    g_.configSinLeer =
        file.status == configfile::Status::Unreadable || file.status == configfile::Status::Refused;
    if (file.status == configfile::Status::Missing)
        return;
    // A file that cannot be read changes nothing, and nothing overwrites it.
    if (file.status != configfile::Status::Loaded) {
        notify(file.message);
        return;
    }
    view_->setTimerEnabled(false);
    configfile::apply(g_, std::move(file.table));
    // A load leaves nothing selected: the old selection named other devices.
    selectRow(-1);
    model_->reset();
    g_.reloj = 0;
    g_.ultimo = static_cast<std::int32_t>(std::lround(platform_.clock.seconds()));
    if (!file.message.isEmpty())
        notify(file.message);
    view_->setTimerEnabled(true);
}

// ---- Shutdown and about ----------------------------------------------------

void principal::fin_Click()
{
    if (ended_)
        return;
    if (g_.modificado) {
        const auto answer = platform_.messages.show(
            QStringLiteral("Los cambios se perderan.\r\n¿Desea salvar la configuración?"),
            Messages::Buttons::YesNoOrBack);
        // Closing the question is no answer: back to the program, nothing lost.
        if (answer == Messages::Answer::Cancel)
            return;
        if (answer == Messages::Answer::Yes) {
            const configfile::SaveResult result = guarda();
            // The file that could not be read is kept: back to the program.
            if (result.status == configfile::SaveStatus::NeedsConsent)
                return;
            // A failed save must not silently drop the changes.
            if (result.status == configfile::SaveStatus::Failed) {
                const auto go = platform_.messages.show(
                    result.message +
                        QStringLiteral("\r\n¿Desea terminar sin salvar la configuración?"),
                    Messages::Buttons::YesNoDefaultNo);
                if (go != Messages::Answer::Yes)
                    return;
            }
        }
    }
    // Capture lines still waiting for the disk get one last try; whatever
    // cannot be written is named before the program ends.
    if (!g_.fichero.isEmpty() && captura_->pendientes() > 0) {
        captura_->flush();
        stopCapture();
        if (const QString perdidas = captura_->takeNotice(); !perdidas.isEmpty())
            platform_.messages.show(perdidas);
    }
    if (g_.conectado && io_)
        io_->FinalizarCNX(g_.puerto, g_.mensaje);
    endProgram(0);
}

void principal::endProgram(int code)
{
    ended_ = true;
    Timer1->stop();
    if (platform_.salir)
        platform_.salir(code);
}

void principal::closeEvent(QCloseEvent *event)
{
    fin_Click();
    if (ended_)
        event->accept();
    else
        event->ignore();
}

void principal::mnuabout_Click()
{
    platform_.messages.show(QStringLiteral("Climalog v1.1\r\n"
                                           "Equipo de desarrollo de Climalog, 2026\r\n"
                                           "climalog.example.org"));
}
