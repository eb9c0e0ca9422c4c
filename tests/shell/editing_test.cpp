// The pane: what an add does with a device already listed.
#include "monitor/sensoresmodel.h"
#include "shell/running.h"


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
