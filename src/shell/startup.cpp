#include "shell/startup.h"

#include "netaccess/binding.h"
#include "registry/general.h"

#include <QDir>
#include <QFileInfo>

int puertoAutomatico(const QString &folder)
{
    int r = 0;
    for (int n = 1; n <= 4; ++n) {
        const QFileInfo info(QDir(folder).filePath(QStringLiteral("config%1.ini").arg(n)));
        if (!info.exists() || !info.isFile())
            continue;
        r = r == 0 ? n : -1;
    }
    return r;
}

QString portFolder(const General &g)
{
    const QString port = g.nombrepuerto.isEmpty() ? QString() : g.nombrepuerto.right(1);
    return g.appFolder + u'/' + port;
}

bool conecta(General &g, SondaIO *io, int d)
{
    g.puerto = static_cast<std::int16_t>(d - 1);
    g.nombrepuerto = QStringLiteral("COM%1").arg(d);
    const std::int16_t r = io ? io->IniciarCNX(g.puerto, g.nombrepuerto, g.mensaje) : 0;
    if (r > 0) {
        g.conectado = true;
        return true;
    }
    g.puerto = -1;
    g.conectado = false;
    return false;
}
