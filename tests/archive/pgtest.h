// The archive tests' side of the private PostgreSQL server that ./test.sh
// starts (scripts/testdb.sh): a fresh database per test, queries read back
// as text, the archive program run against it, the server stopped and
// started again.
#pragma once

#include "support/support.h"

#include <libpq-fe.h>

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <QTimeZone>

#include <algorithm>

#include <functional>
#include <string>
#include <vector>

class TestDatabase {
public:
    TestDatabase()
    {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        name_ = "t_" + QByteArray(info->name()).toLower();
        PGconn *admin = PQconnectdb("dbname=postgres");
        if (PQstatus(admin) != CONNECTION_OK) {
            ADD_FAILURE() << "The private PostgreSQL server of the tests does not answer: " << PQerrorMessage(admin)
                          << "./test.sh starts it with scripts/testdb.sh; its log is "
                          << qgetenv("CLIMALOG_TEST_PG_DIR").toStdString() << "/server.log";
            PQfinish(admin);
            return;
        }
        command(admin, "DROP DATABASE IF EXISTS " + name_);
        command(admin, "CREATE DATABASE " + name_);
        PQfinish(admin);
        connect();
    }
    ~TestDatabase() { PQfinish(conn_); }

    bool ok() const { return conn_ && PQstatus(conn_) == CONNECTION_OK; }
    QString address() const { return QStringLiteral("postgresql:///") + QString::fromLatin1(name_); }
    // A connection lost with the server is made again.
    void connect()
    {
        PQfinish(conn_);
        conn_ = PQconnectdb(("dbname=" + name_).constData());
        // Times read back as the test's own local time, as the capture texts hold them.
        command(conn_, "SET TIME ZONE '" + QTimeZone::systemTimeZoneId() + "'");
    }

    // Rows of a query, fields joined by '|', NULL as "ERR".
    std::vector<std::string> rows(const char *sql, bool quiet = false) const
    {
        std::vector<std::string> out;
        PGresult *r = PQexec(conn_, sql);
        if (!quiet) {
            EXPECT_EQ(PQresultStatus(r), PGRES_TUPLES_OK) << sql << ": " << PQresultErrorMessage(r);
        }
        for (int i = 0; i < PQntuples(r); ++i) {
            std::string row;
            for (int f = 0; f < PQnfields(r); ++f)
                row += (f ? "|" : "") + std::string(PQgetisnull(r, i, f) ? "ERR" : PQgetvalue(r, i, f));
            out.push_back(row);
        }
        PQclear(r);
        return out;
    }
    // -1 when the query fails (quietly: the table may not be there yet).
    long long number(const char *sql, bool quiet = false) const
    {
        const std::vector<std::string> r = rows(sql, quiet);
        return r.size() == 1 ? std::stoll(r[0]) : -1;
    }
    // The table as "file|column|local time|value", sorted.
    std::vector<std::string> table() const
    {
        std::vector<std::string> t = rows("SELECT fichero, columna, to_char(hora, 'DD-MM-YYYY HH24:MI:SS'), valor FROM climalog.lectura");
        std::sort(t.begin(), t.end());
        return t;
    }

private:
    static void command(PGconn *c, const QByteArray &sql) { PQclear(PQexec(c, sql.constData())); }

    QByteArray name_;
    PGconn *conn_ = nullptr;
};

// The archive program beside the tests.
inline QString archiveProgram() { return binFolder() + QStringLiteral("/climalog-archivo"); }

struct RunResult {
    int code = -1;
    QString out, err;
};

inline RunResult runArchive(const QStringList &args)
{
    QProcess p;
    p.start(archiveProgram(), args);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

// Stops or starts the tests' server, as its script does.
inline bool serverControl(const char *what)
{
    return QProcess::execute(QString::fromLocal8Bit(qgetenv("CLIMALOG_TEST_PG_CTL")), {QString::fromLatin1(what)}) == 0;
}

// Polls until `done` (a program following files needs a moment); false
// after a minute, far beyond any normal wait.
inline bool eventually(const std::function<bool()> &done)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > 60000)
            return false;
        QThread::msleep(50);
    }
    return true;
}
