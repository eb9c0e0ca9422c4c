#include "web/users.h"

#include "platform/rawfile.h"

#include <sodium.h>

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <sys/stat.h>

namespace users {

namespace {

// Argon2id at 19 MiB and two passes: a guess costs an attacker that much
// memory, and a login costs the server about 30 ms.
constexpr unsigned long long passes = 2;
constexpr std::size_t memory = 19 * 1024 * 1024;

bool hash(const std::string &password, std::string &out)
{
    char text[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(text, password.data(), password.size(), passes, memory,
                              crypto_pwhash_ALG_ARGON2ID13) != 0)
        return false;
    out = text;
    return true;
}

// The lines of the file, or an empty list when there is none.
bool readLines(const QString &path, QList<QByteArray> &lines, QString &error)
{
    QFile f(path);
    if (!f.exists())
        return true;
    if (!f.open(QIODevice::ReadOnly)) {
        error =
            QStringLiteral("No se puede leer el fichero de usuarios %1.").arg(rawfile::shown(path));
        return false;
    }
    lines = f.readAll().split('\n');
    return true;
}

bool userLine(const QByteArray &line, QString &name, std::string &hashText)
{
    const qsizetype colon = line.indexOf(':');
    if (colon < 0)
        return false;
    name = QString::fromUtf8(line.left(colon));
    hashText = line.mid(colon + 1).trimmed().toStdString();
    return validName(name) && hashText.rfind("$argon2id$", 0) == 0;
}

bool ignored(const QByteArray &line)
{
    const QByteArray t = line.trimmed();
    return t.isEmpty() || t.startsWith('#');
}

} // namespace

bool validName(const QString &name)
{
    static const QRegularExpression re(QStringLiteral("^[A-Za-z0-9._-]{1,64}$"));
    return re.match(name).hasMatch();
}

bool Table::load(const QString &path, QString &error)
{
    hashes_.clear();
    QList<QByteArray> lines;
    if (!readLines(path, lines, error))
        return false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (ignored(lines[i]))
            continue;
        QString name;
        std::string hashText;
        if (!userLine(lines[i], name, hashText)) {
            error = QStringLiteral(
                        "La línea %1 del fichero de usuarios %2 no es un usuario (nombre:hash).")
                        .arg(i + 1)
                        .arg(rawfile::shown(path));
            hashes_.clear();
            return false;
        }
        hashes_[name.toStdString()] = hashText;
    }
    return true;
}

bool Table::check(const std::string &name, const std::string &password) const
{
    static const std::string unknown = [] {
        std::string h;
        hash("una contraseña que nadie tiene", h);
        return h;
    }();
    const auto it = hashes_.find(name);
    const std::string &h = it == hashes_.end() ? unknown : it->second;
    const bool ok = crypto_pwhash_str_verify(h.c_str(), password.data(), password.size()) == 0;
    return ok && it != hashes_.end();
}

std::vector<std::string> Table::changedFrom(const Table &before) const
{
    std::vector<std::string> out;
    for (const auto &[name, h] : before.hashes_) {
        const auto it = hashes_.find(name);
        if (it == hashes_.end() || it->second != h)
            out.push_back(name);
    }
    return out;
}

Stamp stamp(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return Stamp{true,
                 static_cast<unsigned long long>(st.st_dev),
                 static_cast<unsigned long long>(st.st_ino),
                 static_cast<unsigned long long>(st.st_size),
                 st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec,
                 st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec};
}

QString exposure(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 ||
        (st.st_mode & (S_IRGRP | S_IROTH)) == 0)
        return {};
    return QStringLiteral(
               "Aviso: otros usuarios del equipo pueden leer el fichero de usuarios %1 y probar "
               "contraseñas contra sus resúmenes; déjelo solo para su dueño: chmod 600 %1")
        .arg(rawfile::shown(path));
}

bool setPassword(const QString &path, const QString &name, const std::string &password,
                 QString &error)
{
    if (!validName(name)) {
        error = QStringLiteral(
                    "Nombre de usuario no válido: %1 (letras, cifras, '.', '_' o '-', hasta 64).")
                    .arg(name);
        return false;
    }
    if (QString::fromStdString(password).toUcs4().size() < shortestPassword) {
        error = QStringLiteral("La contraseña es demasiado corta: al menos %1 caracteres.")
                    .arg(shortestPassword);
        return false;
    }
    std::string hashText;
    if (!hash(password, hashText)) {
        error = QStringLiteral("No hay memoria para calcular el resumen de la contraseña.");
        return false;
    }
    QList<QByteArray> lines;
    if (!readLines(path, lines, error))
        return false;
    QByteArray out;
    bool replaced = false;
    for (const QByteArray &line : lines) {
        QString other;
        std::string otherHash;
        if (!ignored(line) && userLine(line, other, otherHash) && other == name) {
            out += name.toUtf8() + ':' + QByteArray::fromStdString(hashText) + '\n';
            replaced = true;
        } else if (!line.isEmpty()) {
            out += line + '\n';
        }
    }
    if (!replaced)
        out += name.toUtf8() + ':' + QByteArray::fromStdString(hashText) + '\n';

    QSaveFile f(path);
    const bool written = f.open(QIODevice::WriteOnly) &&
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
        f.write(out) == out.size() && f.commit();
    // The rename reaches the disk with the folder.
    if (!written || !rawfile::syncFolder(QFileInfo(path).absolutePath())) {
        error = QStringLiteral("No se puede escribir el fichero de usuarios %1.")
                    .arg(rawfile::shown(path));
        return false;
    }
    return true;
}

} // namespace users
