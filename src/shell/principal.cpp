#include "shell/principal.h"

#include "dialogs/avanzado.h"
#include "dialogs/buscar.h"
#include "dialogs/check.h"
#include "monitor/capture.h"
#include "monitor/devicetable.h"
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
    : QMainWindow(parent), g_(g), io_(io), platform_(std::move(platform)), view_(std::make_unique<View>(*this))
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
            paraCaptura();
        falloCaptura_ = r;
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
    mnubuscar = edicion->addAction(QStringLiteral("&Buscar Dispositivos"), this, [this] { mnubuscar_Click(); });

    captura = menuBar()->addMenu(QStringLiteral("&Captura"));
    mnucapturar = captura->addAction(QStringLiteral("&Capturar"), this, [this] {
        mnucapturar->setChecked(!mnucapturar->isChecked());
        mnucapturar_Click();
    });
    mnucapturar->setCheckable(true);
    mnuver = captura->addAction(QStringLiteral("&Ver capturas"), this, [this] { mnuver_Click(); });
    // Only reads the capture files: always available, during a capture too.
    mnugraficas = captura->addAction(QStringLiteral("&Gráficas"), this, [this] { mnugraficas_Click(); });

    ayuda = menuBar()->addMenu(QStringLiteral("&Ayuda"));
    mnuabout = ayuda->addAction(QStringLiteral("&Acerca de Climalog"), this, [this] { mnuabout_Click(); });
}

// The menus' shortcuts win over the boxes' own keys (Ctrl+C copies, Ctrl+E
// goes to the end of the line): the box is told the key is not its own.
bool principal::atajoDelMenu(QObject *watched, QEvent *event) const
{
    auto *widget = qobject_cast<QWidget *>(watched);
    if (event->type() != QEvent::ShortcutOverride || !widget || widget->window() != this)
        return false;
    const QKeySequence pressed(static_cast<QKeyEvent *>(event)->keyCombination());
    for (QMenu *menu : {fichero, edicion, captura, ayuda}) {
        if (!menu->isEnabled())
            continue;
        for (const QAction *action : menu->actions())
            if (action->isEnabled() && !action->shortcut().isEmpty() && action->shortcut() == pressed)
                return true;
    }
    return false;
}

