// The main window's geometry: where its controls stand at the design size,
// the pane's toggle, and how a larger window shares its room between the
// lists. Sizes are written in twips, as the window's design gives them.
#include "shell/principal.h"

#include "monitor/sensoresmodel.h"
#include "platform/qtplatform.h"

#include <QAbstractItemView>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>

#include <QMenu>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

// The window's inner size as designed, in twips.
constexpr int designWidth = 120 + 8715 + 120;
constexpr int designHeight = 1200 + 4815 + 120;

QFont listFont()
{
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSizeF(7.5);
    return font;
}

}

int principal::tw(int twips) const { return qRound(twips * logicalDpiX() / 1440.0); }
int principal::toTwips(int pixels) const { return qRound(pixels * 1440.0 / logicalDpiX()); }

void principal::nameControls()
{
    const std::pair<QObject *, const char *> named[] = {
        {Nsensor, "Nsensor"},
        {nombre, "nombre"},
        {SN, "SN"},
        {anadir, "anadir"},
        {Borrar, "Borrar"},
        {CMP, "CMP"},
        {Avan, "Avan"},
        {lista, "lista"},
        {titulo, "titulo"},
        {Sensores, "Sensores"},
        {lblalarmas, "lblalarmas"},
        {infoalarmas, "infoalarmas"},
        {fichero, "fichero"},
        {edicion, "edicion"},
        {captura, "captura"},
        {ayuda, "ayuda"},
        {salvar, "salvar"},
        {cargar, "cargar"},
        {fin, "fin"},
        {mnueditar, "mnueditar"},
        {mnubuscar, "mnubuscar"},
        {mnucapturar, "mnucapturar"},
        {mnuver, "mnuver"},
        {mnugraficas, "mnugraficas"},
        {mnuabout, "mnuabout"},
        {Timer1, "Timer1"},
    };
    for (const auto &[object, name] : named)
        object->setObjectName(QLatin1StringView(name));
}

void principal::setDesignSize()
{
    // The design size is the smallest; a larger window gives the lists room.
    centralWidget()->setMinimumSize(tw(designWidth), tw(designHeight));
}

void principal::buildPane()
{
    Nsensor = new QGroupBox(QStringLiteral("Propiedades Dispositivos"), centralWidget());
    Nsensor->setGeometry(tw(120), tw(0), tw(6135), tw(1215));
    auto place = [this](QWidget *w, int left, int top, int width, int height) {
        w->setGeometry(tw(left), tw(top), tw(width), tw(height));
    };
    auto *lblnombre = new QLabel(QStringLiteral("Nombre"), Nsensor);
    place(lblnombre, 120, 300, 1215, 255);
    nombre = new QLineEdit(Nsensor);
    nombre->setToolTip(QStringLiteral("Nombre del sensor"));
    nombre->setMaxLength(16);
    soloWindows1252(nombre);
    place(nombre, 1440, 240, 2175, 315);
    auto *lblsn = new QLabel(QStringLiteral("Número de serie"), Nsensor);
    place(lblsn, 60, 780, 1392, 252);
    SN = new QLineEdit(Nsensor);
    SN->setToolTip(QStringLiteral("Número de serie del sensor"));
    SN->setMaxLength(19);
    place(SN, 1440, 720, 2175, 315);
    auto button = [this, place](const char *text, const char *tip, int left, int top, int width) {
        auto *b = new QPushButton(QString::fromUtf8(text), Nsensor);
        b->setToolTip(QString::fromUtf8(tip));
        place(b, left, top, width, 315);
        return b;
    };
    anadir = button("Añadi&r", "Añadir sensor a la lista", 3840, 240, 975);
    Borrar = button("&Borrar", "Borrar sensor de la lista", 3840, 720, 975);
    CMP = button("Com&probar", "Comprobar estado del sensor", 4860, 240, 1215);
    Avan = button("&Avanzadas", "Editar propiedades avanzadas", 4860, 720, 1215);
    // Its Alt+A is also "&Ayuda"'s: the menu bar alone owns the key and
    // hands it to the button while the button can act.
    Avan->setShortcut(QKeySequence());
    menuBar()->installEventFilter(this);
    for (auto *b : {anadir, Borrar, CMP, Avan})
        b->setEnabled(false);
    QWidget::setTabOrder(nombre, SN);
    QWidget::setTabOrder(SN, anadir);
    QWidget::setTabOrder(anadir, Borrar);
    QWidget::setTabOrder(Borrar, CMP);
    QWidget::setTabOrder(CMP, Avan);

    connect(nombre, &QLineEdit::textChanged, this, [this] { nombre_Change(); });
    connect(SN, &QLineEdit::textChanged, this, [this] { SN_Change(); });
    connect(anadir, &QPushButton::clicked, this, [this] { anadir_Click(); });
    connect(Borrar, &QPushButton::clicked, this, [this] { Borrar_Click(); });
    connect(CMP, &QPushButton::clicked, this, [this] { CMP_Click(); });
    connect(Avan, &QPushButton::clicked, this, [this] { Avan_Click(); });
    // Entering a box selects its whole text.
    nombre->installEventFilter(this);
    SN->installEventFilter(this);
}

