// The web program's HTTP side: the page and its files, login and sessions,
// the overview, plot and export requests, each request checked before it
// reaches the database. Each connection is served by a thread of its own
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
#include <string>
#include <thread>

namespace httplib {
class Server;
struct Request;
struct Response;
}

class WebServer {
public:
    WebServer(const WebOptions &options, users::Table users, web::Reader &db);
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

    const WebOptions options_;
    web::Reader &db_;
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