bool principal::eventFilter(QObject *watched, QEvent *event)
{
    if (atajoDelMenu(watched, event)) {
        event->ignore();
        return true;
    }
    if (event->type() == QEvent::FocusIn && (watched == nombre || watched == SN)) {
        auto *box = static_cast<QLineEdit *>(watched);
        QTimer::singleShot(0, box, [box] { box->selectAll(); });
    }
    if (watched == menuBar() && event->type() == QEvent::Shortcut && Avan->isVisible() && Avan->isEnabled() &&
        static_cast<QShortcutEvent *>(event)->key() == QKeySequence(Qt::ALT | Qt::Key_A)) {
        Avan->animateClick();
        return true;
    }
    if (watched == centralWidget() && event->type() == QEvent::Resize)
        fitLists();
    if (watched == Sensores && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Delete) {
            Sensores_KeyDown(46, 0);
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
    titulo->addItem(::titulo(g_.separador));
    lblalarmas->clear();
    lblalarmas->addItem(QStringLiteral("Alarmas"));

    const Orden orden = interpreta(commandLine);
    // One program per configuration file: a second one would save over the
    // first one's table and capture into its files. It says so and ends,
    // before it connects.
    auto reserva = [this](int index) {
        if (cerrojo_)
            return true;
        const QString path = QDir(g_.appFolder).filePath(QStringLiteral("config%1.ini").arg(index + 1));
        PortLock::Status status = PortLock::Status::Unavailable;
        cerrojo_ = PortLock::take(path, status);
        if (status != PortLock::Status::Busy)
            return true;
        platform_.messages.show(QStringLiteral("Ya hay otro Climalog en marcha con el fichero de configuración %1.\r\n"
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
        platform_.messages.show(text.trimmed().isEmpty() ? QStringLiteral("No se puede abrir el puerto COM%1.").arg(d) : text);
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
    if (const std::int16_t elegido = g_.puerto; elegido >= 0 && !reserva(elegido) && g_.conectado && io_) {
        io_->FinalizarCNX(elegido, g_.mensaje);
        g_.conectado = false;
    }
    if (g_.puerto == -2)
        platform_.messages.show(usoTexto());
    if (g_.puerto < 0)
        return false;

    setCaption();
    // What the load has to say waits for the window: polling starts first.
    avisosArranque_.emplace();
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
    QTimer::singleShot(0, this, [this, avisos = *std::exchange(avisosArranque_, std::nullopt)] {
        for (const QString &text : avisos)
            if (!ended_)
                platform_.messages.show(text);
    });
    return !ended_;
}

void principal::setCaption() { setWindowTitle(::titulo(g_)); }

void principal::avisa(const QString &text)
{
    if (avisosArranque_)
        avisosArranque_->append(text);
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
void principal::setTimerEnabled(bool enabled) { view_->setTimerEnabled(enabled); }

void principal::Timer1_Timer()
{
    // A timer restarted by a handler during a yield must not start a tick
    // inside the running one.
    if (ended_ || ticking_)
        return;
    ticking_ = true;
    monitor_->Timer1_Timer();
    ticking_ = false;
    if (capturaPendiente_) {
        capturaPendiente_ = false;
        mnucapturar_Click();
    }
    atiendeCaptura();
}

// A capture line that did not reach the disk, or readings the file will
// never get. The questions run outside the tick: while one is up the timer
// keeps ticking, so devices are read and relays written whatever the user
// does with it.
void principal::atiendeCaptura()
{
    if (preguntando_)
        return;
    preguntando_ = true;
    for (;;) {
        if (!falloCaptura_) {
            const QString perdidas = captura_->tomaAviso();
            if (perdidas.isEmpty())
                break;
            platform_.messages.show(perdidas);
            continue;
        }
        const Captura::Escritura r = *falloCaptura_;
        falloCaptura_.reset();
        switch (r.estado) {
        case Captura::Estado::Escrito:
            break;
        case Captura::Estado::Ocupado:
            // Another program holds the file: tried again once it is closed.
            platform_.messages.show(r.mensaje);
            reintentaCaptura();
            break;
        case Captura::Estado::Denegado:
            if (platform_.messages.show(r.mensaje + QStringLiteral("\r\nReintentar vuelve a escribir las lecturas; "
                                                                     "Cancelar detiene la captura."),
                                        Messages::Buttons::RetryCancel) == Messages::Answer::Retry)
                reintentaCaptura();
            else
                paraCaptura();
            break;
        case Captura::Estado::Fallo: {
            paraCaptura();
            QString text = r.mensaje + QStringLiteral("\r\nLa captura se ha detenido. La lectura de los "
                                                      "dispositivos y los relés siguen funcionando.");
            if (const QString perdidas = captura_->tomaAviso(); !perdidas.isEmpty())
                text += QStringLiteral("\r\n") + perdidas;
            platform_.messages.show(text);
            break;
        }
        }
    }
    preguntando_ = false;
}

void principal::reintentaCaptura()
{
    // A refusal the ticks met while the question was up is stale: the retry
    // tells. A capture they had to stop is told.
    if (falloCaptura_ && falloCaptura_->estado != Captura::Estado::Fallo)
        falloCaptura_.reset();
    if (g_.fichero.isEmpty())
        return;
    const Captura::Escritura r = captura_->vuelca();
    if (r.estado != Captura::Estado::Escrito)
        falloCaptura_ = r;
}

void principal::rebuildList(bool red)
{
    if (red != rojo_) {
        QPalette palette = Sensores->palette();
        palette.setColor(QPalette::Text, red ? QColor(255, 0, 0) : QApplication::palette(Sensores).color(QPalette::Text));
        Sensores->setPalette(palette);
        rojo_ = red;
    }
    int row = seleccionada();
    model_->rebuild();
    const int count = model_->rowCount();
    if (row > count - 1)
        row = count - 1;
    selecciona(row);
    if (row >= 0)
        Sensores_Click();
}

int principal::seleccionada() const
{
    const QModelIndexList rows = Sensores->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void principal::selecciona(int row)
{
    seleccionando_ = true;
    if (row < 0)
        Sensores->selectionModel()->clear();
    else if (seleccionada() != row)
        Sensores->selectionModel()->setCurrentIndex(model_->index(row), QItemSelectionModel::ClearAndSelect);
    seleccionando_ = false;
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
    if (platform_.messages.show(result.message, Messages::Buttons::YesNoDefaultNo) != Messages::Answer::Yes)
        return result;
    return configfile::save(g_, true);
}

void principal::cargar_Click()
{
    if (g_.modificado) {
        const auto answer = platform_.messages.show(
            QStringLiteral("Los cambios se perderan.\r\n¿Desea cargar la configuración?"), Messages::Buttons::YesNoDefaultNo);
        if (answer != Messages::Answer::Yes)
            return;
    }
    configfile::ReadResult file = configfile::read(g_.configPath());
    g_.configSinLeer = file.status == configfile::Status::Unreadable || file.status == configfile::Status::Refused;
    if (file.status == configfile::Status::Missing)
        return;
    // A file that cannot be read changes nothing, and nothing overwrites it.
    if (file.status != configfile::Status::Loaded) {
        avisa(file.message);
        return;
    }
    view_->setTimerEnabled(false);
    configfile::apply(g_, std::move(file.table));
    // A load leaves nothing selected: the old selection named other devices.
    selecciona(-1);
    model_->reset();
    g_.reloj = 0;
    g_.ultimo = static_cast<std::int32_t>(std::lround(platform_.clock.seconds()));
    if (!file.message.isEmpty())
        avisa(file.message);
    view_->setTimerEnabled(true);
}

// ---- Shutdown and about ----------------------------------------------------

void principal::fin_Click()
{
    if (ended_)
        return;
    if (g_.modificado) {
        const auto answer = platform_.messages.show(
            QStringLiteral("Los cambios se perderan.\r\n¿Desea salvar la configuración?"), Messages::Buttons::YesNoOrBack);
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
                    result.message + QStringLiteral("\r\n¿Desea terminar sin salvar la configuración?"),
                    Messages::Buttons::YesNoDefaultNo);
                if (go != Messages::Answer::Yes)
                    return;
            }
        }
    }
    // Capture lines still waiting for the disk get one last try; whatever
    // cannot be written is named before the program ends.
    if (!g_.fichero.isEmpty() && captura_->pendientes() > 0) {
        captura_->vuelca();
        paraCaptura();
        if (const QString perdidas = captura_->tomaAviso(); !perdidas.isEmpty())
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

// ---- Pane ------------------------------------------------------------------

void principal::parseSN()
{
    const QString text = SN->text();
    g_.dispactual.sn = hexserie(text.mid(3));
    g_.dispactual.tipo = codtipo(text.left(3));
}

bool principal::nameValid() const { return !trimBlanks(nombre->text()).isEmpty(); }

void principal::SN_Change()
{
    CMP->setEnabled(false);
    anadir->setEnabled(false);
    Avan->setEnabled(false);
    parseSN();
    if (g_.dispactual.tipo == 0 || isZero(g_.dispactual.sn))
        return;
    if (g_.conectado)
        CMP->setEnabled(true);
    if (nameValid()) {
        anadir->setEnabled(true);
        Avan->setEnabled(true);
    }
}

void principal::nombre_Change()
{
    anadir->setEnabled(false);
    parseSN();
    if (g_.dispactual.tipo != 0 && !isZero(g_.dispactual.sn) && nameValid())
        anadir->setEnabled(true);
}

void principal::anadir_Click()
{
    Dispositivo &d = g_.dispactual;
    d.nombre = trimBlanks(nombre->text()).left(16);
    if (trimBlanks(d.nombre.text()).isEmpty()) {
        platform_.messages.show(QStringLiteral("Nombre incorrecto"));
        return;
    }
    if (isZero(d.sn) || d.tipo == 0) {
        platform_.messages.show(QStringLiteral("Número de serie incorrecto"));
        return;
    }
    switch (const Duplicate found = findDuplicate(g_, d); found.kind) {
    case Duplicate::Kind::None:
        break;
    case Duplicate::Kind::SameName:
        platform_.messages.show(QStringLiteral("El dispositivo ya está en la lista"));
        return;
    case Duplicate::Kind::SameSerial:
        if (platform_.messages.show(QStringLiteral("El dispositivo ya está en la lista.\r\n¿Desea modificar sus propiedades?"),
                                    Messages::Buttons::YesNo) == Messages::Answer::Yes) {
            modifica(found.index);
            g_.cogereldet();
            listado();
        }
        return;
    }
    setNewDeviceDefaults(d);
    nuevo();
}

void principal::nuevo()
{
    if (g_.n() >= maxDispositivos) {
        platform_.messages.show(QStringLiteral("La lista ya tiene el máximo de %1 dispositivos.").arg(maxDispositivos));
        return;
    }
    anade(g_.nuevo());
}

void principal::modifica(int i) { g_.modifica(i); }
void principal::borra(int i) { g_.borra(i); }

void principal::Borrar_Click()
{
    for (int i = 1; i <= g_.n(); ++i) {
        if (g_.dispositivos[i].sn == g_.dispactual.sn) {
            borra(i);
            g_.cogereldet();
            listado();
            return;
        }
    }
    platform_.messages.show(QStringLiteral("El dispositivo no está en la lista"));
}

void principal::CMP_Click()
{
    if (const auto text = comprobar(g_, io_, g_.puerto))
        platform_.messages.show(*text);
}

void principal::Avan_Click()
{
    if (!avanzado_)
        avanzado_ = std::make_unique<avanzado>(g_, io_, platform_.messages, *this);
    avanzado_->exec();
}

void principal::Sensores_Click()
{
    if (refrescando_)
        return;
    Borrar->setEnabled(true);
    const int row = seleccionada();
    if (row < 0)
        return;
    const Serial serial = serialOfRow(row);
    for (int i = 1; i <= g_.n(); ++i) {
        if (g_.dispositivos[i].sn != serial)
            continue;
        Dispositivo device = g_.dispositivos[i];
        nombre->setText(trimBlanks(device.nombre.text()));
        const QString printable = io_ ? io_->ConvertSerialNum(device.sn) : seriehex(device.sn);
        SN->setText(nomtipo(device.tipo) + printable);
        g_.dispactual = device;
        return;
    }
}

Serial principal::serialOfRow(int row) const
{
    return hexserie(serielinea(model_->index(row).data().toString(), g_.separador));
}

void principal::Sensores_DblClick()
{
    if (!mnueditar->isChecked())
        return;
    Sensores_Click();
    Avan_Click();
}

void principal::Sensores_KeyDown(std::int16_t keyCode, std::int16_t)
{
    if (!mnueditar->isChecked() || keyCode != 46)
        return;
    // The key deletes the device on the selected line and no other. With no
    // line selected (a focus frame alone, a click below the rows, after a
    // load), or a line whose device the click did not find, the working
    // record names a device the user did not pick in the list.
    const int row = seleccionada();
    if (row < 0)
        return;
    Sensores_Click();
    if (g_.dispactual.sn == serialOfRow(row))
        Borrar_Click();
}

// ---- Later menus -----------------------------------------------------------

void principal::takeSerial(const QString &text)
{
    if (!mnueditar->isChecked())
        mnueditar_Click();
    SN->setText(text);
}

QString principal::deviceName() const { return nombre->text(); }
QString principal::deviceSerial() const { return SN->text(); }

void principal::takeDevice(const QString &name, const QString &serial)
{
    SN->setText(serial);
    nombre->setText(name);
}

void principal::mnubuscar_Click()
{
    if (!buscar_)
        buscar_ = std::make_unique<buscar>(g_, io_, *this);
    buscar_->exec();
}
void principal::mnucapturar_Click()
{
    if (ended_)
        return;
    // Starting or stopping resets the polling and ticks at once; in the
    // middle of a tick that would nest a tick and let the running one write
    // a line stamped before the capture began. It waits for the tick's end.
    if (ticking_) {
        capturaPendiente_ = !capturaPendiente_;
        return;
    }
    if (!g_.fichero.isEmpty()) {
        paraCaptura();
        atiendeCaptura();
        return;
    }
    // The timer goes on at the interval it had while the start asks its
    // questions: polling never waits for an answer (at an unattended start
    // there may be none). No capture runs until they are answered.
    const bool started = captura_->inicia(platform_.messages, [this] {
        const configfile::SaveResult result = guarda();
        if (result.status == configfile::SaveStatus::Failed)
            platform_.messages.show(result.message);
        return result.status == configfile::SaveStatus::Saved || result.status == configfile::SaveStatus::NothingToDo;
    });
    if (!started)
        return;
    setCaption();
    mnucapturar->setChecked(true);
    if (mnueditar->isChecked())
        mnueditar_Click();
    // The table cannot be edited, saved or reloaded while its columns are
    // being captured.
    edicion->setEnabled(false);
    fichero->setEnabled(false);
    monitor_->reinicia();
    Timer1_Timer();
    // A stop asked for during that first tick has already run.
    if (!g_.fichero.isEmpty())
        setTimerInterval(1000);
}

void principal::paraCaptura()
{
    captura_->para();
    falloCaptura_.reset();
    // A stop the user asked for during the tick has happened.
    capturaPendiente_ = false;
    mnucapturar->setChecked(false);
    edicion->setEnabled(true);
    fichero->setEnabled(true);
    setCaption();
    setTimerInterval(g_.intervalo);
}

void principal::mnugraficas_Click()
{
    // Made once and kept: hiding it keeps what it read.
    if (!graficas_)
        graficas_ = std::make_unique<graficas>(
            g_.carpeta, [this] { return g_.fichero.isEmpty() ? QString() : g_.carpeta + g_.fichero; }, this);
    graficas_->show();
    graficas_->raise();
    graficas_->activateWindow();
}

void principal::mnuver_Click()
{
    platform_.explorer.open(portFolder(g_));
}
