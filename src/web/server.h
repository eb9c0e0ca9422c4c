// The web program's HTTP side: the page and its files, login and sessions,
// the overview, plot and export requests, the reports, the alarms and the
// page's two writes, each request checked before it reaches the database. Each connection is served by a thread of its own
// (Workers); the database connections are shared among them.
#pragma once

#include "web/database.h"
#include "web/options.h"
#include "web/sessions.h"
#include "web/users.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <semaphore>
#include <string>
#include <thread>

namespace httplib {
class Server;
struct Request;
struct Response;
}
namespace params {
struct Report;
}
namespace reports {
struct Request;
}

class WebServer {
public:
    // `writes`: the connection the page's writes go through (the primary's
    // when `db` is a standby).
    WebServer(const WebOptions &options, users::Table users, web::Reader &db, web::Reader &writes);
    ~WebServer();

    // Takes the address and port; false with a Spanish message.
    bool bind(QString &error);
    int port() const { return port_; }
    bool secure() const { return secure_; }
    bool loginRequired() const { return required_; }
    // Serves until stop().
    bool serve();
    void stop();

private:
    struct File {
        std::string type, body;
    };
    void routes();
    static std::string sessionCookie(const httplib::Request &req);
    // The user of the request's session: empty when nobody needs to log in;
    // none when a login is needed and the request has no valid session.
    std::optional<std::string> who(const httplib::Request &req);
    // The client's address: the peer's, or behind the trusted proxy the one
    // it forwarded.
    std::string client(const httplib::Request &req) const;
    // Reads the users file again whenever it changes, and ends the
    // sessions of the users it no longer lets in with the same password.
    void watchUsers();
    void reloadUsers();
    std::shared_ptr<const users::Table> usersNow();
    bool allowed(const httplib::Request &req, httplib::Response &res, std::string &user);
    void sendFile(const std::string &name, httplib::Response &res) const;
    void loginPage(httplib::Response &res, int status, const std::string &message) const;
    void login(const httplib::Request &req, httplib::Response &res);
    void logout(const httplib::Request &req, httplib::Response &res);
    void overview(const httplib::Request &req, httplib::Response &res, const std::string &user);
    void plot(const httplib::Request &req, httplib::Response &res);
    void exportCsv(const httplib::Request &req, httplib::Response &res);
    // The series named by a request, all of them known; false after
    // answering 400 or 503.
    bool knownSeries(const std::vector<int> &keys, std::vector<SeriesInfo> &rows,
                     httplib::Response &res);

    // The alarms (alarmrequests.cpp).
    void alarmRoutes();
    // The write token of the request's session: the program's own when
    // nobody needs to log in; empty when it has none.
    std::string writeToken(const httplib::Request &req);
    // A write may go ahead: a session, its token in the request's header,
    // a JSON body; otherwise answered (401, 403, 400) and false.
    bool writeAllowed(const httplib::Request &req, httplib::Response &res, std::string &user);
    void alarms(httplib::Response &res, const std::string &user, const std::string &token);
    void alarmHistory(const httplib::Request &req, httplib::Response &res);
    void alarmCsv(const httplib::Request &req, httplib::Response &res);
    void acknowledge(const httplib::Request &req, httplib::Response &res, const std::string &user);
    void silence(const httplib::Request &req, httplib::Response &res, const std::string &user);

    // The reports (reportrequests.cpp).
    void reportRoutes();
    void report(const httplib::Request &req, httplib::Response &res);
    // The series a report names and the station's name and zone; false
    // after answering 400 or 503.
    bool reportSeries(const params::Report &p, reports::Request &request, std::string &station,
                      std::string &zone, httplib::Response &res);
    // Two reports are made at once, at most.
    std::counting_semaphore<2> reports_{2};

    const WebOptions options_;
    web::Reader &db_;
    web::Reader &writes_;
    // The write token of the page when nobody needs to log in: only this
    // machine's pages can read it.
    const std::string localToken_;
    // The users as last read; once any user was known, a login is needed
    // even if the file is emptied, so the page never opens by itself.
    std::mutex usersMutex_;
    std::shared_ptr<const users::Table> users_;
    std::atomic<bool> required_{false};
    users::Stamp usersStamp_;
    QString usersExposure_;
    std::thread usersWatch_;
    std::mutex stopMutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;

    std::unique_ptr<httplib::Server> http_;
    bool secure_ = false;
    int port_ = 0;
    std::map<std::string, File> files_;
    Sessions sessions_;
    Throttle throttle_;
    // One password check at a time: each takes its hash's memory.
    std::mutex checking_;

    // The overview, shared by every client for half a second: fifty pages
    // refreshing cost the database two questions a second, not fifty; and
    // each user's answer is made and compressed once.
    struct Answer {
        std::string body, gzip, etag;
    };
    std::shared_ptr<const Answer> overviewAnswer(const std::string &user, std::string &error);
    std::timed_mutex overviewMutex_;
    std::chrono::steady_clock::time_point overviewAt_{};
    std::string overviewSeries_;
    std::int64_t overviewNow_ = 0;
    std::map<std::string, std::shared_ptr<const Answer>> overviewAnswers_;
};
