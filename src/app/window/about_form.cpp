#include "app/window/about_form.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrlQuery>
#include <QVBoxLayout>

#include "app/ui/logo.h"
#include "bus/user_interface.h"

namespace benchcap::app {
namespace {

QLabel* linkLabel(const QString& target, const QString& text, QWidget* parent) {
    auto* label = new QLabel(
        QStringLiteral("<a href=\"%1\">%2</a>").arg(target.toHtmlEscaped(), text.toHtmlEscaped()),
        parent);
    label->setTextFormat(Qt::RichText);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    return label;
}

}  // namespace

AboutForm::AboutForm(const VersionInfo& version, QString systemReport, bus::UserInterface* boxes,
                     std::function<void(const QUrl&)> openLink, QWidget* parent, AboutLinks links)
    : QDialog(parent),
      version_(version),
      report_(std::move(systemReport)),
      boxes_(boxes),
      openLink_(std::move(openLink)),
      links_(std::move(links)) {
    setObjectName(QStringLiteral("AboutForm"));
    setModal(false);
    setWindowTitle(QStringLiteral("Information about ") + version_.product);

    auto* logo = new QLabel(this);
    logo->setPixmap(drawWindowIcon().pixmap(48, 48));
    auto* name = new QLabel(version_.product, this);
    name->setObjectName(QStringLiteral("Product"));
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    name->setFont(big);
    auto* description =
        new QLabel(QStringLiteral("Getting screenshots and trace data via IEEE bus"), this);
    description->setObjectName(QStringLiteral("Description"));
    auto* versionLine = new QLabel(QStringLiteral("Version ") + version_.versionText() +
                                       QStringLiteral(" from ") + version_.dateText(),
                                   this);
    versionLine->setObjectName(QStringLiteral("Version"));

    auto* head = new QGridLayout;
    head->addWidget(logo, 0, 0, 3, 1, Qt::AlignTop);
    head->addWidget(name, 0, 1);
    head->addWidget(description, 1, 1);
    head->addWidget(versionLine, 2, 1);
    head->setColumnStretch(1, 1);

    auto* linkGrid = new QGridLayout;
    const struct {
        const char* name;
        QString caption;
        QString text;
    } rows[] = {
        {"Company", QStringLiteral("Company homepage:"), links_.companyAddress},
        {"Product", QStringLiteral("Product  homepage:"),
         QStringLiteral("click here to open product homepage")},
        {"Support", QStringLiteral("Support mail:"), links_.supportMail},
    };
    int row = 0;
    for (const auto& r : rows) {
        auto* caption = new QLabel(r.caption, this);
        caption->setObjectName(QLatin1String(r.name) + QStringLiteral("Caption"));
        QLabel* link = linkLabel(QLatin1String(r.name), r.text, this);
        link->setObjectName(QLatin1String(r.name) + QStringLiteral("Link"));
        connect(link, &QLabel::linkActivated, this, &AboutForm::openLink);
        linkGrid->addWidget(caption, row, 0);
        linkGrid->addWidget(link, row, 1);
        ++row;
    }
    linkGrid->setColumnStretch(1, 1);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QWidget::hide);
    auto* info = new QPushButton(QStringLiteral("show system information"), this);
    info->setObjectName(QStringLiteral("SystemInfo"));
    connect(info, &QPushButton::clicked, this, &AboutForm::showSystemInformation);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(info);
    buttons->addStretch(1);
    buttons->addWidget(ok);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(head);
    layout->addSpacing(12);
    layout->addLayout(linkGrid);
    layout->addSpacing(12);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QUrl AboutForm::companyUrl() const {
    return QUrl(links_.companyAddress);
}

QUrl AboutForm::productUrl() const {
    return QUrl(links_.notesAddress + links_.noteNumber);
}

QUrl AboutForm::supportUrl() const {
    QUrl url(QStringLiteral("mailto:") + links_.supportMail);
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("subject"),
                       QStringLiteral("Question to ") + version_.product +
                           QStringLiteral(", version ") + version_.versionText() +
                           QStringLiteral(" from ") + version_.dateText());
    url.setQuery(query);
    return url;
}

void AboutForm::openLink(const QString& which) {
    if (!openLink_)
        return;
    if (which == QLatin1String("Company"))
        openLink_(companyUrl());
    else if (which == QLatin1String("Product"))
        openLink_(productUrl());
    else if (which == QLatin1String("Support"))
        openLink_(supportUrl());
}

void AboutForm::showSystemInformation() {
    if (!boxes_)
        return;
    const QByteArray text = report_.toLatin1();
    boxes_->messageBox(bus::MessageIcon::Information, "SYSTEM INFORMATIONS",
                       std::string(text.constData(), static_cast<size_t>(text.size())),
                       bus::MessageButtons::Ok);
}

}  // namespace benchcap::app
