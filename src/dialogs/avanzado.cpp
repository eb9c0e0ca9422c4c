#include "dialogs/avanzado.h"

#include "netaccess/binding.h"
#include "platform/messages.h"
#include "platform/qtplatform.h"
#include "registry/general.h"
#include "shell/principal.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

avanzado::avanzado(General &g, SondaIO *io, Messages &messages, principal &main)
    : QDialog(&main), g_(g), io_(io), messages_(messages), main_(main)
{
    applyProgramFont(this);
    setWindowTitle(QStringLiteral("Climalog - Propiedades "));

    Nsensor = new QGroupBox(this);
    auto *lblnombre = new QLabel(QStringLiteral("Nombre"), Nsensor);
    nombre = new QLineEdit(Nsensor);
    nombre->setToolTip(QStringLiteral("Nombre del sensor"));
    nombre->setMaxLength(16);
    soloWindows1252(nombre);
    auto *lblsn = new QLabel(QStringLiteral("Número de serie"), Nsensor);
    SN = new QLineEdit(Nsensor);
    SN->setToolTip(QStringLiteral("Número de serie del sensor"));
    SN->setMaxLength(19);
    auto *sensor = new QGridLayout(Nsensor);
    sensor->addWidget(lblnombre, 0, 0);
    sensor->addWidget(nombre, 0, 1);
    sensor->addWidget(lblsn, 1, 0);
    sensor->addWidget(SN, 1, 1);

    Frame1 = new QGroupBox(QStringLiteral("Propiedades"), this);
    tm = new QLabel(QStringLiteral("Período de muestreo"), Frame1);
    vtm = new QLineEdit(Frame1);
    for (int k = 0; k < kSlots; ++k) {
        prop[k] = new QLabel(Frame1);
        vprop[k] = new QLineEdit(Frame1);
        soloWindows1252(vprop[k]); // the units are texts of the record
    }
    rele = new QLabel(QStringLiteral("Acción"), Frame1);
    listarele = new QComboBox(Frame1);
    listarele->setEditable(false);

    auto *grid = new QGridLayout(Frame1);
    grid->addWidget(tm, 0, 0);
    grid->addWidget(vtm, 0, 1);
    const int left[] = {0, 1, 2, 3, 8};
    const int right[] = {4, 5, 6, 7, 9};
    for (int row = 0; row < 5; ++row) {
        grid->addWidget(prop[left[row]], row + 1, 0);
        grid->addWidget(vprop[left[row]], row + 1, 1);
        grid->addWidget(prop[right[row]], row + 1, 2);
        grid->addWidget(vprop[right[row]], row + 1, 3);
    }
    grid->addWidget(rele, 6, 0, 1, 4);
    grid->addWidget(listarele, 7, 0, 1, 4);

    aceptar = new QPushButton(QStringLiteral("&Aceptar"), this);
    aceptar->setToolTip(QStringLiteral("Aceptar propiedades"));
    cancelar = new QPushButton(QStringLiteral("&Cancelar"), this);
    cancelar->setToolTip(QStringLiteral("Cancelar edición"));
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(aceptar);
    buttons->addStretch(1);
    buttons->addWidget(cancelar);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Nsensor);
    layout->addWidget(Frame1);
    layout->addLayout(buttons);

    QWidget *order[] = {nombre,   SN,        vtm,      vprop[0], vprop[4], vprop[1],
                        vprop[5], vprop[2],  vprop[6], vprop[3], vprop[7], vprop[8],
                        vprop[9], listarele, aceptar,  cancelar};
    for (std::size_t k = 1; k < std::size(order); ++k)
        QWidget::setTabOrder(order[k - 1], order[k]);

    const auto edited = [this] { g_.editado = true; };
    for (QLineEdit *box : {nombre, SN, vtm}) {
        connect(box, &QLineEdit::textChanged, this, edited);
        box->installEventFilter(this);
    }
    for (QLineEdit *box : vprop) {
        connect(box, &QLineEdit::textChanged, this, edited);
        box->installEventFilter(this);
    }
    // Only the user's choice counts: the list's own selection while it is
    // built does not.
    connect(listarele, qOverload<int>(&QComboBox::activated), this, edited);
    connect(aceptar, &QPushButton::clicked, this, [this] { aceptar_Click(); });
    connect(cancelar, &QPushButton::clicked, this, [this] { cancelar_Click(); });

    // One width for every type: the converter's ten slots, shown now, and
    // the caption beside the title bar's icon and buttons, never cut.
    const int caption = QFontMetrics(QApplication::font())
                            .horizontalAdvance(QStringLiteral("Climalog - Propiedades ???")) +
        4 * style()->pixelMetric(QStyle::PM_TitleBarHeight);
    setFixedWidth(std::max(sizeHint().width(), caption));
}

void avanzado::showEvent(QShowEvent *event)
{
    // Once per showing by the program (exec or show), not when the window
    // system shows it again after a minimize.
    if (!event->spontaneous())
        Form_Activate();
    QDialog::showEvent(event);
}

