#include "web/replies.h"

#include "web/database.h"
#include "web/json.h"

#include <httplib.h>

#include <QDateTime>

#include <cstdio>

namespace replies {

void log(const std::string &what)
{
    const std::string stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("dd-MM-yyyy HH:mm:ss")).toStdString();
    std::fprintf(stderr, "%s  %s\n", stamp.c_str(), what.c_str());
}

void jsonError(httplib::Response &res, int status, const std::string &message)
{
    std::string body = "{\"error\":";
    json::text(body, message);
    body += '}';
    res.status = status;
    res.set_content(body, "application/json; charset=utf-8");
}

void unavailable(httplib::Response &res, const std::string &error)
{
    res.set_header("Retry-After", "5");
    if (error == web::Reader::busy) {
        jsonError(res, 503,
                  "Todas las conexiones con la base de datos están ocupadas (exportaciones o "
                  "gráficas largas en "
                  "curso); se vuelve a intentar en unos segundos.");
        return;
    }
    log("Base de datos: " + error);
    jsonError(res, 503,
              "La base de datos no responde; se vuelve a intentar en la siguiente petición.");
}

} // namespace replies
