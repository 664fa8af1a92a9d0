#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QImageReader>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QXmlStreamReader>

#include <algorithm>

namespace {

const QString dataDir = QStringLiteral(PICWND_DATA_DIR);

// Types that Qt reads only through its SVG module: the program does not depend on it, so the
// desktop entry must not claim them, even where the module happens to be installed.
const QStringList typesOfOptionalModules = {
    QStringLiteral("image/svg+xml"),
    QStringLiteral("image/svg+xml-compressed"),
};

// The keys of the [Desktop Entry] group. Comments, blank lines and other groups are skipped.
QHash<QString, QString> desktopEntry(const QString &path)
{
    QHash<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return keys;
    QString group;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            group = line;
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (group == QLatin1String("[Desktop Entry]") && equals > 0)
            keys.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    return keys;
}

// A desktop entry's list value: items ended (or separated) by semicolons.
QStringList listValue(const QString &value)
{
    QStringList items = value.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    std::sort(items.begin(), items.end());
    return items;
}

QStringList readableTypes()
{
    QStringList types;
    for (const QByteArray &type : QImageReader::supportedMimeTypes()) {
        const QString name = QString::fromLatin1(type);
        if (!typesOfOptionalModules.contains(name))
            types.append(name);
    }
    std::sort(types.begin(), types.end());
    return types;
}

QString described(const QStringList &types)
{
    return types.isEmpty() ? QStringLiteral("none") : types.join(QLatin1String(", "));
}

} // namespace

class TestDesktopEntry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void offersExactlyThePictureTypesTheToolkitReads();
    void isOfferedForOpeningOneFile();
    void namesAnIconThatIsAWellFormedSquareSvg();

private:
    QHash<QString, QString> m_entry;
};

void TestDesktopEntry::initTestCase()
{
    m_entry = desktopEntry(dataDir + QLatin1String("/picwnd.desktop"));
    QVERIFY2(!m_entry.isEmpty(), "data/picwnd.desktop has no [Desktop Entry] group");
}

// A type listed but not readable would make a file manager offer picwnd for files it can only
// refuse; a type readable but not listed would hide it for files it shows well.
void TestDesktopEntry::offersExactlyThePictureTypesTheToolkitReads()
{
    const QStringList listed = listValue(m_entry.value(QStringLiteral("MimeType")));
    const QStringList readable = readableTypes();

    QStringList notReadable;
    for (const QString &type : listed)
        if (!readable.contains(type))
            notReadable.append(type);
    QStringList notListed;
    for (const QString &type : readable)
        if (!listed.contains(type))
            notListed.append(type);

    QVERIFY2(notReadable.isEmpty(),
             qPrintable(QStringLiteral("listed, but Qt cannot read them here: %1 (is "
                                       "qt6-image-formats-plugins installed?)")
                            .arg(described(notReadable))));
    QVERIFY2(notListed.isEmpty(),
             qPrintable(QStringLiteral("Qt reads these, but the desktop entry does not list "
                                       "them: %1")
                            .arg(described(notListed))));
    QStringList unique = listed;
    QCOMPARE(unique.removeDuplicates(), 0);
}

void TestDesktopEntry::isOfferedForOpeningOneFile()
{
    QCOMPARE(m_entry.value(QStringLiteral("Type")), QStringLiteral("Application"));
    // The program shows the first picture it is given and ignores the rest: one file, as a path.
    const QStringList command =
        m_entry.value(QStringLiteral("Exec")).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QCOMPARE(command, QStringList({QStringLiteral("picwnd"), QStringLiteral("%f")}));
    QCOMPARE(m_entry.value(QStringLiteral("TryExec")), QStringLiteral("picwnd"));
    // Hidden or NoDisplay entries are left out of menus and of "Open With".
    QVERIFY(m_entry.value(QStringLiteral("NoDisplay"), QStringLiteral("false")) ==
            QLatin1String("false"));
    QVERIFY(m_entry.value(QStringLiteral("Hidden"), QStringLiteral("false")) ==
            QLatin1String("false"));
    QVERIFY(m_entry.value(QStringLiteral("Terminal"), QStringLiteral("false")) ==
            QLatin1String("false"));
}

void TestDesktopEntry::namesAnIconThatIsAWellFormedSquareSvg()
{
    // The icon is installed under its file name without the extension, which is what the entry
    // names.
    const QString icon = m_entry.value(QStringLiteral("Icon"));
    QCOMPARE(icon, QStringLiteral("picwnd"));
    QFile file(dataDir + QLatin1Char('/') + icon + QLatin1String(".svg"));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));

    QXmlStreamReader xml(&file);
    QVERIFY(xml.readNextStartElement());
    QCOMPARE(xml.name(), QLatin1String("svg"));
    QCOMPARE(xml.namespaceUri(), QLatin1String("http://www.w3.org/2000/svg"));
    const QStringList viewBox =
        xml.attributes().value(QLatin1String("viewBox")).toString().split(QLatin1Char(' '));
    QCOMPARE(viewBox.size(), 4);
    QVERIFY2(viewBox.at(2) == viewBox.at(3), "the icon is not square");
    while (!xml.atEnd())
        xml.readNext();
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
}

QTEST_MAIN(TestDesktopEntry)
#include "tst_desktopentry.moc"
