#pragma once

#include <QIcon>
#include <QImage>
#include <QPageLayout>
#include <QPoint>
#include <QString>

#include <functional>

class QMenu;
class QPrinter;
class QWidget;

namespace benchcap::bus {
class UserInterface;
}

namespace benchcap::app {

// The platform dialogs and desktop services the window uses, each behind a small
// interface so that tests script them (src/app/testing) and the window never blocks
// a test in a modal dialog.

class FolderBrowser {
  public:
    virtual ~FolderBrowser() = default;
    // The chosen folder's file-system path, or an empty text when the user cancelled or
    // chose something without a path.
    virtual QString browseForFolder(QWidget* owner, const QString& currentFolder,
                                    const QString& title) = 0;
};

// The text the folder browser shows: the title, a line break and the current folder.
QString folderBrowserText(const QString& title, const QString& currentFolder);

class SaveFileDialog {
  public:
    virtual ~SaveFileDialog() = default;
    // Filter as pairs of description and pattern separated by "|",
    // e.g. "WMF file|*.WMF|all files|*.*".
    virtual void setFilter(const QString& filter) = 0;
    virtual QString filter() const = 0;
    // The folder the dialog opens in at its next showing.
    virtual void setFolder(const QString& folder) = 0;
    // The name offered in that folder at its next showing (empty: none).
    virtual void setSuggestedName(const QString& name) = 0;
    // Shows the dialog for saving; the chosen file name, empty when nothing was chosen.
    // Replacing an existing file is not confirmed (the caller decides).
    virtual QString showSave(QWidget* owner) = 0;
    // The pair of the filter the user had chosen at the last showing (0 for the first).
    virtual int selectedFilter() const = 0;
};

// Shows `dialog` for saving with `filter`, opened in `folder`, offering `suggested`. The chosen
// name without surrounding blanks; when it has no extension, the extension of the chosen filter is
// added in small letters ("plot9" under "PDF file|*.PDF" becomes "plot9.pdf"). Empty when
// cancelled.
QString askSaveName(SaveFileDialog& dialog, QWidget* owner, const QString& filter,
                    const QString& folder, const QString& suggested = {});

// "WMF file|*.WMF|all files|*.*" as Qt writes it: "WMF file (*.WMF);;all files (*.*)".
QString qtNameFilter(const QString& pairFilter);

// Presets going into the print dialog and the user's choice coming out.
struct PrintOptions {
    int copies = 1;
    bool pageRange = true;
    int fromPage = 1;
    int toPage = 1;
    int minPage = 1;
    int maxPage = 1;
    QPageLayout::Orientation orientation = QPageLayout::Landscape;
};

class PrintDialog {
  public:
    virtual ~PrintDialog() = default;
    // Shows the dialog with `options` preset and configures `printer` as chosen.
    // On confirmation `options` holds the chosen orientation and copies and the result is
    // true; false when the user cancelled.
    virtual bool exec(QWidget* owner, QPrinter& printer, PrintOptions& options) = 0;
};

class Clipboard {
  public:
    virtual ~Clipboard() = default;
    virtual void setImage(const QImage& image) = 0;
    virtual void setText(const QString& text) = 0;
    virtual QImage image() const = 0;
    virtual QString text() const = 0;
};

// The mouse events of the notification-area icon the window distinguishes.
enum class TrayActivation { LeftRelease, LeftDoubleClick, RightRelease, Other };

class TrayIcon {
  public:
    virtual ~TrayIcon() = default;
    // False where the desktop has no notification area; the window then keeps a minimised
    // window in the taskbar instead of hiding it where nobody could find it again.
    virtual bool isAvailable() const = 0;
    virtual void setIcon(const QIcon& icon) = 0;
    virtual void setToolTip(const QString& tip) = 0;
    // Opened by the icon on a right click.
    virtual void setContextMenu(QMenu* menu) = 0;
    // Adding an icon that is there, or removing one that is not, changes nothing.
    virtual void show() = 0;
    virtual void hide() = 0;
    virtual bool isVisible() const = 0;
    virtual void setActivationHandler(std::function<void(TrayActivation, QPoint)> handler) = 0;
};

// The services a window is built with. The application owns them; they outlive the window.
struct UiServices {
    bus::UserInterface* boxes = nullptr;
    FolderBrowser* folders = nullptr;
    SaveFileDialog* saveDialog = nullptr;
    PrintDialog* printDialog = nullptr;
    Clipboard* clipboard = nullptr;
    TrayIcon* tray = nullptr;
};

}  // namespace benchcap::app
