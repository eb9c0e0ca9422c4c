#include "monitor/sensoresmodel.h"
#include "support/windows.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

namespace {

// Demo network serials on COM1.
constexpr const char *sala = "28A3F2C501080011";
constexpr const char *pasillo = "2800B74410FF0022";
constexpr const char *humedad = "26E1905C00000033";
constexpr const char *conversor = "20C4001A0F000044";
constexpr const char *puerta = "1D5EE30700000055";
constexpr const char *rele = "3A7C11B200000077";

struct Editing : MainFixture {
    Editing() { EXPECT_TRUE(start(QStringLiteral("/1"))); }
    void type(QLineEdit *box, const QString &text)
    {
        box->clear();
        QTest::keyClicks(box, text);
    }
    void add(const QString &name, const QString &serialBox)
    {
        type(window->nombre, name);
        type(window->SN, serialBox);
        QTest::mouseClick(window->anadir, Qt::LeftButton);
    }
    QString line(int row) const { return window->model()->index(row).data().toString(); }
    void clickRow(int row)
    {
        window->Sensores->setCurrentIndex(window->model()->index(row));
        const QRect r = window->Sensores->visualRect(window->model()->index(row));
        QTest::mouseClick(window->Sensores->viewport(), Qt::LeftButton, {}, r.center());
    }
    QString names() const
    {
        QStringList list;
        for (int i = 1; i <= g.n(); ++i)
            list << trimBlanks(g.dispositivos[i].nombre.text());
        return list.join(QLatin1Char(','));
    }
    struct Buttons {
        bool anadir, avan, cmp;
        bool operator==(const Buttons &) const = default;
    };
    Buttons buttons() const { return {window->anadir->isEnabled(), window->Avan->isEnabled(), window->CMP->isEnabled()}; }
};

void PrintTo(const Editing::Buttons &b, std::ostream *os)
{
    *os << "anadir=" << b.anadir << " avan=" << b.avan << " cmp=" << b.cmp;
}

TEST(Editing, buttonsFollowTheBoxes)
{
    Editing f;
    using B = Editing::Buttons;
    f.type(f.window->SN, QStringLiteral("STT") + sala);
    EXPECT_EQ(f.buttons(), (B{false, false, true})) << "valid serial, no name: check only";
    f.type(f.window->nombre, QStringLiteral("Sala"));
    EXPECT_EQ(f.buttons(), (B{true, false, true})) << "typing the name afterwards leaves Avanzadas off";
    f.type(f.window->SN, QStringLiteral("stt") + pasillo);
    EXPECT_EQ(f.buttons(), (B{true, true, true})) << "serial changed with a name present";
    for (const QString &bad : {QStringLiteral("STT") + QString::fromLatin1(sala).left(15),
                               QStringLiteral("STT0000000000000000"), QStringLiteral("XYZ") + sala,
                               QStringLiteral("STT") + QString::fromLatin1(sala).left(15) + QStringLiteral("g")}) {
        f.type(f.window->SN, bad);
        EXPECT_EQ(f.buttons(), (B{false, false, false})) << bad.toStdString();
    }
}

TEST(Editing, checkStaysOffWithoutAConnection)
{
    MainFixture f;
    ASSERT_TRUE(f.start(QStringLiteral("/0")));
    QTest::keyClicks(f.window->SN, QStringLiteral("STT") + sala);
    EXPECT_FALSE(f.window->CMP->isEnabled());
}

TEST(Editing, addsNewDevicesWithTheirDefaults)
{
    Editing f;
    f.add(QStringLiteral("   Conversor de entrada larga"), QStringLiteral("AVI") + conversor);
    f.add(QStringLiteral("Sala"), QStringLiteral("STT") + sala);
    ASSERT_EQ(f.g.n(), 2);
    const Dispositivo &avi = f.g.dispositivos[1];
    // The box takes 16 characters; leading blanks go and the rest is padded.
    EXPECT_EQ(avi.nombre.text(), QStringLiteral("Conversor de    "));
    EXPECT_EQ(avi.ajuste, (std::array<std::int16_t, 4>{1, 1, 1, 1}));
    EXPECT_EQ(avi.ganancia, (std::array<float, 4>{1, 1, 1, 1}));
    EXPECT_EQ(avi.periodo, 1);
    const Dispositivo &stt = f.g.dispositivos[2];
    EXPECT_EQ(stt.nombre.text(), QStringLiteral("Sala            "));
    EXPECT_EQ(stt.ajuste[0], 0);
    EXPECT_EQ(stt.periodo, 1);
    EXPECT_TRUE(isZero(stt.snrele[0]));
    EXPECT_TRUE(f.g.modificado);
    EXPECT_EQ(f.window->model()->rowCount(), 2);
    EXPECT_TRUE(f.line(1).startsWith(QStringLiteral("STT  Sala"))) << f.line(1).toStdString();
    // The boxes keep their text after an add.
    EXPECT_EQ(f.window->nombre->text(), QStringLiteral("Sala"));
    EXPECT_TRUE(f.messages.texts.isEmpty());
}

TEST(Editing, duplicatesAndModification)
{
    struct Row {
        const char *name;
        const char *nombre;
        QString serialBox;
        Messages::Answer answer;
        QString message;
        const char *namesAfter;
    };
    const QString already = QStringLiteral("El dispositivo ya está en la lista");
    const QString question = QStringLiteral("El dispositivo ya está en la lista.\r\n¿Desea modificar sus propiedades?");
    const Row rows[] = {
        {"nameDiffersOnlyInCase", "SALA", QStringLiteral("STT") + humedad, Messages::Answer::Ok, already, "Sala,Pasillo"},
        {"serialOfSecondNameOfFirst", "Sala", QStringLiteral("STT") + pasillo, Messages::Answer::Ok, already, "Sala,Pasillo"},
        {"serialOfSecondNewNameYes", "Entrada", QStringLiteral("STT") + pasillo, Messages::Answer::Yes, question, "Sala,Entrada"},
        {"serialOfSecondNewNameNo", "Entrada", QStringLiteral("STT") + pasillo, Messages::Answer::No, question, "Sala,Pasillo"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Editing f;
        f.add(QStringLiteral("Sala"), QStringLiteral("STT") + sala);
        f.add(QStringLiteral("Pasillo"), QStringLiteral("STT") + pasillo);
        f.g.modificado = false;
        f.messages.answer(row.answer);
        f.add(QString::fromLatin1(row.nombre), row.serialBox);
        ASSERT_EQ(f.messages.texts.size(), 1);
        EXPECT_EQ(f.messages.texts[0], row.message);
        EXPECT_EQ(f.names(), QString::fromLatin1(row.namesAfter));
        EXPECT_EQ(f.g.modificado, row.answer == Messages::Answer::Yes);
    }
}

TEST(Editing, refusesAnInvalidNameOrSerial)
{
    Editing f;
    f.window->nombre->setText(QStringLiteral("   "));
    f.window->SN->setText(QStringLiteral("STT") + sala);
    f.window->anadir_Click();
    f.window->nombre->setText(QStringLiteral("Sala"));
    f.window->SN->setText(QStringLiteral("XYZ") + sala);
    f.window->anadir_Click();
    EXPECT_EQ(f.messages.texts, (QStringList{QStringLiteral("Nombre incorrecto"), QStringLiteral("Número de serie incorrecto")}));
    EXPECT_EQ(f.g.n(), 0);
}

TEST(Editing, deletion)
{
    Editing f;
    f.add(QStringLiteral("Sala"), QStringLiteral("STT") + sala);
    f.add(QStringLiteral("Puerta"), QStringLiteral("DET") + puerta);
    f.add(QStringLiteral("Rele"), QStringLiteral("CTR") + rele);
    // The Delete key deletes the selected device without a question.
    f.clickRow(1);
    EXPECT_TRUE(f.window->Borrar->isEnabled());
    QTest::keyClick(f.window->Sensores, Qt::Key_Delete);
    EXPECT_EQ(f.names(), QStringLiteral("Sala,Rele"));
    EXPECT_TRUE(f.messages.texts.isEmpty());
    // The rebuild loaded the device now at the selected position.
    EXPECT_EQ(f.window->nombre->text(), QStringLiteral("Rele"));
    EXPECT_EQ(f.g.lstctr.size(), 2u);
    EXPECT_EQ(f.g.lstctr[1].indice, 2);

    QTest::mouseClick(f.window->Borrar, Qt::LeftButton);
    EXPECT_EQ(f.names(), QStringLiteral("Sala"));
    // Selection clamped to the new last line.
    EXPECT_EQ(f.window->Sensores->currentIndex().row(), 0);

    // Deleting a serial that is not in the table.
    f.window->SN->setText(QStringLiteral("CTR") + rele);
    QTest::mouseClick(f.window->Borrar, Qt::LeftButton);
    EXPECT_EQ(f.messages.texts, QStringList{QStringLiteral("El dispositivo no está en la lista")});

    // With the pane hidden the Delete key does nothing.
    f.window->mnueditar_Click();
    f.clickRow(0);
    QTest::keyClick(f.window->Sensores, Qt::Key_Delete);
    EXPECT_EQ(f.names(), QStringLiteral("Sala"));
}

TEST(Editing, clickLoadsTheDeviceIntoThePane)
{
    Editing f;
    f.add(QStringLiteral("Sala"), QStringLiteral("STT") + sala);
    f.add(QStringLiteral("Humedad"), QStringLiteral("HRT") + humedad);
    f.g.dispositivos[2].alarma = {18, 22, 0, 0};
    f.window->nombre->clear();
    f.window->SN->clear();
    f.clickRow(1);
    EXPECT_EQ(f.window->nombre->text(), QStringLiteral("Humedad"));
    EXPECT_EQ(f.window->SN->text(), QStringLiteral("HRT") + humedad);
    EXPECT_EQ(f.g.dispactual, f.g.dispositivos[2]);
    // A tick's rebuild keeps the selection and leaves the pane alone.
    f.window->nombre->setText(QStringLiteral("otro"));
    f.window->Timer1_Timer();
    EXPECT_EQ(f.window->Sensores->currentIndex().row(), 1);
    EXPECT_EQ(f.window->nombre->text(), QStringLiteral("otro"));
}

TEST(Editing, paneToggleRestoresTheSavedLayout)
{
    Editing f;
    auto twips = [&](int px) { return qRound(px * 1440.0 / f.window->logicalDpiX()); };
    ASSERT_TRUE(f.window->mnueditar->isChecked());
    const QRect lista = f.window->lista->geometry();
    const int sensores = f.window->Sensores->height();
    f.window->mnueditar_Click();
    EXPECT_FALSE(f.window->mnueditar->isChecked());
    EXPECT_TRUE(f.window->Nsensor->isHidden());
    EXPECT_EQ(f.window->lista->y(), 0);
    EXPECT_NEAR(twips(f.window->lista->height()), 6030, 15);
    EXPECT_GT(f.window->Sensores->height(), sensores);
    EXPECT_EQ(f.window->infoalarmas->height(), f.window->Sensores->height());
    for (int k = 0; k < 3; ++k)
        f.window->mnueditar_Click();
    EXPECT_TRUE(f.window->mnueditar->isChecked());
    EXPECT_EQ(f.window->lista->geometry(), lista);
    EXPECT_EQ(f.window->Sensores->height(), sensores);
}

}
