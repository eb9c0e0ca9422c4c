// The real climalog-avisos on the private PostgreSQL server of
// scripts/testdb.sh, as the alarm program's own login role, judging lines
// that the real climalog-archivo archived from capture files: an alarm and
// its notifications once each, also when the program is killed at random
// moments while lines arrive; a standby that takes over from a program
// killed; a bad rules file refused at the start and, on SIGHUP, the rules in
// force kept.
#include "servers.h"

#include <QTimeZone>

#include <map>
#include <random>

namespace {

const char *const role = "avisos_prueba";

// A station "norte" of one port whose sensor Sala is watched between 18 and
// 22 with a line every 10 s, from an hour ago, in Kolkata (five and a half
// hours past UTC); archived on demand. Its mail server and webhook receiver
// are real.
struct Plant {
    Plant() : conn(freshArchive(role))
    {
        // Within one day, whatever the hour.
        QDateTime b = QDateTime::currentDateTimeUtc().toTimeZone(zone).addSecs(-3600);
        b.setTime(QTime(std::min(b.time().hour(), 22), b.time().minute()));
        base = b;
        QDir().mkpath(t.file(QStringLiteral("1")));
        t.write(QStringLiteral("config1.ini"),
                Rec().text(0, 16, "00").b +
                    Rec::device("Sala", STT).real(34, 18).real(38, 22).num(130, 1).num(138, 5).b);
        capture = t.file(QStringLiteral("1/") + base.toString(QStringLiteral("dd-MM-yyyy")) +
                         QStringLiteral("-00.log"));
        append(capture, w1252("Hora  Sala (ºC)\r\n"));
    }
    ~Plant() { PQfinish(conn); }
    std::string rows(const std::string &sql) const { return rowsOn(conn, sql); }
    // Lines of these readings, one every 10 s after the last written.
    void add(const std::vector<double> &values)
    {
        QByteArray text;
        for (const double v : values) {
            text += base.addSecs(10 * written++)
                        .toString(QStringLiteral("dd-MM-yyyy HH:mm:ss"))
                        .toLatin1() +
                "  " + QByteArray::number(v).replace('.', ',') + "\r\n";
        }
        append(capture, text);
    }
    void archive() const
    {
        archiveOnce(QStringLiteral("norte"), QString::fromLatin1(zone.id()),
                    t.file(QStringLiteral("1")));
    }
    void arrive(const std::vector<double> &values)
    {
        add(values);
        archive();
    }
    // Waits up to `ms` for the alarms to be `want`.
    bool alarmsBecome(const std::string &want, int ms = 30000) const
    {
        return waitFor([&] { return alarms() == want; }, ms);
    }
    // The rules file; ana is told by mail, luis by webhook, each event at once.
    QString rules(const char *rule) const
    {
        t.write(QStringLiteral("avisos.conf"),
                "[correo]\nservidor = smtp://127.0.0.1:" + QByteArray::number(smtp.port) +
                    "\ntls = no\nreunir = 0\nremitente = avisos@example.org\n"
                    "[destinatario ana]\ncorreo = ana@example.org\n"
                    "[destinatario luis]\nwebhook = " +
                    url + "\n" + rule);
        return t.file(QStringLiteral("avisos.conf"));
    }
    // The local time of a line, as the station wrote it.
    QString lineTime(int line) const
    {
        return base.addSecs(10 * line).toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
    }
    // Every event gathered and every message sent.
    bool allSent() const
    {
        return rows("SELECT (SELECT count(*) FROM climalog.salida WHERE envio IS NULL) + (SELECT "
                    "count(*) FROM climalog.envio WHERE enviado IS NULL)") == "0\n";
    }
    // The line number of a column's instant, in SQL.
    std::string line(const char *column) const
    {
        return std::string("(extract(epoch FROM ") + column + ")::bigint - " +
            std::to_string(base.toSecsSinceEpoch()) + ") / 10";
    }
    // Each alarm: condition, rule, start and end as line numbers, extreme, limit.
    std::string alarms() const
    {
        return rows("SELECT condicion, regla, " + line("inicio") + ", coalesce((" + line("fin") +
                    ")::text, '-'), extremo, limite FROM climalog.aviso ORDER BY inicio");
    }
    // Each notification: event, line number, recipient, channel, address.
    std::string notices() const
    {
        return rows("SELECT suceso, " + line("instante") +
                    ", destinatario, canal, direccion FROM " +
                    "climalog.salida ORDER BY instante, suceso, destinatario");
    }
    // The line number judged up to.
    int judged() const
    {
        const std::string r = rows("SELECT " + line("hasta") + " FROM climalog.avisos_puerto");
        return r.empty() || r[0] == '!' ? -1 : std::stoi(r);
    }