void principal::buildLists()
{
    lista = new QGroupBox(centralWidget());
    lista->setGeometry(tw(120), tw(1200), tw(8715), tw(4815));
    auto setupList = [this](QAbstractItemView *v, int left, int top, int width, int height) {
        v->setFont(listFont());
        v->setGeometry(tw(left), tw(top), tw(width), tw(height));
    };
    titulo = new QListWidget(lista);
    setupList(titulo, 120, 240, 6672, 240);
    titulo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    titulo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    titulo->setFocusPolicy(Qt::NoFocus);
    Sensores = new QListView(lista);
    setupList(Sensores, 120, 540, 6675, 3840);
    Sensores->setUniformItemSizes(true);
    Sensores->setTextElideMode(Qt::ElideNone);
    Sensores->setSelectionMode(QAbstractItemView::SingleSelection);
    Sensores->setModel(model_.get());
    Sensores->installEventFilter(this);
    // A line picked with the mouse or the arrow keys loads its device, as a
    // click does; a selection the program sets raises Sensores_Click itself.
    connect(Sensores->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!selecting_)
            Sensores_Click();
    });
    connect(Sensores, &QListView::clicked, this, [this] { Sensores_Click(); });
    connect(Sensores, &QListView::doubleClicked, this, [this] { Sensores_DblClick(); });
    lblalarmas = new QListWidget(lista);
    setupList(lblalarmas, 6900, 240, 1695, 240);
    lblalarmas->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lblalarmas->setFocusPolicy(Qt::NoFocus);
    infoalarmas = new QListWidget(lista);
    setupList(infoalarmas, 6900, 540, 1695, 3840);
    infoalarmas->installEventFilter(this);
    designListaHeight_ = lista->height();
    designSensoresHeight_ = Sensores->height();
}

void principal::mnueditar_Click()
{
    if (savedListaTop_ == 0) {
        savedListaTop_ = toTwips(lista->y());
        // At the design size, whatever the window's size now.
        savedListaHeight_ = toTwips(designListaHeight_);
        savedSensoresHeight_ = toTwips(designSensoresHeight_);
    }
    if (mnueditar->isChecked()) {
        mnueditar->setChecked(false);
        Nsensor->hide();
        const int listaHeight = savedListaHeight_ + toTwips(Nsensor->height());
        lista->move(lista->x(), Nsensor->y());
        designListaHeight_ = tw(listaHeight);
        designSensoresHeight_ =
            tw(listaHeight - toTwips(titulo->height()) - qRound(1.5 * toTwips(titulo->y())));
    } else {
        mnueditar->setChecked(true);
        Nsensor->show();
        lista->move(lista->x(), tw(savedListaTop_));
        designListaHeight_ = tw(savedListaHeight_);
        designSensoresHeight_ = tw(savedSensoresHeight_);
    }
    fitLists();
}

// The extra width is shared in the proportion of the lists' design widths;
// the extra height goes to both lists whole. The warning list keeps the
// height the device list took.
void principal::fitLists()
{
    const int dx = std::max(0, centralWidget()->width() - tw(designWidth));
    const int dy = std::max(0, centralWidget()->height() - tw(designHeight));
    const int dxSensores = dx * 6675 / (6675 + 1695);
    lista->resize(tw(8715) + dx, designListaHeight_ + dy);
    titulo->resize(tw(6672) + dxSensores, titulo->height());
    Sensores->resize(tw(6675) + dxSensores, designSensoresHeight_ + dy);
    lblalarmas->setGeometry(tw(6900) + dxSensores, lblalarmas->y(), tw(1695) + dx - dxSensores,
                            lblalarmas->height());
    infoalarmas->setGeometry(tw(6900) + dxSensores, infoalarmas->y(), tw(1695) + dx - dxSensores,
                             Sensores->height());
}
