#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/types.h>

// Runs picwnd as a user to whom file permissions apply. Root reads and enters everything whatever
// the permissions, so when the tests run as root the program runs as "nobody" (through setpriv);
// otherwise it runs as the user who runs the tests. Either way it gets a home and a runtime
// directory of its own and, when it switches user, a copy of the program in a folder that user
// can reach (the build tree may lie where "nobody" cannot).
class OtherUser
{
public:
    OtherUser();
    OtherUser(const OtherUser &) = delete;
    OtherUser &operator=(const OtherUser &) = delete;

    // Empty when it is ready; otherwise what went wrong.
    [[nodiscard]] QString error() const { return m_error; }
    // Whether the program runs as another user than the tests (they run as root).
    [[nodiscard]] bool switchesUser() const { return m_switch; }

    // The program to start, and its arguments, for picwnd with picwndArguments.
    [[nodiscard]] QString program() const;
    [[nodiscard]] QStringList arguments(const QStringList &picwndArguments) const;
    // base with HOME and XDG_RUNTIME_DIR of the user's own, and the sanitizers' suppression
    // file (if any) where the user can read it.
    [[nodiscard]] QProcessEnvironment environment(QProcessEnvironment base) const;

    // Makes a new folder that the user owns, inside a folder that everyone may pass through;
    // returns its path, or an empty string.
    [[nodiscard]] QString makeDirectory(const QString &name) const;
    // Gives path to the user (nothing to do when the user is not switched).
    bool giveAway(const QString &path) const;

private:
    QTemporaryDir m_root;
    QString m_error;
    bool m_switch = false;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
    QString m_program;
    QString m_home;
    QString m_suppressions;
};