    const QTimeZone zone{"Asia/Kolkata"};
    PGconn *conn;
    TempFolder t;
    Server smtp{"smtp_server.py", t.file(QStringLiteral("correo"))};
    Server hook{"webhook_server.py", t.file(QStringLiteral("webhook"))};
    const QByteArray url = "http://127.0.0.1:" + QByteArray::number(hook.port) + "/avisos";
    QDateTime base;
    QString capture;
    int written = 0;
};

const char *const salas = "[regla salas]\ncondiciones = alto, bajo\ndestinatarios = ana, luis\n";

} // namespace

// A line above the maximum: one alarm from its instant to that of the first
// line inside again, its farthest value and the limit, and a notification
// per recipient for each, sent before the run ends: one mail and one POST
// holding both, in the station's time; judged again, nothing more. An alarm
// still active is not raised again by the next run, and ends with its line.
// With the mail server gone, the run says what is left and fails.
TEST(Program, AlarmAndItsNotificationsOnce)
{
    Plant plant;
    const QStringList once{QStringLiteral("--una-vez"), QStringLiteral("--reglas"),
                           plant.rules(salas)};
    const auto run = [&] { return runProgram("climalog-avisos", once, role); };
    plant.arrive({21, 21, 23.5, 24, 22, 21});
    const auto [code, said] = run();
    EXPECT_EQ(code, 0) << said.toStdString();
    EXPECT_EQ(plant.alarms(), "alto|salas|2|4|24|22\n");
    const std::string url = plant.url.toStdString();
    const std::string ana = "|ana|correo|ana@example.org\n", luis = "|luis|webhook|" + url + "\n";
    EXPECT_EQ(plant.notices(), "alta|2" + ana + "alta|2" + luis + "fin|4" + ana + "fin|4" + luis);
    EXPECT_EQ(run().first, 0);
    EXPECT_EQ(plant.rows("SELECT count(*) FROM climalog.salida"), "4\n");
    const QByteArrayList mails = plant.smtp.received(), posts = plant.hook.received();
    ASSERT_EQ(mails.size(), 1);
    ASSERT_EQ(posts.size(), 1);
    EXPECT_EQ(header(mails[0], "To"), "ana@example.org");
    // Both events in each, the end's in the station's time (half an hour off UTC's hours).
    EXPECT_TRUE(bodyOf(mails[0]).contains(plant.lineTime(4) + QStringLiteral(" (Asia/Kolkata)")))
        << bodyOf(mails[0]).toStdString();
    const QByteArray local = "\"hora_local\":\"" + plant.lineTime(2).toLatin1() + "\"";
    EXPECT_TRUE(posts[0].contains(local) && posts[0].contains("\"suceso\":\"fin\""))
        << posts[0].constData();

    for (const std::vector<double> &values : {std::vector<double>{17.5, 17}, {16.5}, {18}}) {
        plant.arrive(values);
        EXPECT_EQ(run().first, 0);
    }
    EXPECT_EQ(plant.alarms(), "alto|salas|2|4|24|22\nbajo|salas|6|9|16.5|18\n");
    EXPECT_EQ(plant.rows("SELECT suceso, count(*) FROM climalog.salida GROUP BY 1 ORDER BY 1"),
              "alta|4\nfin|4\n");
    // Its start and its end, each a mail and a POST of its own.
    EXPECT_EQ(plant.smtp.received().size(), 3);
    EXPECT_EQ(plant.hook.received().size(), 3);

    plant.smtp.stop();
    plant.arrive({23});
    const auto [failed, told] = run();
    EXPECT_EQ(failed, 3);
    EXPECT_TRUE(told.endsWith(QStringLiteral("Queda 1 mensaje sin enviar.\n")))
        << told.toStdString();
    EXPECT_EQ(plant.hook.received().size(), 4);
}

