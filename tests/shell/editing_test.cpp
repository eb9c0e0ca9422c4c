// The pane: which buttons the boxes enable, and what an add does with a
// device already listed.
#include "monitor/sensoresmodel.h"
#include "shell/running.h"

#include <QPushButton>
#include <QTest>

namespace {

TEST(Pane, buttonsFollowTheBoxes)
{
    Running f;
    const struct {
        QLineEdit *box;
        const char *text;
        const char *enabled; // Añadir, Avanzadas, Comprobar
    } steps[] = {
        {f.window->SN, "STT28A3F2C501080011", "001"}, // a serial, no name: check only
        {f.window->nombre, "Sala", "101"},            // the name typed afterwards leaves Avanzadas off
        {f.window->SN, "stt2800B74410FF0022", "111"},
        {f.window->SN, "STT28A3F2C50108001", "000"},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.text);
        step.box->clear();
        QTest::keyClicks(step.box, QString::fromLatin1(step.text));
        const QString enabled = QStringLiteral("%1%2%3").arg(int(f.window->anadir->isEnabled()))
                                    .arg(int(f.window->Avan->isEnabled())).arg(int(f.window->CMP->isEnabled()));
        EXPECT_EQ(enabled, QString::fromLatin1(step.enabled));
    }
}

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
        {"   ", "STT26E1905C00000033", Messages::Answer::Ok, QStringLiteral("Nombre incorrecto"), "Sala,Pasillo"},
        {"Otro", "XYZ26E1905C00000033", Messages::Answer::Ok, QStringLiteral("Número de serie incorrecto"), "Sala,Pasillo"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.nombre) + " " + row.serial);
        Running f;
        f.add("Sala", "STT28A3F2C501080011");
        f.add("Pasillo", "STT2800B74410FF0022");
        f.g.modificado = false;
        f.messages.answer(row.answer);
        f.add(row.nombre, row.serial);
        EXPECT_EQ(f.messages.texts, row.message.isEmpty() ? QStringList{} : QStringList{row.message});
        EXPECT_EQ(f.names(), QString::fromLatin1(row.names));
        EXPECT_EQ(f.g.modificado, row.answer == Messages::Answer::Yes || row.message.isEmpty());
        EXPECT_EQ(f.window->model()->rowCount(), f.g.n());
    }
}

}
