// The main window's device-properties pane and device list: what the user
// types or picks there turns into the working record and the device table.
#include "shell/principal.h"

#include "dialogs/avanzado.h"
#include "dialogs/buscar.h"
#include "dialogs/check.h"
#include "monitor/devicetable.h"
#include "monitor/lines.h"
#include "monitor/sensoresmodel.h"
#include "netaccess/binding.h"
#include "platform/messages.h"
#include "registry/general.h"

#include <QAction>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>

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
        if (platform_.messages.show(
                QStringLiteral(
                    "El dispositivo ya está en la lista.\r\n¿Desea modificar sus propiedades?"),
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
        platform_.messages.show(
            QStringLiteral("La lista ya tiene el máximo de %1 dispositivos.").arg(maxDispositivos));
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
    const int row = selectedRow();
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
    if (!mnueditar->isChecked() || keyCode != deleteKey)
        return;
    // The key deletes the device on the selected line and no other. With no
    // line selected (a focus frame alone, a click below the rows, after a
    // load), or a line whose device the click did not find, the working
    // record names a device the user did not pick in the list.
    const int row = selectedRow();
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
