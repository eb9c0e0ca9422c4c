#include "netaccess/binding.h"
#include "support/support.h"
#include "registry/general.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

std::unique_ptr<SondaIO> library()
{
    QString error;
    auto io = SondaIO::load(binFolder(), &error);
    EXPECT_TRUE(io) << error.toStdString();
    sim::load(nullptr);
    return io;
}

QString upToNul(const FixedText<100> &text)
{
    const QString s = text.text();
    return s.left(s.indexOf(QChar(u'\0')));
}

TEST(Binding, missingLibraryOrCallIsAMessageNamingTheFile)
{
    TempFolder empty;
    QString error;
    EXPECT_FALSE(SondaIO::load(empty.path(), &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("No se puede cargar la librería de acceso a la red "))) << error.toStdString();
    EXPECT_TRUE(error.contains(SondaIO::fileName()));

    const QString partial = QDir(binFolder()).filePath(QStringLiteral("partial"));
    EXPECT_FALSE(SondaIO::load(partial, &error));
    EXPECT_TRUE(error.contains(SondaIO::fileName())) << error.toStdString();
    EXPECT_TRUE(error.endsWith(QStringLiteral("no tiene la función FinalizarCNX."))) << error.toStdString();
}

TEST(Binding, refusedPortLeavesTheLibraryMessage)
{
    auto io = library();
    FixedText<100> mensaje;
    EXPECT_LE(io->IniciarCNX(2, QStringLiteral("COM3"), mensaje), 0);
    EXPECT_EQ(upToNul(mensaje), QStringLiteral("No se puede abrir el puerto COM3: no hay respuesta de la red"));
    EXPECT_GT(io->IniciarCNX(0, QStringLiteral("COM1"), mensaje), 0);
}

TEST(Binding, failedReadKeepsTheWordsItWasGiven)
{
    auto io = library();
    Serial serial = sn("28A3F2C501080011");
    SondaIO::Words words{11, 22, 33, 44};
    // Not connected yet: the call fails and the block comes back unchanged.
    EXPECT_LE(io->LeerTemperatura(0, serial, words), 0);
    EXPECT_EQ(words, (SondaIO::Words{11, 22, 33, 44}));
    FixedText<100> mensaje;
    ASSERT_GT(io->IniciarCNX(0, QStringLiteral("COM1"), mensaje), 0);
    ASSERT_EQ(sim::setWords(0, serial, -12), 0);
    EXPECT_GT(io->LeerTemperatura(0, serial, words), 0);
    EXPECT_EQ(words[0], -12);
    EXPECT_EQ(serial, sn("28A3F2C501080011"));
}

TEST(Binding, printableSerialKeepsEveryByte)
{
    auto io = library();
    for (const char *hex : {"0123456789ABCDEF", "00FF00FF00FF00FF", "0700000000000007"}) {
        Serial serial = sn(hex);
        EXPECT_EQ(io->ConvertSerialNum(serial), QString::fromLatin1(hex));
    }
}

TEST(Binding, relayWordsAndSearchesReachTheNetwork)
{
    auto io = library();
    FixedText<100> mensaje;
    ASSERT_GT(io->IniciarCNX(0, QStringLiteral("COM1"), mensaje), 0);
    Serial relay = sn("3A7C11B200000077");
    io->EscribirCTR(0, relay, 1, 0);
    std::int16_t out1 = -1, out2 = -1;
    EXPECT_EQ(sim::relayWords(0, relay, out1, out2), 1);
    EXPECT_EQ(out1, 1);
    EXPECT_EQ(out2, 0);
    SondaIO::Words words{};
    EXPECT_GT(io->LeerDET(0, relay, words), 0);
    EXPECT_EQ(words[0], 1);

    SondaIO::SearchBuffer found{};
    EXPECT_EQ(io->BuscarConversoresAD(0, found), 1);
    EXPECT_EQ(seriehex(Serial{found[0], found[1], found[2], found[3], found[4], found[5], found[6], found[7]}),
              QStringLiteral("20C4001A0F000044"));
}

}
