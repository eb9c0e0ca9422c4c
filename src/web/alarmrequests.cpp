// The alarms' requests: the panel's list with the session's write token,
// the history (queries.cpp reads it), and the page's two writes. A write
// needs the page's own origin (checked before routing), a session and its
// token, which another site's page can make the browser send the cookie
// for but can never read.
#include "web/server.h"

#include "web/alarmreplies.h"
#include "web/body.h"
#include "web/params.h"
#include "web/replies.h"

#include <httplib.h>

#include <sodium.h>

using replies::jsonError;
using replies::log;
using replies::unavailable;

namespace {

constexpr const char *tokenHeader = "X-Climalog-Ficha";
// Who acknowledges or silences on this machine's page without users.
constexpr const char *localUser = "local";

bool sameToken(const std::string &a, const std::string &b)
{
    return !a.empty() && a.size() == b.size() && sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

void done(httplib::Response &res)
{
    res.set_content("{\"hecho\":true}", "application/json; charset=utf-8");
}

// The answer to a write the database took or refused.
void answer(httplib::Response &res, web::Reader::Write w, const std::string &error,
            const std::string &refused)
{
    switch (w) {
    case web::Reader::Write::Done:
        done(res);
        return;
    case web::Reader::Write::Refused:
        jsonError(res, 409, refused);
        return;
    case web::Reader::Write::Invalid:
        jsonError(res, 400, error);
        return;
    case web::Reader::Write::Standby:
        log("Base de datos: " + error);
        jsonError(res, 503,
                  "La base de datos de la página es una réplica que solo lee: los cambios "
                  "necesitan climalog-web --primaria con la dirección de la principal.");
        return;
    case web::Reader::Write::Failed:
        break;
    }
    unavailable(res, error);
}

} // namespace

void WebServer::alarmRoutes()
{
    httplib::Server &s = *http_;
    s.Get("/api/avisos", [this](const httplib::Request &req, httplib::Response &res) {
        std::string user, error;
        if (!allowed(req, res, user))
            return;
        if (!params::none(req.params, error)) {
            jsonError(res, 400, error);
            return;
        }
        alarms(res, user, writeToken(req));
    });
    s.Get("/api/avisos/historia", [this](const httplib::Request &req, httplib::Response &res) {
        std::string user;
        if (allowed(req, res, user))
            alarmHistory(req, res);
    });
    s.Get("/api/avisos/csv", [this](const httplib::Request &req, httplib::Response &res) {
        std::string user;
        if (allowed(req, res, user))
            alarmCsv(req, res);
    });
    s.Post("/api/avisos/reconocer", [this](const httplib::Request &req, httplib::Response &res) {
        std::string user;
        if (writeAllowed(req, res, user))
            acknowledge(req, res, user);
    });
    s.Post("/api/avisos/silenciar", [this](const httplib::Request &req, httplib::Response &res) {
        std::string user;
        if (writeAllowed(req, res, user))
            silence(req, res, user);
    });
}

std::string WebServer::writeToken(const httplib::Request &req)
{
    if (!required_)
        return localToken_;
    return sessions_.writeToken(sessionCookie(req));
}

bool WebServer::writeAllowed(const httplib::Request &req, httplib::Response &res, std::string &user)
{
    if (!allowed(req, res, user))
        return false;
    if (!sameToken(req.get_header_value(tokenHeader), writeToken(req))) {
        log("POST a " + req.path + " rechazado: sin la ficha de su sesión, desde " + client(req));
        jsonError(res, 403,
                  "Falta la ficha de la sesión o no es la suya: vuelva a cargar la página y "
                  "repita el cambio.");
        return false;
    }
    const std::string type = req.get_header_value("Content-Type");
    if (type.rfind("application/json", 0) != 0) {
        jsonError(res, 400, "El cuerpo de la petición debe ser JSON (application/json).");
        return false;
    }
    if (user.empty())
        user = localUser;
    return true;
}

void WebServer::alarms(httplib::Response &res, const std::string &user, const std::string &token)
{
    std::vector<Alarm> rows;
    std::int64_t now = 0;
    std::string error;
    if (!db_.alarms(rows, now, error)) {
        unavailable(res, error);
        return;
    }
    res.set_content(alarmsJson(rows, now, user, token), "application/json; charset=utf-8");
}

void WebServer::acknowledge(const httplib::Request &req, httplib::Response &res,
                            const std::string &user)
{
    body::Object b;
    params::Acknowledge a;
    std::string error;
    if (!body::parse(req.body, b, error) || !params::acknowledge(b, a, error)) {
        jsonError(res, 400, error);
        return;
    }
    const auto w = writes_.acknowledge(a.aviso, user, a.comentario, error);
    if (w == web::Reader::Write::Done)
        log("Aviso " + std::to_string(a.aviso) + " reconocido por «" + user + "».");
    answer(res, w, error,
           "El aviso " + std::to_string(a.aviso) + " no existe o ya estaba reconocido.");
}

void WebServer::silence(const httplib::Request &req, httplib::Response &res,
                        const std::string &user)
{
    body::Object b;
    params::Silence s;
    std::string error;
    if (!body::parse(req.body, b, error) || !params::silence(b, s, error)) {
        jsonError(res, 400, error);
        return;
    }
    const auto w = writes_.silence(s.aviso, user, s.minutos, error);
    if (w == web::Reader::Write::Done)
        log("Aviso " + std::to_string(s.aviso) + " silenciado " + std::to_string(s.minutos) +
            " min por «" + user + "».");
    answer(res, w, error, "El aviso " + std::to_string(s.aviso) + " no existe o ya terminó.");
}
