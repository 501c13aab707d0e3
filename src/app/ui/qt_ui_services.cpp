#include "app/ui/qt_ui_services.h"
#include "app/ui/qt_text.h"

#include <QClipboard>
#include <QCursor>
#include <QFileDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>
#include <QSystemTrayIcon>

namespace benchcap::app {
namespace {

QString boxTitle(const std::string& title) {
    if (!title.empty())
        return fromLatin1(title);
    return QGuiApplication::applicationDisplayName();
}

}  // namespace

bus::MessageResult QtUserInterface::messageBox(bus::MessageIcon icon, const std::string& title,
                                               const std::string& text,
                                               bus::MessageButtons buttons) {
    QMessageBox box(owner_);
    box.setWindowTitle(boxTitle(title));
    box.setText(fromMessage(text));
    if (text.find('\t') != std::string::npos) {
        // A table (label, tabs, value per line, as the system report) reads only unwrapped:
        // the box is made wide enough for its longest line.
        int widest = 0;
        const QFontMetrics metrics(box.font());
        const int tabStop = 80;  // the text layout's default tab distance in pixels
        for (const QString& line : box.text().split(QLatin1Char('\n'))) {
            int x = 0;
            for (const QString& piece : line.split(QLatin1Char('\t'))) {
                if (x > 0)
                    x = (x / tabStop + 1) * tabStop;
                x += metrics.horizontalAdvance(piece);
            }
            widest = std::max(widest, x);
        }
        const QScreen* screen = owner_ ? owner_->screen() : QGuiApplication::primaryScreen();
        const int limit = screen ? screen->availableGeometry().width() * 4 / 5 : 1000;
        box.setStyleSheet(QStringLiteral("QLabel#qt_msgbox_label { min-width: %1px; }")
                              .arg(std::min(widest + 16, limit)));
    }
    switch (icon) {
        case bus::MessageIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case bus::MessageIcon::Critical:
            box.setIcon(QMessageBox::Critical);
            break;
        case bus::MessageIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        case bus::MessageIcon::Exclamation:
            box.setIcon(QMessageBox::Warning);
            break;
        case bus::MessageIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
    }
    QMessageBox::StandardButtons set;
    switch (buttons) {
        case bus::MessageButtons::Ok:
            set = QMessageBox::Ok;
            break;
        case bus::MessageButtons::OkCancel:
            set = QMessageBox::Ok | QMessageBox::Cancel;
            break;
        case bus::MessageButtons::YesNo:
            set = QMessageBox::Yes | QMessageBox::No;
            break;
        case bus::MessageButtons::YesNoCancel:
            set = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
            break;
    }
    box.setStandardButtons(set);
    switch (box.exec()) {
        case QMessageBox::Yes:
            return bus::MessageResult::Yes;
        case QMessageBox::No:
            return bus::MessageResult::No;
        case QMessageBox::Cancel:
            return bus::MessageResult::Cancel;
        case QMessageBox::Ok:
            return bus::MessageResult::Ok;
        default:
            // Closed by the window frame or Escape: the safe answer of the button set.
            return buttons == bus::MessageButtons::Ok      ? bus::MessageResult::Ok
                   : buttons == bus::MessageButtons::YesNo ? bus::MessageResult::No
                                                           : bus::MessageResult::Cancel;
    }
}

std::optional<std::string> QtUserInterface::inputBox(const std::string& title,
                                                     const std::string& prompt,
                                                     const std::string& preset) {
    bool ok = false;
    const QString answer = QInputDialog::getText(owner_, boxTitle(title), fromLatin1(prompt),
                                                 QLineEdit::Normal, fromLatin1(preset), &ok);
    if (!ok)
        return std::nullopt;
    const QByteArray bytes = answer.toLatin1();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

QString QtFolderBrowser::browseForFolder(QWidget* owner, const QString& currentFolder,
                                         const QString& title) {
    QFileDialog dialog(owner, title);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    // Our own dialog, so that the title and current path can be shown inside it.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // It opens where the files go now; a folder that is gone gives the file system's root.
    dialog.setDirectory(!currentFolder.isEmpty() && QDir(currentFolder).exists()
                            ? currentFolder
                            : QDir::rootPath());
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
        auto* label = new QLabel(folderBrowserText(title, currentFolder)
                                     .replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
                                 &dialog);
        grid->addWidget(label, grid->rowCount(), 0, 1, grid->columnCount());
    }
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QList<QUrl> urls = dialog.selectedUrls();
    if (urls.isEmpty() || !urls.front().isLocalFile())
        return {};
    return QDir::toNativeSeparators(urls.front().toLocalFile());
}

QString QtSaveFileDialog::showSave(QWidget* owner) {
    QFileDialog dialog(owner);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    const QString filters = qtNameFilter(filter_);
    dialog.setNameFilter(filters);
    if (!folder_.isEmpty())
        dialog.setDirectory(folder_);
    if (!suggested_.isEmpty())
        dialog.selectFile(suggested_);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    selected_ = std::max(
        0,
        static_cast<int>(filters.split(QStringLiteral(";;")).indexOf(dialog.selectedNameFilter())));
    return QDir::toNativeSeparators(dialog.selectedFiles().front());
}

bool QtPrintDialog::exec(QWidget* owner, QPrinter& printer, PrintOptions& options) {
    printer.setCopyCount(options.copies);
    printer.setPageOrientation(options.orientation);
    QPrintDialog dialog(&printer, owner);
    dialog.setMinMax(options.minPage, options.maxPage);
    dialog.setFromTo(options.fromPage, options.toPage);
    if (options.pageRange)
        dialog.setPrintRange(QAbstractPrintDialog::PageRange);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    options.copies = printer.copyCount();
    options.orientation = printer.pageLayout().orientation();
    options.fromPage = printer.fromPage();
    options.toPage = printer.toPage();
    return true;
}

void QtClipboard::setImage(const QImage& image) {
    QGuiApplication::clipboard()->setImage(image);
}
void QtClipboard::setText(const QString& text) {
    QGuiApplication::clipboard()->setText(text);
}
QImage QtClipboard::image() const {
    return QGuiApplication::clipboard()->image();
}
QString QtClipboard::text() const {
    return QGuiApplication::clipboard()->text();
}

QtTrayIcon::QtTrayIcon() : icon_(std::make_unique<QSystemTrayIcon>()) {
    QObject::connect(icon_.get(), &QSystemTrayIcon::activated,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (!handler_)
                             return;
                         TrayActivation a = TrayActivation::Other;
                         switch (reason) {
                             case QSystemTrayIcon::Trigger:
                                 a = TrayActivation::LeftRelease;
                                 break;
                             case QSystemTrayIcon::DoubleClick:
                                 a = TrayActivation::LeftDoubleClick;
                                 break;
                             case QSystemTrayIcon::Context:
                                 a = TrayActivation::RightRelease;
                                 break;
                             default:
                                 break;
                         }
                         handler_(a, QCursor::pos());
                     });
}

QtTrayIcon::~QtTrayIcon() = default;

bool QtTrayIcon::isAvailable() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}
void QtTrayIcon::setIcon(const QIcon& icon) {
    icon_->setIcon(icon);
}
void QtTrayIcon::setToolTip(const QString& tip) {
    icon_->setToolTip(tip);
}
void QtTrayIcon::setContextMenu(QMenu* menu) {
    icon_->setContextMenu(menu);
}
void QtTrayIcon::show() {
    icon_->show();
}
void QtTrayIcon::hide() {
    icon_->hide();
}
bool QtTrayIcon::isVisible() const {
    return icon_->isVisible();
}
void QtTrayIcon::setActivationHandler(std::function<void(TrayActivation, QPoint)> handler) {
    handler_ = std::move(handler);
}

}  // namespace benchcap::app
