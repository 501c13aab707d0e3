// The window program's texts: the "/" command line, its options, output file names and
// dialog filters.
#include <gtest/gtest.h>
#include <QFile>

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include "app/output/output_files.h"
#include "app/startup/app_options.h"
#include "app/startup/command_line.h"
#include "app/startup/settings_store.h"
#include "support/scripted_services.h"
#include "support/table_file.h"
#include "support/test_paths.h"

namespace benchcap::app {
namespace {

// An action as tests/data/app/command-line.tsv writes it: "Address 20", "Name=x", "End".
std::string describe(const CommandAction& a) {
    static const char* const kinds[] = {"Hide", "Show", "Address", "BadAddress", "Color", "BW",
                                        "Name", "Plot", "Screen",  "Trace",      "End"};
    using K = CommandAction::Kind;
    std::string text = kinds[static_cast<int>(a.kind)];
    if (a.kind == K::Address || a.kind == K::Trace)
        text += " " + std::to_string(a.number);
    if (a.kind == K::Name || a.kind == K::BadAddress)
        text += "=" + a.text.toStdString();
    return text;
}

std::string describe(const std::vector<CommandAction>& actions) {
    std::string text;
    for (const CommandAction& a : actions)
        text += (text.empty() ? "" : " ; ") + describe(a);
    return text;
}

TEST(CommandLine, SplitAndParsedAsRecorded) {
    for (const auto& row : test::readTable("app/command-line.tsv")) {
        const QString given = QString::fromStdString(row[1]);
        if (row[0] == "split")
            EXPECT_EQ(splitCommandLine(given).join(u'|').toStdString(), row[2]) << row[1];
        else if (row[0] == "action")
            EXPECT_EQ(describe(actionsFor(given)), row[2]) << row[1];
        else
            EXPECT_EQ(describe(parseCommandLine(given)), row[2]) << row[1];
    }
}

// The options as one line of what was given: "interface=... data-path=... screenshot=...
// scan help version system-info | command line".
std::string parsed(QStringList args) {
    args.prepend(QStringLiteral("benchcap"));
    const Result<AppOptions> r = parseAppOptions(args);
    if (!r)
        return "error: " + r.error();
    QStringList given;
    if (!r->interfaceChoice.isEmpty())
        given << QStringLiteral("interface=") + r->interfaceChoice;
    if (r->dataPath)
        given << QStringLiteral("data-path=") + *r->dataPath;
    if (!r->screenshotFile.isEmpty())
        given << QStringLiteral("screenshot=") + r->screenshotFile;
    const std::pair<bool, const char*> flags[] = {{r->scan, "scan"},
                                                  {r->help, "help"},
                                                  {r->version, "version"},
                                                  {r->systemInfo, "system-info"}};
    for (const auto& [set, name] : flags) {
        if (set)
            given << QLatin1String(name);
    }
    return (given.join(QLatin1Char(' ')) + QStringLiteral(" | ") + r->commandLine).toStdString();
}

TEST(AppOptions, OptionsAnywhereTheCommandLineAndMalformedOptions) {
    for (const auto& row : test::readTable("app/app-options.tsv"))
        EXPECT_EQ(parsed(QString::fromStdString(row[0]).split(u' ')), row[1]) << row[0];
    // --help names every interface and keyword, and what happens without a display.
    for (const char* told : {"prologix:HOST[:PORT]", "prologix:/dev/ttyUSB0", "/PLOT", "offscreen"})
        EXPECT_TRUE(usageText().contains(QLatin1String(told))) << told;
}

TEST(outputFileName, Examples) {
    for (const auto& c : test::readTable("app/output-names.tsv")) {
        OutputFiles files([] { return QDateTime(QDate(2003, 12, 5), QTime(14, 3, 9)); },
                          QLatin1Char(c[0][0]));
        files.DataPath = QString::fromStdString(c[1]);
        const bool manual = c[2] != "auto";
        files.ManualName = QString::fromStdString(c[2]);
        EXPECT_EQ(files.outputFileName(QString::fromStdString(c[3]), std::stoi(c[4]), manual)
                      .toStdString(),
                  c[5]);
    }
}

TEST(OutputFolder, MissingDataPathIsCreatedOrReported) {
    const QString root = QString::fromStdString(test::makeTempDir("output-folder").string());
    const QString file = root + QStringLiteral("/Documents/Benchcap/HARDCOPY.WMF");
    ASSERT_TRUE(OutputFiles::makeFolderFor(file));
    EXPECT_TRUE(QFileInfo(root + QStringLiteral("/Documents/Benchcap")).isDir());
    ASSERT_TRUE(OutputFiles::makeFolderFor(file));  // there already

    QFile blocker(root + QStringLiteral("/plain"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    const Status s = OutputFiles::makeFolderFor(root + QStringLiteral("/plain/sub/x.TXT"));
    ASSERT_FALSE(s);
    EXPECT_NE(s.error().find("plain/sub"), std::string::npos) << s.error();
}

TEST(UiServices, FolderBrowserTextAndFilters) {
    EXPECT_EQ(folderBrowserText(QStringLiteral("Path to store hardcopies and trace data"),
                                QStringLiteral("C:\\Data")),
              QStringLiteral("Path to store hardcopies and trace data\r\nCurrent Path: C:\\Data"));
    EXPECT_EQ(qtNameFilter(QStringLiteral("WMF file|*.WMF|all files|*.*")),
              QStringLiteral("WMF file (*.WMF);;all files (*.*)"));
    EXPECT_EQ(qtNameFilter(QStringLiteral("text|*.TXT;*.CSV")),
              QStringLiteral("text (*.TXT *.CSV)"));
    // A dangling description without pattern is dropped rather than producing a bad filter.
    EXPECT_EQ(qtNameFilter(QStringLiteral("BMP file|*.BMP|odd")),
              QStringLiteral("BMP file (*.BMP)"));
}

const QString kApp = QStringLiteral("BENCHCAP");
const QString kSection = QStringLiteral("Settings");

QString tempFolder(const char* hint) {
    return QString::fromStdString(test::makeTempDir(hint).string());
}

void writeText(const QString& path, const QByteArray& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

QByteArray readText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(SettingsEncoding, TruthValuesAndNumbers) {
    EXPECT_EQ(encodeBool(true), QStringLiteral("True"));
    EXPECT_EQ(encodeBool(false), QStringLiteral("False"));
    EXPECT_EQ(encodeNumber(10800), QStringLiteral("10800"));
    EXPECT_EQ(encodeNumber(-48000), QStringLiteral("-48000"));
    EXPECT_EQ(encodeNumber(2.5), QStringLiteral("2.5"));
    for (const auto& row : test::readTable("app/settings-values.tsv")) {
        const QString text = QString::fromStdString(row[1]);
        if (row[0] == "bool") {
            const std::optional<bool> b = decodeBool(text);
            EXPECT_EQ(b ? (*b ? "true" : "false") : "none", row[2]) << row[1];
        } else {
            EXPECT_EQ(decodeInteger(text), std::stoi(row[2])) << row[1];
        }
    }
}

TEST(IniSettingsStore, MissingOrUnreadableStoreGivesDefaults) {
    IniSettingsStore missing(tempFolder("settings-missing") + QStringLiteral("/not/there"));
    EXPECT_EQ(missing.read(kApp, kSection, QStringLiteral("Address"), QStringLiteral("20")),
              QStringLiteral("20"));

    const QString folder = tempFolder("settings-garbage");
    writeText(folder + QStringLiteral("/BENCHCAP.ini"), QByteArray("\x01\x02 not an ini\n[[[", 17));
    IniSettingsStore garbage(folder);
    EXPECT_EQ(garbage.read(kApp, kSection, QStringLiteral("Color"), QStringLiteral("True")),
              QStringLiteral("True"));
}

TEST(IniSettingsStore, NamesMatchWithoutRegardToCase) {
    const QString folder = tempFolder("settings-case");
    writeText(folder + QStringLiteral("/benchcap.ini"),
              "; edited by hand\n[settings]\naddress=12\nCOLOR=false\n[Other]\nkeep=1\n");
    IniSettingsStore store(folder);
    EXPECT_EQ(store.read(kApp, kSection, QStringLiteral("Address"), QStringLiteral("20")),
              QStringLiteral("12"));
    EXPECT_EQ(store.read(QStringLiteral("Benchcap"), QStringLiteral("SETTINGS"),
                         QStringLiteral("Color"), QStringLiteral("True")),
              QStringLiteral("false"));

    // Writing replaces the hand-written lines in place and keeps everything else.
    store.write(kApp, kSection, QStringLiteral("Address"), QStringLiteral("7"));
    store.write(kApp, kSection, QStringLiteral("DataPath"), QStringLiteral("/data"));
    ASSERT_TRUE(store.flush());
    EXPECT_EQ(readText(folder + QStringLiteral("/benchcap.ini")),
              QByteArray("; edited by hand\n[settings]\nAddress=7\nCOLOR=false\nDataPath=/data\n"
                         "[Other]\nkeep=1\n"));
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/BENCHCAP.ini")));
}

TEST(IniSettingsStore, ValuesRoundTripThroughQSettings) {
    const QString folder = tempFolder("settings-roundtrip") + QStringLiteral("/new/folder");
    IniSettingsStore store(folder);
    const QStringList paths = {QStringLiteral("/home/lab/data"),
                               QStringLiteral("/a;b,c \"q\" \\x \u00fc"),
                               QStringLiteral("  spaced  "), QString(), QStringLiteral("a=b#c")};
    for (qsizetype i = 0; i < paths.size(); ++i)
        store.write(kApp, kSection, QStringLiteral("Path%1").arg(i), paths[i]);
    ASSERT_TRUE(store.flush());  // the folder is created
    QSettings qt(folder + QStringLiteral("/BENCHCAP.ini"), QSettings::IniFormat);
    for (qsizetype i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(qt.value(QStringLiteral("Settings/Path%1").arg(i)).toString(), paths[i]) << i;
        EXPECT_EQ(store.read(kApp, kSection, QStringLiteral("path%1").arg(i), QStringLiteral("?")),
                  paths[i]);
    }
}

// The file is edited as bytes: what the program does not own comes back byte for byte, a
// Latin-1 value is read as Latin-1 and written back so.
TEST(IniSettingsStore, BytesTheProgramDoesNotOwnStay) {
    const QString folder = tempFolder("settings-bytes");
    const QString file = folder + QStringLiteral("/BENCHCAP.ini");
    QByteArray binary(1 << 20, '\0');
    for (qsizetype i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>((i * 7919) >> 3);
    const QByteArray head =
        "; Kommentar \xe4\xf6\xfc\r\n[Other]\r\nx=\xff\xfe\r\n[Settings]\r\n"
        "DataPath=/daten/m\xfcller\r\nColor=True ; unchanged\r\n";
    writeText(file, head + binary);
    IniSettingsStore store(folder);
    EXPECT_EQ(store.read(kApp, kSection, QStringLiteral("DataPath"), {}),
              QStringLiteral("/daten/m\u00fcller"));
    for (const char* path : {"/daten/m\u00fcller", "/daten/m\u00fcller2"}) {
        store.write(kApp, kSection, QStringLiteral("DataPath"), QString::fromUtf8(path));
        store.write(kApp, kSection, QStringLiteral("Color"), QStringLiteral("True"));
        ASSERT_TRUE(store.flush());
    }
    const QByteArray after = readText(file);
    QByteArray expected = head + binary;
    expected.replace("m\xfcller\r", "m\xfcller2\r");
    EXPECT_TRUE(after == expected) << after.size() << " bytes instead of " << expected.size();
}

// A settings file kept elsewhere through a link is updated there; a read-only one is not
// replaced, and the reason names it.
TEST(IniSettingsStore, LinkedAndReadOnlyFiles) {
    const QString folder = tempFolder("settings-link");
    const QString dotfile = folder + QStringLiteral("/dotfiles/benchcap.ini");
    QDir().mkpath(folder + QStringLiteral("/dotfiles"));
    QDir().mkpath(folder + QStringLiteral("/config"));
    writeText(dotfile, "[Settings]\nAddress=12\n");
    ASSERT_TRUE(QFile::link(QStringLiteral("../dotfiles/benchcap.ini"),
                            folder + QStringLiteral("/config/BENCHCAP.ini")));
    IniSettingsStore store(folder + QStringLiteral("/config"));
    store.write(kApp, kSection, QStringLiteral("Address"), QStringLiteral("7"));
    ASSERT_TRUE(store.flush());
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral("/config/BENCHCAP.ini")).isSymLink());
    EXPECT_EQ(readText(dotfile), QByteArray("[Settings]\nAddress=7\n"));

    ASSERT_TRUE(QFile::setPermissions(dotfile, QFileDevice::ReadOwner));
    store.write(kApp, kSection, QStringLiteral("Address"), QStringLiteral("9"));
    const Status s = store.flush();
    ASSERT_FALSE(s);
    EXPECT_EQ(s.error(), QDir::cleanPath(dotfile).toStdString() + " is read-only");
    EXPECT_EQ(readText(dotfile), QByteArray("[Settings]\nAddress=7\n"));
}

}  // namespace
}  // namespace benchcap::app
