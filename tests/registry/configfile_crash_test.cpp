// A save killed at any moment leaves the previous table or the new one on
// disk, whole: never a missing, short or mixed file.
#include "registry/configfile.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <poll.h>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::vector<Dispositivo> table(int devices, std::int16_t tipo, float alarma)
{
    std::vector<Dispositivo> t(devices + 1);
    t[0].nombre = QStringLiteral("00");
    for (int i = 1; i <= devices; ++i) {
        t[i].nombre = QStringLiteral("S%1").arg(i, 6, 10, QLatin1Char('0'));
        t[i].tipo = tipo;
        t[i].alarma.fill(alarma + float(i));
        t[i].periodo = std::int16_t(i);
    }
    return t;
}

} // namespace

TEST(ConfigFileCrash, KilledSaveLeavesOneWholeTable)
{
    TempFolder tf;
    const QString path = tf.file("config1.ini");
    // Different sizes and contents, so a torn or mixed file cannot pass.
    const std::vector<Dispositivo> a = table(3000, STT, 10.0f);
    const std::vector<Dispositivo> b = table(2500, HRT, -5.0f);
    const QByteArray bytesA = configfile::encode(a);
    const QByteArray bytesB = configfile::encode(b);
    ASSERT_TRUE(configfile::write(path, a).ok);

    std::mt19937 rng(7);
    long completed = 0;
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        int done[2];
        ASSERT_EQ(::pipe(done), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(done[0]);
            for (long i = 0;; ++i) {
                if (!configfile::write(path, i % 2 == 0 ? b : a).ok)
                    ::_exit(2);
                const char c = 1;
                if (::write(done[1], &c, 1) != 1)
                    ::_exit(3);
            }
        }
        ::close(done[1]);
        // Every other round lets at least one save finish, so the file changes.
        if (round % 2 == 1) {
            pollfd p{done[0], POLLIN, 0};
            EXPECT_EQ(::poll(&p, 1, 5000), 1);
        }
        ::usleep(std::uniform_int_distribution<unsigned>(0, 30000)(rng));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the saving child failed on its own";
        char buffer[256];
        ssize_t got;
        while ((got = ::read(done[0], buffer, sizeof buffer)) > 0)
            completed += got;
        ::close(done[0]);

        const QByteArray now = tf.read("config1.ini");
        EXPECT_TRUE(now == bytesA || now == bytesB) << "file of " << now.size() << " bytes";
    }
    EXPECT_GT(completed, 0);
}
