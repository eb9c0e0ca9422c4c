#include "web/server.h"

#include "web/params.h"
#include "web/replies.h"
#include "web/requests.h"
#include "web/workers.h"

#include <httplib.h>

#include <QDir>
#include <QFile>

#include <algorithm>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

using replies::jsonError;
using replies::log;

namespace {

constexpr const char *cookieName = "climalog_sesion";
constexpr std::size_t mostThreads = 1000;
constexpr int backlog = 1024;

// The page's files are those built into the program under this folder
// (the list of src/web/CMakeLists.txt), each sent as its name's type.
const QString pageFolder = QStringLiteral(":/pagina");
// The login page's style: the one file shown to anyone.
constexpr const char *publicFile = "app.css";

const char *pageType(const QString &name)
{
    static const std::pair<const char *, const char *> types[] = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
    };
    for (const auto &[ending, type] : types)
        if (name.endsWith(QLatin1String(ending)))
            return type;
    return nullptr;
}

std::string escapeHtml(const std::string &s)
{
    std::string out;
    for (const char c : s) {
        const char *entity = c == '&' ? "&amp;"
            : c == '<'                ? "&lt;"
            : c == '>'                ? "&gt;"
            : c == '"'                ? "&quot;"
                                      : nullptr;
        if (entity)
            out += entity;
        else
            out += c;
    }
    return out;
}

} // namespace

std::string WebServer::sessionCookie(const httplib::Request &req)
{
    std::vector<std::string> headers;
    for (std::size_t i = 0; i < req.get_header_value_count("Cookie"); ++i)
        headers.push_back(req.get_header_value("Cookie", i));
    return requests::cookie(headers, cookieName);
}

WebServer::WebServer(const WebOptions &options, users::Table users, web::Reader &db,
                     web::Reader &writes)
    : options_(options), db_(db), writes_(writes), localToken_(randomToken()),
      users_(std::make_shared<const users::Table>(std::move(users))), required_(!users_->empty()),
      usersStamp_(users::stamp(options.users)), usersExposure_(users::exposure(options.users)),
      sessions_(std::chrono::minutes(options.sessionMinutes))
{
    for (const QString &name : QDir(pageFolder).entryList(QDir::Files, QDir::Name)) {
        QFile f(pageFolder + QLatin1Char('/') + name);
        if (const char *type = pageType(name); type && f.open(QIODevice::ReadOnly))
            files_[name.toStdString()] = File{type, f.readAll().toStdString()};
    }
}

WebServer::~WebServer()
{
    {
        std::lock_guard lock(stopMutex_);
        stopping_ = true;
    }
    stopped_.notify_all();
    if (usersWatch_.joinable())
        usersWatch_.join();
}

std::shared_ptr<const users::Table> WebServer::usersNow()
{
    std::lock_guard lock(usersMutex_);
    return users_;
}

void WebServer::watchUsers()
{
    std::unique_lock lock(stopMutex_);
    while (!stopped_.wait_for(lock, std::chrono::seconds(1), [this] { return stopping_; })) {
        lock.unlock();
        reloadUsers();
        lock.lock();
    }
}

void WebServer::reloadUsers()
{
    const users::Stamp now = users::stamp(options_.users);
    if (now == usersStamp_)
        return;
    usersStamp_ = now;
    const QString exposure = users::exposure(options_.users);
    if (!exposure.isEmpty() && exposure != usersExposure_)
        log(exposure.toStdString());
    usersExposure_ = exposure;
    users::Table table;
    QString error;
    if (!table.load(options_.users, error)) {
        // A file caught half written by an editor: the users stay as they
        // were until it reads whole.
        log(error.toStdString() + " Siguen valiendo los usuarios de antes.");
        return;
    }
    const std::vector<std::string> gone = table.changedFrom(*usersNow());
    const bool none = table.empty();
    {
        std::lock_guard lock(usersMutex_);
        users_ = std::make_shared<const users::Table>(std::move(table));
        if (!none)
            required_ = true;
    }
    // The sessions end after the new table is in place: a login racing
    // with the change already checks the new password.
    for (const std::string &name : gone)
        if (const int n = sessions_.closeUser(name); n > 0)
            log("Sesiones de «" + name + "» cerradas: " + std::to_string(n) +
                " (usuario quitado o contraseña cambiada).");
    log("Fichero de usuarios leído de nuevo: " + std::to_string(usersNow()->size()) + " usuarios.");
    if (none && required_)
        log("Sin usuarios en el fichero, nadie puede entrar hasta que se añada alguno.");
}

std::string WebServer::client(const httplib::Request &req) const
{
    const std::string peer = requests::canonical(req.remote_addr);
    if (options_.proxy.isEmpty() || peer != requests::canonical(options_.proxy.toStdString()))
        return peer;
    std::vector<std::string> headers;
    for (std::size_t i = 0; i < req.get_header_value_count("X-Forwarded-For"); ++i)
        headers.push_back(req.get_header_value("X-Forwarded-For", i));
    return requests::canonical(requests::forwardedClient(headers, peer));
}

