#include "shell/inicio.h"

#include "netaccess/binding.h"
#include "platform/messages.h"
#include "platform/qtplatform.h"
#include "registry/fixedtext.h"
#include "registry/general.h"

#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace {
QString seleccione() { return QStringLiteral("Seleccione un puerto de la lista."); }
}

inicio::inicio(General &g, SondaIO *io, Messages &messages, QWidget *parent)
    : QDialog(parent), g_(g), io_(io), messages_(messages)
{
    setWindowTitle(QStringLiteral("Climalog - Inicio"));
    applyProgramFont(this);
    auto *Conexion = new QGroupBox(QStringLiteral("Conexión"), this);
    auto *Label1 = new QLabel(QStringLiteral("Puerto"), Conexion);
    RSport = new QComboBox(Conexion);
    RSport->setEditable(true);
    // Typing may pick an entry, never add one: only the four ports exist.
    RSport->setInsertPolicy(QComboBox::NoInsert);
    RSport->setToolTip(QStringLiteral("Seleccionar puerto de comunicaciones"));
    // Form_Load: the entry at list position p names port p+1.
    for (int p = 1; p <= 4; ++p)
        RSport->addItem(QStringLiteral("COM%1").arg(p));
    RSport->setCurrentIndex(-1);
    RSport->setEditText(QStringLiteral("Puerto"));
    iniciar = new QPushButton(QStringLiteral("&Iniciar"), Conexion);
    iniciar->setToolTip(QStringLiteral("Iniciar monitorización"));
    iniciar->setEnabled(false);

    auto *row = new QHBoxLayout(Conexion);
    row->addWidget(Label1);
    row->addWidget(RSport, 1);
    row->addWidget(iniciar);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Conexion);

    connect(RSport, qOverload<int>(&QComboBox::activated), this, [this] { RSport_Click(); });
    RSport->installEventFilter(this);
    connect(iniciar, &QPushButton::clicked, this, [this] { iniciar_Click(); });

    // Start-up shows it before any other window: in the middle of the screen.
    adjustSize();
    move(screen()->availableGeometry().center() - rect().center());
}

void inicio::RSport_Click() { iniciar->setEnabled(true); }

int inicio::posicion() const
{
    return RSport->findText(trimBlanks(RSport->currentText()), Qt::MatchFixedString);
}

bool inicio::eventFilter(QObject *watched, QEvent *event)
{
    // Return in the box picks the entry its text names, blanks and case
    // aside, and starts; a text that names none gets the button's answer.
    if (watched == RSport && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter)
            return QDialog::eventFilter(watched, event);
        const int position = posicion();
        if (position < 0) {
            messages_.show(seleccione());
            return true;
        }
        RSport->setCurrentIndex(position);
        RSport_Click();
        iniciar_Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void inicio::iniciar_Click()
{
    // Text typed into the box counts when it names an entry of the list;
    // anything else names no port, and no negative port ever reaches the
    // library.
    const int position = posicion();
    if (position < 0) {
        messages_.show(seleccione());
        return;
    }
    g_.puerto = static_cast<std::int16_t>(position);
    g_.nombrepuerto = QStringLiteral("COM%1").arg(position + 1);
    const std::int16_t r = io_ ? io_->IniciarCNX(g_.puerto, g_.nombrepuerto, g_.mensaje) : 0;
    if (r > 0) {
        g_.conectado = true;
        hide();
        return;
    }
    g_.puerto = -1;
    g_.conectado = false;
    const auto answer = messages_.show(
        QStringLiteral("Error al intentar acceder en ese puerto\r\n¿ Continuar de todos modos ?"),
        Messages::Buttons::YesNo, Messages::Icon::Information);
    // Continuing keeps the chosen port, so its caption, its configuration
    // file and its capture folder all name the same port.
    if (answer == Messages::Answer::Yes)
        g_.puerto = static_cast<std::int16_t>(position);
    hide();
}