// Killed at random moments while lines arrive, and started again each time:
// in the end every alarm once, none missed, each notification once, and
// each stored message received once or, sent when a kill came before its
// mark, twice with its one Message-ID.
TEST(Program, KilledAnywhereRaisesEachAlarmOnce)
{
    Plant plant;
    const QStringList args{QStringLiteral("--reglas"), plant.rules(salas)};
    std::mt19937 random(20261209);
    std::string expected;
    for (int round = 0; round < 8; ++round) {
        // Each round: 3 alarms of 4 lines above the maximum, 6 inside
        // between; archived before the program starts (killed while it
        // catches up) or while it runs (killed while it follows).
        for (int k = 0; k < 3; ++k) {
            const int first = plant.written;
            plant.add({21, 21, 21, 21, 21, 21, 23, 24, 25, 23});
            expected += "alto|salas|" + std::to_string(first + 6) + "|" +
                std::to_string(first + 10) + "|25|22\n";
        }
        if (round % 2)
            plant.archive();
        Avisos program(role, args);
        if (round % 2 == 0)
            plant.archive();
        QThread::msleep(random() % 400);
        program.signal(SIGKILL);
    }
    plant.arrive({21});
    {
        Avisos program(role, args);
        EXPECT_TRUE(waitFor([&] { return plant.judged() == plant.written - 1; }, 60000))
            << plant.judged();
        EXPECT_TRUE(waitFor([&] { return plant.allSent(); }, 60000));
    }
    EXPECT_EQ(plant.alarms(), expected);
    EXPECT_EQ(plant.rows("SELECT count(*), count(DISTINCT (aviso, suceso, destinatario)) FROM "
                         "climalog.salida"),
              "96|96\n");
    // Received: the Message-ID (a webhook's on its first line) of each.
    std::map<std::string, int> times;
    for (const QByteArray &m : plant.smtp.received())
        ++times[header(m, "Message-ID").toStdString()];
    for (const QByteArray &m : plant.hook.received())
        ++times[m.left(m.indexOf('\n')).toStdString()];
    std::string stored;
    for (const auto &[id, n] : times) {
        EXPECT_LE(n, 2) << id;
        stored += id + "\n";
    }
    EXPECT_EQ(plant.rows("SELECT mensaje_id FROM climalog.envio ORDER BY mensaje_id COLLATE \"C\""),
              stored);
}

// Two programs: one works, the other waits; the working one killed, the
// other judges the next lines within 10 s; SIGTERM ends either cleanly.
TEST(Program, StandbyTakesOver)
{
    Plant plant;
    const QStringList args{QStringLiteral("--reglas"), plant.rules(salas)};
    auto first = std::make_unique<Avisos>(role, args);
    EXPECT_TRUE(waitFor([&] { return first->said("Vigilando"); })) << first->out.toStdString();
    Avisos second(role, args);
    EXPECT_TRUE(waitFor([&] { return second.said("En espera"); })) << second.out.toStdString();
    plant.arrive({21, 23, 21});
    EXPECT_TRUE(plant.alarmsBecome("alto|salas|1|2|23|22\n", 10000)) << plant.alarms();
    {
        // A standby asked to end, ends.
        Avisos third(role, args);
        EXPECT_TRUE(waitFor([&] { return third.said("En espera"); }));
        third.endsWhenAsked();
    }
    first->signal(SIGKILL);
    first.reset();
    plant.arrive({24, 21});
    EXPECT_TRUE(plant.alarmsBecome("alto|salas|1|2|23|22\nalto|salas|3|4|24|22\n", 10000))
        << plant.alarms();
    second.endsWhenAsked();
}

// A bad rules file: refused at the start with its line and why; on SIGHUP,
// the rules in force kept; a good one then taken.
TEST(Program, BadRulesFileAndSighup)
{
    Plant plant;
    const QString file = plant.rules("[regla r]\ncondiciones = alto\nretardo = pronto\n");
    const auto [code, said] =
        runProgram("climalog-avisos", {QStringLiteral("--reglas"), file}, role);
    EXPECT_EQ(code, 2);
    const std::string why = ":12: «retardo» son segundos (o un número y «s», «min» o «h»), "
                            "hasta una semana\n";
    EXPECT_EQ(said.toStdString(), file.toStdString() + why);

    plant.rules(salas);
    Avisos program(role, {QStringLiteral("--reglas"), file});
    EXPECT_TRUE(waitFor([&] { return program.said("Vigilando"); }));
    plant.rules("[regla camaras]\ncondiciones = alto\ndestinatarios = nadie\n");
    program.signal(SIGHUP);
    EXPECT_TRUE(waitFor([&] { return program.said("siguen en vigor"); }))
        << program.out.toStdString();
    EXPECT_TRUE(program.out.contains(
        QString::fromStdString(file.toStdString() +
                               ":12: destinatario desconocido «nadie»: falta su [destinatario "
                               "nadie]: siguen en vigor las reglas anteriores.")))
        << program.out.toStdString();
    plant.arrive({21, 23, 21});
    EXPECT_TRUE(plant.alarmsBecome("alto|salas|1|2|23|22\n")) << plant.alarms();

    plant.rules("[regla camaras]\ncondiciones = alto\ndestinatarios = ana\n");
    program.signal(SIGHUP);
    EXPECT_TRUE(waitFor([&] { return program.said("Reglas leídas de nuevo"); }));
    plant.arrive({24, 21});
    EXPECT_TRUE(plant.alarmsBecome("alto|salas|1|2|23|22\nalto|camaras|3|4|24|22\n"))
        << plant.alarms();
    EXPECT_EQ(plant.rows("SELECT destinatario, suceso FROM climalog.salida s JOIN climalog.aviso "
                         "a ON a.id = s.aviso WHERE a.regla = 'camaras' ORDER BY 2"),
              "ana|alta\nana|fin\n");
}