bool WebServer::bind(QString &error)
{
    if (options_.certificate.isEmpty()) {
        http_ = std::make_unique<httplib::Server>();
    } else {
        const QByteArray cert = options_.certificate.toLocal8Bit(),
                         key = options_.key.toLocal8Bit();
        http_ = std::make_unique<httplib::SSLServer>(cert.constData(), key.constData());
        secure_ = true;
        if (!http_->is_valid()) {
            error = QStringLiteral("No se pueden usar el certificado %1 y la clave %2 (ficheros "
                                   "PEM que se correspondan).")
                        .arg(options_.certificate, options_.key);
            return false;
        }
    }
    // A page keeps its connection open between refreshes: a thread per open
    // connection, as many as come, so no page waits for another's.
    http_->new_task_queue = [] { return new Workers(mostThreads); };
    http_->set_keep_alive_max_count(1000);
    http_->set_keep_alive_timeout(5);
    http_->set_read_timeout(10);
    http_->set_payload_max_length(64 * 1024);
    // A connection that has sent nothing yet stays with the system, not a
    // thread; and hundreds of browsers connecting at once all wait in line.
    int listening = -1;
    http_->set_socket_options([&listening](socket_t sock) {
        const int yes = 1, defer = 10;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        setsockopt(sock, IPPROTO_TCP, TCP_DEFER_ACCEPT, &defer, sizeof defer);
        listening = sock;
    });
    routes();
    const std::string host = options_.host.toStdString();
    port_ = options_.port == 0 ? http_->bind_to_any_port(host)
                               : (http_->bind_to_port(host, options_.port) ? options_.port : -1);
    if (port_ <= 0) {
        error = QStringLiteral("No se puede escuchar en %1:%2 (¿otro programa usa ese puerto?).")
                    .arg(options_.host)
                    .arg(options_.port);
        return false;
    }
    // Listening again changes only the length of the line of connections
    // waiting to be taken.
    if (listening >= 0)
        ::listen(listening, backlog);
    return true;
}

bool WebServer::serve()
{
    usersWatch_ = std::thread([this] { watchUsers(); });
    return http_->listen_after_bind();
}

void WebServer::stop()
{
    if (http_)
        http_->stop();
}

std::optional<std::string> WebServer::who(const httplib::Request &req)
{
    if (!required_)
        return std::string();
    return sessions_.user(sessionCookie(req));
}

bool WebServer::allowed(const httplib::Request &req, httplib::Response &res, std::string &user)
{
    const std::optional<std::string> u = who(req);
    if (u) {
        user = *u;
        return true;
    }
    jsonError(res, 401, "Hace falta entrar con usuario y contraseña.");
    return false;
}

void WebServer::sendFile(const std::string &name, httplib::Response &res) const
{
    const auto it = files_.find(name);
    if (it == files_.end()) {
        res.status = 404;
        return;
    }
    res.set_content(it->second.body, it->second.type.c_str());
}

void WebServer::loginPage(httplib::Response &res, int status, const std::string &message) const
{
    const auto it = files_.find("entrar.html");
    std::string page = it == files_.end() ? std::string() : it->second.body;
    const std::string mark = "{{mensaje}}";
    const std::size_t at = page.find(mark);
    if (at != std::string::npos)
        page.replace(at, mark.size(), escapeHtml(message));
    res.status = status;
    res.set_content(page, "text/html; charset=utf-8");
}

