#include "otheruser.h"

#include "picwndprocess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace {

constexpr QFile::Permissions everyonePasses = QFile::ReadOwner | QFile::WriteOwner |
                                              QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup |
                                              QFile::ReadOther | QFile::ExeOther;

// The path that LSAN_OPTIONS names in "suppressions=...", if any.
QString suppressionsIn(const QString &options)
{
    for (const QString &option : options.split(QLatin1Char(':')))
        if (option.startsWith(QLatin1String("suppressions=")))
            return option.mid(int(sizeof "suppressions=") - 1);
    return {};
}

} // namespace

OtherUser::OtherUser()
{
    if (!m_root.isValid()) {
        m_error = QStringLiteral("no temporary directory");
        return;
    }
    QFile::setPermissions(m_root.path(), everyonePasses);
    m_switch = ::geteuid() == 0;
    m_program = PicwndProcess::defaultProgram();
    if (m_switch) {
        const passwd *user = ::getpwnam("nobody");
        if (!user) {
            m_error = QStringLiteral("there is no user \"nobody\"");
            return;
        }
        m_uid = user->pw_uid;
        const group *nogroup = ::getgrnam("nogroup");
        m_gid = nogroup ? nogroup->gr_gid : user->pw_gid;

        m_program = QDir(m_root.path()).filePath(QStringLiteral("picwnd"));
        if (!QFile::copy(PicwndProcess::defaultProgram(), m_program) ||
            !QFile::setPermissions(m_program, everyonePasses)) {
            m_error = QStringLiteral("cannot copy the program to ") + m_program;
            return;
        }
        const QString suppressions = suppressionsIn(qEnvironmentVariable("LSAN_OPTIONS"));
        if (!suppressions.isEmpty()) {
            m_suppressions = QDir(m_root.path()).filePath(QStringLiteral("lsan.supp"));
            QFile::copy(suppressions, m_suppressions);
            QFile::setPermissions(m_suppressions,
                                  QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        }
    }
    m_home = makeDirectory(QStringLiteral("home"));
    if (m_home.isEmpty())
        m_error = QStringLiteral("cannot make the user's home");
}

QString OtherUser::program() const
{
    return m_switch ? QStringLiteral("setpriv") : m_program;
}

QStringList OtherUser::arguments(const QStringList &picwndArguments) const
{
    if (!m_switch)
        return picwndArguments;
    return QStringList{QStringLiteral("--reuid=%1").arg(m_uid),
                       QStringLiteral("--regid=%1").arg(m_gid), QStringLiteral("--clear-groups"),
                       QStringLiteral("--"), m_program} +
           picwndArguments;
}

QProcessEnvironment OtherUser::environment(QProcessEnvironment base) const
{
    base.insert(QStringLiteral("HOME"), m_home);
    base.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home);
    if (!m_suppressions.isEmpty()) {
        QString options = base.value(QStringLiteral("LSAN_OPTIONS"));
        options.replace(suppressionsIn(options), m_suppressions);
        base.insert(QStringLiteral("LSAN_OPTIONS"), options);
    }
    return base;
}

QString OtherUser::makeDirectory(const QString &name) const
{
    const QString path = QDir(m_root.path()).filePath(name);
    if (!QDir().mkpath(path) ||
        !QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) ||
        !giveAway(path))
        return {};
    return path;
}

bool OtherUser::giveAway(const QString &path) const
{
    return !m_switch || ::chown(QFile::encodeName(path).constData(), m_uid, m_gid) == 0;
}