bool avanzado::eventFilter(QObject *watched, QEvent *event)
{
    // Magnitudes and the AVI alarms share the narrow boxes 4..9: typing stops
    // at 5 characters there. A box's own length limit would also cut the
    // stored value it shows, and accepting would store it cut.
    if (event->type() == QEvent::KeyPress) {
        auto *box = qobject_cast<QLineEdit *>(watched);
        const auto *key = static_cast<QKeyEvent *>(event);
        const int slot =
            box ? static_cast<int>(std::find(vprop.begin(), vprop.end(), box) - vprop.begin()) : -1;
        const QString typed = key->text();
        if (slot >= 4 && slot < kSlots && !typed.isEmpty() && typed[0].isPrint() &&
            !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) &&
            box->text().size() - box->selectedText().size() + typed.size() > maxTecleo)
            return true;
    }
    if (event->type() == QEvent::FocusIn) {
        if (auto *box = qobject_cast<QLineEdit *>(watched)) {
            // After the click that brought the focus has placed the cursor.
            QTimer::singleShot(0, box, [box] { box->selectAll(); });
        }
    }
    return QDialog::eventFilter(watched, event);
}

QString avanzado::impreso(Serial sn) const
{
    return io_ ? io_->ConvertSerialNum(sn) : seriehex(sn);
}

void avanzado::Form_Activate()
{
    const Dispositivo &d = g_.dispactual;
    setWindowTitle(QStringLiteral("Climalog - Propiedades ") + nomtipo(d.tipo));
    for (int k = 0; k < kSlots; ++k) {
        prop[k]->hide();
        vprop[k]->hide();
        vprop[k]->clear();
    }
    listarele->hide();
    rele->hide();
    tm->hide();
    vtm->hide();
    nombre->setText(main_.deviceName());
    SN->setText(main_.deviceSerial());
    g_.editado = false;
    g_.tipoorig = d.tipo;
    for (const Propiedad &p : propiedades(d))
        ponprop(p.slot, p.titulo, p.valor);
    if (tieneAccion(d.tipo)) {
        mosvtm();
        lista();
    }
    // Each showing starts in the first box, not where the last one ended.
    nombre->setFocus();
    // As high as this type's boxes need, as it is as wide as the widest
    // type's: a relay device after a converter keeps no empty frame.
    // The boxes just hidden and shown tell their frame on its next layout
    // request: those requests first.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    setFixedHeight(sizeHint().height());
}

void avanzado::ponprop(int pr, const QString &text, const QString &valor)
{
    prop[pr]->setText(text);
    vprop[pr]->setText(trimBlanks(valor));
    prop[pr]->show();
    vprop[pr]->show();
}

void avanzado::mosvtm()
{
    vtm->setText(QString::number(g_.dispactual.periodo));
    vtm->show();
    tm->show();
}

void avanzado::lista()
{
    const Dispositivo &d = g_.dispactual;
    listarele->clear();
    const QString pr = impreso(d.snrele[0]);
    listarele->addItem(QStringLiteral("Ninguno"));
    listarele->addItem(QStringLiteral("Avisar"));
    QStringList reles;
    for (int i = 1; i <= g_.n(); ++i) {
        const Dispositivo &r = g_.dispositivos[i];
        if (r.tipo != CTR)
            continue;
        const QString p = impreso(r.sn);
        listarele->addItem(entradaRele(r.nombre.text(), p, 1));
        listarele->addItem(entradaRele(r.nombre.text(), p, 2));
        reles << p;
    }
    listarele->show();
    rele->show();
    const SeleccionRele sel = seleccionRele(pr, d.salrele[0], reles);
    listarele->setCurrentIndex(sel.indice);
    g_.editado = sel.editado;
    // Said over the window, once it is on the screen.
    if (sel.falta)
        QTimer::singleShot(0, this, [this] {
            pintaAhora(this);
            messages_.show(QStringLiteral("El rele asiciado a este sensor ya no existe."));
        });
}

void avanzado::chtm()
{
    const Periodo p = reglaPeriodo(vtm->text());
    if (p.tope)
        vtm->setText(QStringLiteral("32767"));
    g_.dispactual.periodo = p.periodo;
}

void avanzado::chrele()
{
    const int i = listarele->currentIndex();
    const auto r = releDeEntrada(i, listarele->itemText(i));
    if (!r)
        return;
    g_.dispactual.snrele[0] = r->sn;
    g_.dispactual.salrele[0] = r->salida;
}

void avanzado::aceptar_Click()
{
    main_.takeDevice(nombre->text(), SN->text());
    if (g_.dispactual.tipo != g_.tipoorig) {
        messages_.show(
            QStringLiteral("El tipo de sensor no se puede modificar desde esta ventana"));
        return;
    }
    if (tieneAccion(g_.dispactual.tipo)) {
        std::array<QString, kSlots> textos;
        for (int k = 0; k < kSlots; ++k)
            textos[k] = vprop[k]->text();
        // A value that does not fit is refused before anything is stored.
        if (const auto refusal = leePropiedades(g_.dispactual, textos)) {
            messages_.show(*refusal);
            return;
        }
        chtm();
        chrele();
    }
    if (!g_.editado) {
        done(Accepted);
        return;
    }
    const bool antes = g_.modificado;
    g_.modificado = false;
    main_.anadir_Click();
    if (g_.modificado)
        done(Accepted);
    else
        g_.modificado = antes;
}

void avanzado::cancelar_Click() { done(Rejected); }