void WebServer::routes()
{
    httplib::Server &s = *http_;
    s.Get("/", [this](const httplib::Request &req, httplib::Response &res) {
        if (!who(req)) {
            res.set_redirect("/entrar", 303);
            return;
        }
        sendFile("index.html", res);
    });
    // Every script and style by its name; the two pages have addresses of
    // their own.
    for (const auto &[file, content] : files_) {
        if (content.type.rfind("text/html", 0) == 0)
            continue;
        const std::string name = file;
        // A route is a pattern: the name's dots match only themselves.
        std::string pattern = "/";
        for (const char c : name)
            pattern += c == '.' ? std::string("\\.") : std::string(1, c);
        s.Get(pattern, [this, name](const httplib::Request &req, httplib::Response &res) {
            std::string user;
            if (name == publicFile || allowed(req, res, user))
                sendFile(name, res);
        });
    }
    s.Get("/entrar", [this](const httplib::Request &, httplib::Response &res) {
        if (!required_)
            res.set_redirect("/", 303);
        else
            loginPage(res, 200, "");
    });
    s.Post("/entrar",
           [this](const httplib::Request &req, httplib::Response &res) { login(req, res); });
    s.Post("/salir",
           [this](const httplib::Request &req, httplib::Response &res) { logout(req, res); });
    s.Get("/api/resumen", [this](const httplib::Request &req, httplib::Response &res) {
        std::string user;
        if (allowed(req, res, user))
            overview(req, res, user);
    });
    s.Get("/api/tramo", [this](const httplib::Request &req, httplib::Response &res) {
        std::string user;
        if (allowed(req, res, user))
            plot(req, res);
    });
    s.Get("/api/csv", [this](const httplib::Request &req, httplib::Response &res) {
        std::string user;
        if (allowed(req, res, user))
            exportCsv(req, res);
    });
    alarmRoutes();
    reportRoutes();

    s.set_error_handler([](const httplib::Request &, httplib::Response &res) {
        if (!res.body.empty())
            return;
        if (res.status == 404)
            res.set_content("No existe esta página.", "text/plain; charset=utf-8");
        else if (res.status == 400)
            res.set_content("Petición mal formada.", "text/plain; charset=utf-8");
    });
    s.set_exception_handler(
        [](const httplib::Request &req, httplib::Response &res, std::exception_ptr e) {
            std::string what = "?";
            try {
                std::rethrow_exception(e);
            } catch (const std::exception &x) {
                what = x.what();
            } catch (...) {
            }
            log("Error al atender " + req.path + ": " + what);
            jsonError(res, 500, "Error interno del servidor.");
        });
    // Without users the page is for this machine alone. A web site whose
    // name someone pointed at 127.0.0.1 must not read it through the
    // visitor's browser: such a request names that site as its host.
    s.set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
        // Another site's page can make the browser POST here, with the
        // user's cookies or without: only this page's own POSTs are served.
        if (req.method == "POST" &&
            !requests::sameOrigin(req.get_header_value("Origin"), req.get_header_value("Referer"),
                                  req.get_header_value("Sec-Fetch-Site"),
                                  req.get_header_value("Host"))) {
            log("POST a " + req.path + " rechazado: no viene de esta página (Origin «" +
                req.get_header_value("Origin").substr(0, 100) + "») desde " + client(req));
            res.status = 403;
            res.set_content(
                "Esta petición no viene de la propia página y no se atiende. Abra la página y "
                "vuelva a intentarlo desde ella.",
                "text/plain; charset=utf-8");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (required_ || requests::addressHost(req.get_header_value("Host")))
            return httplib::Server::HandlerResponse::Unhandled;
        res.status = 403;
        res.set_content("Sin usuarios, esta página solo se sirve con la dirección del equipo, como "
                        "http://127.0.0.1:" +
                            std::to_string(port_) +
                            "/. Para servirla con un nombre, "
                            "añada usuarios (climalog-web --usuario NOMBRE).",
                        "text/plain; charset=utf-8");
        return httplib::Server::HandlerResponse::Handled;
    });
    s.set_post_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
        // Served over https, the browser is told to come back only that way.
        if (secure_)
            res.set_header("Strict-Transport-Security", "max-age=31536000");
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_header("X-Frame-Options", "DENY");
        // Other sites learn nothing of the page's addresses; the page's own
        // requests keep their origin, which a POST must show.
        res.set_header("Referrer-Policy", "same-origin");
        res.set_header("Content-Security-Policy",
                       "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'; "
                       "form-action 'self'; base-uri 'none'");
        if (req.path.rfind("/api/", 0) == 0)
            res.set_header("Cache-Control", "no-store");
    });
}

void WebServer::login(const httplib::Request &req, httplib::Response &res)
{
    if (!required_) {
        res.set_redirect("/", 303);
        return;
    }
    const std::string name = req.get_param_value("usuario"),
                      password = req.get_param_value("clave");
    for (const auto &[key, value] : req.params)
        if (key != "usuario" && key != "clave") {
            loginPage(res, 400, "El formulario trae un campo desconocido.");
            return;
        }
    const std::string from = client(req);
    if (const int wait = throttle_.begin(name, from); wait > 0) {
        loginPage(res, 429,
                  "Demasiados intentos fallidos. Espere " + std::to_string(wait) +
                      " segundos y vuelva a intentarlo.");
        return;
    }
    bool ok = false;
    const std::shared_ptr<const users::Table> table = usersNow();
    {
        std::lock_guard lock(checking_);
        ok = table->check(name, password);
    }
    if (!ok) {
        log("Contraseña equivocada para «" + name.substr(0, 64) + "» desde " + from);
        loginPage(res, 401, "Usuario o contraseña incorrectos.");
        return;
    }
    throttle_.succeeded(name, from);
    // A session opens only on the table that let it in: one checked
    // against a password changed meanwhile would outlive the change.
    std::string token;
    {
        std::lock_guard lock(usersMutex_);
        if (users_ == table)
            token = sessions_.open(name);
    }
    if (token.empty()) {
        loginPage(res, 409, "Los usuarios acaban de cambiar; vuelva a intentarlo.");
        return;
    }
    std::string cookie = std::string(cookieName) + '=' + token +
        "; Path=/; Max-Age=" + std::to_string(sessions_.life().count()) +
        "; HttpOnly; SameSite=Strict";
    if (secure_)
        cookie += "; Secure";
    res.set_header("Set-Cookie", cookie);
    res.set_redirect("/", 303);
}

void WebServer::logout(const httplib::Request &req, httplib::Response &res)
{
    sessions_.close(sessionCookie(req));
    res.set_header("Set-Cookie",
                   std::string(cookieName) + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict");
    res.set_redirect(required_ ? "/entrar" : "/", 303);
}
