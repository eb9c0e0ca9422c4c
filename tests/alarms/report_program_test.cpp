// The reports by mail through the real climalog-avisos on the private
// PostgreSQL server, of lines the real climalog-archivo archived: a program
// down across three days' due times, and killed at random moments around
// the sending, mails each missed day once to each recipient, with the PDF
// that pdftotext reads back; started again, it sends nothing more.
#include "servers.h"

#include <QLocale>
#include <QTimeZone>

#include <map>
#include <random>

namespace {

const char *const role = "avisos_informes";

std::string day(const QDate &d) { return d.toString(Qt::ISODate).toStdString(); }
// A day as a report names its period.
QString period(const QDate &d)
{
    return QLocale(QLocale::Spanish).toString(d, u"d 'de' MMMM 'de' yyyy");
}

} // namespace

TEST(ReportProgram, MissedDaysMailedOnceThroughKills)
{
    const QTimeZone zone("Europe/Madrid");
    // Yesterday's lines reach its end before the test looks.
    while (QDateTime::currentDateTime().toTimeZone(zone).time() < QTime(0, 3))
        QThread::sleep(10);
    TempFolder t;
    Server smtp("smtp_server.py", t.file(QStringLiteral("correo")));
    PGconn *conn = freshArchive(role);
    const auto rows = [&](const std::string &sql) { return rowsOn(conn, sql); };

    // Station norte: a sensor between 18 and 22, a line a minute from three
    // days ago, a capture file a day.
    const Rec sala = Rec::device("Sala", STT).real(34, 18).real(38, 22).num(130, 1).num(138, 5);
    t.write(QStringLiteral("config1.ini"), Rec().text(0, 16, "00").b + sala.b);
    const QDateTime end = QDateTime::currentDateTime().toTimeZone(zone).addSecs(-60);
    const QDate today = end.date();
    QDir().mkpath(t.file(QStringLiteral("1")));
    for (QDateTime at(today.addDays(-3), QTime(0, 0), zone); at < end;) {
        QByteArray text = w1252("Hora  Sala (ºC)\r\n");
        for (const QDate d = at.date(); at.date() == d && at < end; at = at.addSecs(60))
            text += at.toString(QStringLiteral("dd-MM-yyyy HH:mm:ss")).toLatin1() + "  2" +
                QByteArray::number(at.time().hour() % 5) + ",5\r\n";
        t.write(at.addSecs(-60).toString(QStringLiteral("'1/'dd-MM-yyyy'-00.log'")), text);
    }
    archiveOnce(QStringLiteral("norte"), QStringLiteral("Europe/Madrid"),
                t.file(QStringLiteral("1")));
    // Sent by an earlier run: the day four days ago.
    rows("WITH e AS (INSERT INTO climalog.envio (destinatario, canal, direccion, asunto, cuerpo, "
         "enviado) VALUES ('ana', 'correo', 'ana@example.org', 'x', 'x', now()) RETURNING id) "
         "INSERT INTO climalog.informe_enviado (regla, estacion, desde, hasta, destinatario, "
         "envio, incompleto) SELECT 'salas', 1, '" +
         day(today.addDays(-4)) + " Europe/Madrid', '" + day(today.addDays(-3)) +
         " Europe/Madrid', 'ana', id, false FROM e");
    t.write(QStringLiteral("avisos.conf"),
            "[correo]\nservidor = smtp://127.0.0.1:" + QByteArray::number(smtp.port) +
                "\ntls = no\nreunir = 0\nremitente = avisos@example.org\nsitio = Museo\n"
                "[destinatario ana]\ncorreo = ana@example.org\n[destinatario luis]\n"
                "correo = luis@example.org\n[informe salas]\nestaciones = norte\n"
                "cada = diario\ndestinatarios = ana, luis\n");
    const QString rules = t.file(QStringLiteral("avisos.conf"));
    std::mt19937 random(20261209);
    const QStringList args{QStringLiteral("--reglas"), rules};
    for (int round = 0; round < 6; ++round) {
        Avisos a(role, args);
        QThread::msleep(200 + random() % 1500);
    }

    const std::string sent = "SELECT to_char(desde AT TIME ZONE 'Europe/Madrid', 'YYYY-MM-DD'), "
                             "i.destinatario, incompleto FROM climalog.informe_enviado i JOIN "
                             "climalog.envio e ON e.id = i.envio WHERE e.enviado IS NOT NULL "
                             "ORDER BY 1, 2";
    std::string expected = day(today.addDays(-4)) + "|ana|f\n";
    std::multiset<QString> wanted, mailed; // recipient and period of each mail
    for (int d = -3; d <= -1; ++d)
        for (const char *who : {"ana", "luis"}) {
            expected += day(today.addDays(d)) + "|" + who + "|f\n";
            wanted.insert(QLatin1String(who) + QStringLiteral("@example.org ") +
                          period(today.addDays(d)));
        }
    {
        Avisos a(role, args);
        EXPECT_TRUE(waitFor([&] { return rows(sent) == expected; }, 120000)) << rows(sent);
    }
    // Each stored message received, the same bytes if a kill sent it twice.
    std::map<QByteArray, QByteArray> byId;
    for (const QByteArray &m : smtp.received()) {
        const QByteArray id = header(m, "Message-ID");
        EXPECT_TRUE(!byId.count(id) || byId[id] == m) << id.constData();
        byId[id] = m;
    }
    EXPECT_EQ(rows("SELECT count(*) FROM climalog.envio WHERE adjunto IS NOT NULL"), "6\n");
    for (const auto &[id, mail] : byId) {
        // The part of the attachment, and the PDF it holds read back.
        const qsizetype part = mail.indexOf("\r\n--", mail.indexOf("Content-Type: text/plain"));
        const qsizetype start = mail.indexOf("\r\n\r\n", part) + 4;
        const QByteArray head = mail.mid(part, start - part);
        EXPECT_TRUE(head.contains("Content-Type: application/pdf") &&
                    head.contains("Content-Disposition: attachment"))
            << head.constData();
        t.write(QStringLiteral("informe.pdf"),
                QByteArray::fromBase64(mail.mid(start, mail.indexOf("\r\n--", start) - start)));
        QProcess p;
        p.start(QStringLiteral("pdftotext"),
                {t.file(QStringLiteral("informe.pdf")), QStringLiteral("-")});
        p.waitForFinished(60000);
        const QString text = QString::fromUtf8(p.readAllStandardOutput());
        // The subject names the period the PDF is of.
        const QString subject = decoded(header(mail, "Subject")),
                      of = subject.section(QStringLiteral("Informe diario de norte: "), 1);
        EXPECT_TRUE(text.contains(u"norte") && text.contains(u"Museo") && text.contains(of))
            << subject.toStdString() << "\n"
            << text.toStdString();
        mailed.insert(QString::fromLatin1(header(mail, "To")) + u' ' + of);
    }
    EXPECT_EQ(mailed, wanted);

    // Started again, after a look: nothing more.
    const qsizetype received = smtp.received().size();
    {
        Avisos a(role, args);
        QThread::msleep(5000);
    }
    EXPECT_EQ(rows(sent), expected);
    EXPECT_EQ(smtp.received().size(), received);
    PQfinish(conn);
}
