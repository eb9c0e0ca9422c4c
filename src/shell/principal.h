// The main window: menus, the device-properties pane, the device list and
// the warning list. Its handlers turn window events into calls of the core.
#pragma once

#include "monitor/capture.h"
#include "monitor/mainview.h"
#include "registry/configfile.h"
#include "registry/dispositivo.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <functional>
#include <memory>
#include <optional>

class Clock;
class avanzado;
class buscar;
class graficas;
class Explorer;
class General;
class Messages;
class Monitor;
class PortLock;
class SensoresModel;
class SondaIO;
class QAction;
class QGroupBox;
class QLineEdit;
class QListView;
class QListWidget;
class QMenu;
class QPushButton;
class QTimer;

class principal : public QMainWindow {
    Q_OBJECT
public:
    struct Platform {
        Clock &clock;
        Messages &messages;
        Explorer &explorer;
        // Ends the program at once with the given code.
        std::function<void(int)> salir;
        // Shows the port selection window modally; null: the real window.
        std::function<void()> eligePuerto;
    };

    principal(General &g, SondaIO *io, Platform platform, QWidget *parent = nullptr);
    ~principal() override;

    // Start-up; false when the program must end. `progreso` is told of each
    // read of the first tick (the k-th of n devices), which runs before the
    // window is shown: the splash says it meanwhile.
    bool Form_Load(const QString &commandLine, std::function<void(int, int)> progreso = {});

    // Menus.
    void salvar_Click();
    void cargar_Click();
    void fin_Click();
    void mnueditar_Click();
    void mnubuscar_Click();
    void mnucapturar_Click();
    void mnuver_Click();
    void mnugraficas_Click();
    void mnuabout_Click();

    // Device-properties pane and device list.
    void SN_Change();
    void nombre_Change();
    void anadir_Click();
    void Borrar_Click();
    void CMP_Click();
    void Avan_Click();
    void Sensores_Click();
    void Sensores_DblClick();
    // The key code the list's key handler is given for the Delete key.
    static constexpr std::int16_t deleteKey = 46;
    void Sensores_KeyDown(std::int16_t keyCode, std::int16_t shift);

    // Polling.
    void Timer1_Timer();
    void listado();
    void actualizando();
    void anade(int i);
    void nuevo();
    void modifica(int i);
    void borra(int i);

    // A serial picked in the search window: the pane opens to show it.
    void takeSerial(const QString &text);
    // The pane's two boxes, as the advanced properties window reads and
    // writes them back.
    QString deviceName() const;
    QString deviceSerial() const;
    void takeDevice(const QString &name, const QString &serial);

    Monitor &monitor() { return *monitor_; }
    bool timerRunning() const;
    // The timer as the handlers set it: an interval of 0 stops it.
    void setTimerInterval(int milliseconds);
    int timerInterval() const { return timerInterval_; }

    SensoresModel *model() { return model_.get(); }

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Controls, named as the window's design names them.
    QGroupBox *Nsensor;
    QLineEdit *nombre;
    QLineEdit *SN;
    QPushButton *anadir;
    QPushButton *Borrar;
    QPushButton *CMP;
    QPushButton *Avan;
    QGroupBox *lista;
    QListWidget *titulo;
    QListView *Sensores;
    QListWidget *lblalarmas;
    QListWidget *infoalarmas;
    QMenu *fichero;
    QMenu *edicion;
    QMenu *captura;
    QMenu *ayuda;
    QAction *salvar;
    QAction *cargar;
    QAction *fin;
    QAction *mnueditar;
    QAction *mnubuscar;
    QAction *mnucapturar;
    QAction *mnuver;
    QAction *mnugraficas;
    QAction *mnuabout;
    QTimer *Timer1;

    class View;
    friend class View;

    configfile::SaveResult guarda();
    void buildMenus();
    void buildPane();
    void buildLists();
    void parseSN();
    bool nameValid() const;
    void rebuildList(bool red);
    // The selected line of the device list, -1 when none; selecting one
    // (-1: none) does not raise Sensores_Click.
    int selectedRow() const;
    void selectRow(int row);
    // The serial number printed on a line of the device list.
    Serial serialOfRow(int row) const;
    bool isMenuShortcut(QObject *watched, QEvent *event) const;
    // Gives the window's size beyond its design size to the two lists.
    void fitLists();
    void setDesignSize();
    // Gives each control its design name, by which the window's tests find it.
    void nameControls();
    void applyTimer();
    void setCaption();
    // A notice for the user; during start-up it waits for the window.
    void notify(const QString &text);
    void showAlarmas(const QStringList &lines);
    void endProgram(int code);
    void handleCaptureFaults();
    void retryCapture();
    // Stops a running capture as the capture menu does.
    void stopCapture();
    int tw(int twips) const;
    int toTwips(int pixels) const;

    General &g_;
    SondaIO *io_;
    Platform platform_;
    std::unique_ptr<View> view_;
    std::unique_ptr<Monitor> monitor_;
    std::unique_ptr<SensoresModel> model_;
    std::unique_ptr<Captura> captura_;
    // Dialogs are loaded once, then hidden and shown again.
    std::unique_ptr<avanzado> avanzado_;
    std::unique_ptr<buscar> buscar_;
    std::unique_ptr<graficas> graficas_;
    // Held from the choice of the port to the end of the program.
    std::unique_ptr<PortLock> portLock_;
    bool refrescando_ = false;
    bool selecting_ = false;
    std::function<void(int, int)> progreso_;
    bool rojo_ = false;
    // When the window system was last serviced during a tick.
    QElapsedTimer yielded_;
    bool timerEnabled_ = true;
    int timerInterval_ = 3000;
    bool ended_ = false;
    // A tick is under way (it yields to the window between reads).
    bool ticking_ = false;
    // The capture menu was used during a tick: acted on when it ends.
    bool captureToggleWaiting_ = false;
    // A capture line the last tick could not write, and whether the user is
    // being asked about one.
    std::optional<Captura::Escritura> failedWrite_;
    bool asking_ = false;
    // During start-up: notices kept to show once the window is up.
    std::optional<QStringList> startupNotices_;
    // Layout with the pane shown, saved at the first toggle (twips).
    int savedListaTop_ = 0;
    int savedListaHeight_ = 0;
    int savedSensoresHeight_ = 0;
    // Heights of `lista` and `Sensores` at the design size, as the pane's
    // toggle last set them (pixels).
    int designListaHeight_ = 0;
    int designSensoresHeight_ = 0;
};
