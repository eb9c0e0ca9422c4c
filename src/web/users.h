// The web page's users: a file of the program's own, one "name:hash" line
// per user, the password kept only as its Argon2id hash.
#pragma once

#include <QString>

#include <map>
#include <string>
#include <vector>

namespace users {

// Names are what a user types to enter: letters, digits, '.', '_' and '-'.
bool validName(const QString &name);

class Table {
public:
    // Reads the file; a missing file is no users. False with a Spanish
    // message when it cannot be read or a line is not a user's.
    bool load(const QString &path, QString &error);
    bool empty() const { return hashes_.empty(); }
    std::size_t size() const { return hashes_.size(); }
    // Whether `password` is the user's. An unknown name costs as much as a
    // known one, so the time does not tell which names exist.
    bool check(const std::string &name, const std::string &password) const;
    // The users of `before` that this table lacks or gives another password.
    std::vector<std::string> changedFrom(const Table &before) const;

private:
    std::map<std::string, std::string> hashes_;
};

// The shortest password --usuario accepts, in characters.
constexpr int shortestPassword = 8;

// What tells that the file changed: its inode, size and times; a file that
// is not there has a stamp of its own.
struct Stamp {
    bool exists = false;
    unsigned long long device = 0, inode = 0, size = 0;
    long long modified = 0, changed = 0; // ns
    friend bool operator==(const Stamp &, const Stamp &) = default;
};
Stamp stamp(const QString &path);

// A warning, in Spanish, when users of the machine other than its owner
// can read the file; empty otherwise.
QString exposure(const QString &path);

// Adds the user to the file or changes its password; the file is replaced
// whole (readable by its owner only) so a crash leaves the old one or the
// new one. False with a Spanish message.
bool setPassword(const QString &path, const QString &name, const std::string &password,
                 QString &error);

} // namespace users
