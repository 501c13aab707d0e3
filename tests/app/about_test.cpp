#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QUrlQuery>

#include "app/window/about_form.h"
#include "app/window/system_report.h"
#include "main_form_fixture.h"

namespace benchcap::app::test {
namespace {

TEST(SystemReport, FileVersionsAndTheReportLayout) {
    const QString path = QStringLiteral("/usr/lib/libgpib.so.0");
    const struct {
        bool exists;
        std::optional<FixedFileVersion> version;
        const char* text;
    } cases[] = {
        {false, std::nullopt, "File /usr/lib/libgpib.so.0 not found!"},
        {true, std::nullopt, "/usr/lib/libgpib.so.0 is not a 32-bit executable!"},
        {true, FixedFileVersion{0x00020001, 0x000000CF, 2}, "Version: 2.1.0.207 (type: DLL)"},
        {true, FixedFileVersion{0xFFFF0000, 0x0001FFFF, 1},
         "Version: 65535.0.1.65535 (type: Application)"},
        {true, FixedFileVersion{0, 0, 3}, "Version: 0.0.0.0 (type: Device Driver)"},
        {true, FixedFileVersion{0, 0, 5}, "Version: 0.0.0.0 (type: Virtual Device Driver)"},
        {true, FixedFileVersion{0, 0, 4}, "Version: 0.0.0.0 (type: Unknown)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fileVersionText(path, c.exists, c.version), QString::fromLatin1(c.text));
    // Blanks around a missing file's name are not repeated.
    EXPECT_EQ(fileVersionText(QStringLiteral(" x.dll "), false, std::nullopt),
              QStringLiteral("File x.dll not found!"));

    // The Qt library in use is a versioned shared object.
    const QString qt = qtLibraryPath();
    ASSERT_FALSE(qt.isEmpty());
    const QString expected = QStringLiteral("Version: %1.%2.%3.0 (type: DLL)")
                                 .arg(QT_VERSION_MAJOR)
                                 .arg(QT_VERSION_MINOR)
                                 .arg(QT_VERSION_PATCH);
    EXPECT_EQ(fileVersionText(qt), expected);

    EXPECT_EQ(osDescription(QStringLiteral("Debian"), QStringLiteral("Linux 6.1"), 1),
              QStringLiteral("Debian, Linux 6.1, build 1"));
    EXPECT_EQ(
        osDescription(QString(), QStringLiteral("SP1") + QChar(0) + QStringLiteral("junk"), 7),
        QStringLiteral(", SP1, build 7"));

    const std::vector<ReportRow> rows = systemReportRows();
    ASSERT_EQ(rows.size(), 6u);
    const char* labels[] = {"Operating system",    "IEEE driver version", "Qt runtime version",
                            "NI analysis version", "NI UI version",       "NI 3D version"};
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].label, QString::fromLatin1(labels[i]));
    EXPECT_TRUE(rows[3].value.endsWith(QStringLiteral("/cwanalysis.ocx not found!")));
    EXPECT_EQ(systemReportText({{"A", "1"}, {"B", "2"}}), QStringLiteral("A\t\t1\r\nB\t\t2\r\n"));
}

TEST_F(MainFormTest, AboutBoxBuiltOnceShowsVersionLinksAndSystemInformation) {
    std::vector<QUrl> opened;
    links.openLink = [&](const QUrl& url) { opened.push_back(url); };
    relink();
    EXPECT_EQ(form->aboutForm(), nullptr);
    item("About")->trigger();
    AboutForm* about = form->aboutForm();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->isVisible());
    EXPECT_FALSE(about->isModal());
    const VersionInfo& v = form->version();
    EXPECT_EQ(about->windowTitle(), QStringLiteral("Information about Benchcap"));
    auto label = [&](const char* name) {
        return about->findChild<QLabel*>(QLatin1String(name))->text();
    };
    for (const auto& [name, text] :
         {std::pair{"Product", "Benchcap"},
          {"Description", "Getting screenshots and trace data via IEEE bus"},
          {"CompanyCaption", "Company homepage:"},
          {"ProductCaption", "Product  homepage:"},
          {"SupportCaption", "Support mail:"}})
        EXPECT_EQ(label(name), QLatin1String(text));
    EXPECT_EQ(label("Version"), QStringLiteral("Version 2.3 from ") + v.dateText());
    EXPECT_TRUE(
        label("ProductLink").contains(QStringLiteral("click here to open product homepage")));

    for (const char* link : {"CompanyLink", "ProductLink", "SupportLink"}) {
        QLabel* l = about->findChild<QLabel*>(QLatin1String(link));
        emit l->linkActivated(QString::fromLatin1(link).chopped(4));
    }
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[0], about->companyUrl());
    EXPECT_EQ(opened[1], about->productUrl());
    EXPECT_EQ(opened[2].scheme(), QStringLiteral("mailto"));
    EXPECT_EQ(QUrlQuery(opened[2]).queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded),
              QStringLiteral("Question to Benchcap, version 2.3 from ") + v.dateText());

    about->findChild<QPushButton*>(QStringLiteral("SystemInfo"))->click();
    ASSERT_EQ(scripted.boxes.boxes().size(), 1u);
    const auto& box = scripted.boxes.boxes()[0];
    EXPECT_EQ(box.title, "SYSTEM INFORMATIONS");
    EXPECT_EQ(box.icon, bus::MessageIcon::Information);
    EXPECT_EQ(box.text, about->systemReport().toStdString());
    EXPECT_EQ(std::count(box.text.begin(), box.text.end(), '\n'), 6);

    // OK only hides; the next opening shows the same box.
    about->findChild<QPushButton*>(QStringLiteral("OK"))->click();
    EXPECT_FALSE(about->isVisible());
    item("About")->trigger();
    EXPECT_EQ(form->aboutForm(), about);
    EXPECT_TRUE(about->isVisible());
}

}  // namespace
}  // namespace benchcap::app::test
