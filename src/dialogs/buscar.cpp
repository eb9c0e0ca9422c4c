#include "dialogs/buscar.h"

#include "dialogs/foundserials.h"
#include "netaccess/binding.h"
#include "platform/qtplatform.h"
#include "registry/general.h"
#include "shell/principal.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// While the searches run: the polling timer stopped (the library serves one
// caller at a time) and the busy cursor shown; both come back however the
// searches end.
class Searching {
public:
    Searching(principal &main, int intervalo) : main_(main), intervalo_(intervalo)
    {
        main_.setTimerInterval(0);
        QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~Searching()
    {
        QApplication::restoreOverrideCursor();
        main_.setTimerInterval(intervalo_);
    }
    Searching(const Searching &) = delete;
    Searching &operator=(const Searching &) = delete;

private:
    principal &main_;
    int intervalo_;
};

}

buscar::buscar(General &g, SondaIO *io, principal &main)
    : QDialog(&main), g_(g), io_(io), main_(main)
{
    applyProgramFont(this);
    setWindowTitle(QStringLiteral("Climalog - Búsqueda"));
    sennet = new QListWidget(this);
    Label1 = new QLabel(QStringLiteral("Hacer doble click para coger número de serie."), this);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(sennet, 1);
    layout->addWidget(Label1);
    connect(sennet, &QListWidget::itemDoubleClicked, this, [this] { sennet_DblClick(); });
}

void buscar::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Once per showing by the program (exec or show), not when the window
    // system shows it again after a minimize. The searches can take long on
    // a slow network: they start once the window is on the screen, so the
    // user sees that the menu did something.
    if (event->spontaneous())
        return;
    sennet->clear();
    QTimer::singleShot(0, this, [this] {
        if (isVisible()) // not closed meanwhile
            Form_Activate();
    });
}

void buscar::Form_Activate()
{
    sennet->clear();
    const Searching searching(main_, g_.intervalo);
    pintaAhora(this);
    if (!io_)
        return;
    // One buffer for the three searches: each lists only the slots its own
    // count covers, whatever an earlier search left beyond them.
    SondaIO::SearchBuffer buffer{};
    sennet->addItems(foundSerials(buffer, io_->BuscarSensoresTra(g_.puerto, buffer)));
    sennet->addItems(foundSerials(buffer, io_->BuscarConversoresAD(g_.puerto, buffer)));
    sennet->addItems(foundSerials(buffer, io_->BuscarDetectores(g_.puerto, buffer)));
}

void buscar::sennet_DblClick()
{
    const QListWidgetItem *item = sennet->currentItem();
    if (!item)
        return;
    main_.takeSerial(item->text());
    done(Accepted);
}
