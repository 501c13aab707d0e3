#pragma once

#include <QDialog>
#include <QUrl>

#include <functional>

#include "app/startup/version_info.h"

class QLabel;
class QPushButton;

namespace benchcap::bus {
class UserInterface;
}

namespace benchcap::app {

// Where the about box's links lead.
struct AboutLinks {
    QString companyAddress = QStringLiteral("https://example.org/benchcap");
    // The product's page: the notes address followed by the product's note number.
    QString notesAddress = QStringLiteral("https://example.org/benchcap/");
    QString noteNumber = QStringLiteral("issues");
    QString supportMail = QStringLiteral("benchcap@example.org");
};

// "Information about Benchcap": name, description, version, the three links and the system
// report. Built once; "OK" only hides it and a later opening shows it as it was.
class AboutForm : public QDialog {
    Q_OBJECT
  public:
    AboutForm(const VersionInfo& version, QString systemReport, bus::UserInterface* boxes,
              std::function<void(const QUrl&)> openLink, QWidget* parent = nullptr,
              AboutLinks links = {});

    const QString& systemReport() const { return report_; }
    QUrl companyUrl() const;
    QUrl productUrl() const;
    // A new mail to support, subject "Question to Benchcap, version 2.3 from 3/7/2003".
    QUrl supportUrl() const;

    // "show system information": the report in an information box.
    void showSystemInformation();

  private:
    void openLink(const QString& which);

    VersionInfo version_;
    QString report_;
    bus::UserInterface* boxes_;
    std::function<void(const QUrl&)> openLink_;
    AboutLinks links_;
};

}  // namespace benchcap::app
