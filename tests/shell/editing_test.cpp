// The pane: what an add does with a device already listed, and names of
// every byte.
#include "monitor/capture.h"
#include "monitor/sensoresmodel.h"
#include "registry/cp1252.h"
#include "shell/running.h"
#include "support/controls.h"

#include <QTest>

namespace {

TEST(Pane, addRefusesWhatIsListedAndModifiesWhenAsked)
{
    const QString already = QStringLiteral("El dispositivo ya está en la lista");
    const QString question = already + QStringLiteral(".\r\n¿Desea modificar sus propiedades?");
    const struct {
        const char *nombre, *serial;
        Messages::Answer answer;
        QString message;
        const char *names;
    } rows[] = {
        {"Sala", "STT2800B74410FF0022", Messages::Answer::Ok, already, "Sala,Pasillo"},
        {"pasillo", "STT28A3F2C501080011", Messages::Answer::Ok, already, "Sala,Pasillo"},
        {"Entrada", "STT2800B74410FF0022", Messages::Answer::Yes, question, "Sala,Entrada"},
        {"   ", "STT26E1905C00000033", Messages::Answer::Ok, QStringLiteral("Nombre incorrecto"),
         "Sala,Pasillo"},
        {"Otro", "XYZ26E1905C00000033", Messages::Answer::Ok,
         QStringLiteral("Número de serie incorrecto"), "Sala,Pasillo"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.nombre) + " " + row.serial);
        Running f;
        f.add("Sala", "STT28A3F2C501080011");
        f.add("Pasillo", "STT2800B74410FF0022");
        f.g.modificado = false;
        f.messages.answer(row.answer);
        f.add(row.nombre, row.serial);
        EXPECT_EQ(f.messages.texts,
                  row.message.isEmpty() ? QStringList{} : QStringList{row.message});
        EXPECT_EQ(f.names(), QString::fromLatin1(row.names));
        EXPECT_EQ(f.g.modificado, row.answer == Messages::Answer::Yes || row.message.isEmpty());
        EXPECT_EQ(f.window->model()->rowCount(), f.g.n());
    }
}

// Names holding every byte from 0x80 up, typed into the pane; the soft
// hyphen and the five bytes Windows-1252 leaves undefined, which no key
// types, come from a file (they read as the control characters of their
// value). The configuration file and the capture header hold them as they
// are.
TEST(Pane, namesKeepEveryByteThroughFileAndCapture)
{
    const QByteArray untyped("\x81\x8D\x8F\x90\x9D\xAD");
    Running f;
    f.folder.write(QStringLiteral("config1.ini"),
                   Rec().text(0, 16, "00").b +
                       Rec().text(0, 16, untyped).num(16, 1).num(24, STT).b);
    f.window->cargar_Click();
    QList<QByteArray> names{untyped};
    for (int k = 0; k < 8; ++k) {
        names << QByteArray();
        for (int b = 0x80 + k; b <= 0xFF; b += 8)
            names.last() += untyped.contains(char(b)) ? QByteArray() : QByteArray(1, char(b));
        control<QLineEdit>(*f.window, "nombre")->clear();
        for (const QChar c : cp1252::decode(names.last().toStdString()))
            QTest::sendKeyEvent(QTest::Click, control<QLineEdit>(*f.window, "nombre"),
                                Qt::Key_unknown, QString(c), Qt::NoModifier);
        control<QLineEdit>(*f.window, "SN")->setText(QStringLiteral("STT100000000000000%1").arg(k));
        f.window->anadir_Click();
    }
    f.window->salvar_Click();
    control<QAction>(*f.window, "mnucapturar")->trigger();
    const QByteArray config = f.folder.read(QStringLiteral("config1.ini"));
    const QByteArray header =
        f.folder.read(QStringLiteral("1/") + f.g.fichero).split('\r').value(0);
    qsizetype size = 4; // "Hora", then a column "  name (ºC)" each
    for (const QByteArray &name : names) {
        EXPECT_TRUE(config.contains(name.leftJustified(16, ' ')) &&
                    header.contains("  " + name + " (\272C)"))
            << name.toHex().data();
        size += name.size() + 7;
    }
    EXPECT_EQ(std::pair(f.g.n(), header.size()), std::pair(9, size));
}

}
