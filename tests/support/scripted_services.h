#pragma once

#include <QMenu>
#include <QPointer>

#include <deque>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "app/ui/ui_services.h"
#include "support/scripted_user_interface.h"

namespace benchcap::app::testing {

// Scripted platform services for tests: answers queued in advance, every call recorded.
// The message and input boxes are bus::testing::ScriptedUserInterface
// (support/scripted_user_interface.h), which needs no Qt.

class ScriptedFolderBrowser final : public FolderBrowser {
  public:
    struct Call {
        QWidget* owner;
        QString currentFolder;
        QString title;
        QString text;  // as the dialog shows it
    };
    // With nothing queued the browser is cancelled (empty answer).
    void queueAnswer(const QString& folder) { answers_.push_back(folder); }
    const std::vector<Call>& calls() const { return calls_; }

    QString browseForFolder(QWidget* owner, const QString& currentFolder,
                            const QString& title) override {
        calls_.push_back({owner, currentFolder, title, folderBrowserText(title, currentFolder)});
        if (answers_.empty())
            return {};
        QString a = answers_.front();
        answers_.pop_front();
        return a;
    }

  private:
    std::deque<QString> answers_;
    std::vector<Call> calls_;
};

class ScriptedSaveFileDialog final : public SaveFileDialog {
  public:
    // With nothing queued the dialog is cancelled (empty name). `filterIndex` is the
    // filter pair the user chose.
    void queueAnswer(const QString& fileName, int filterIndex = 0) {
        answers_.push_back({fileName, filterIndex});
    }
    // The filter and the folder in force at each showing.
    const std::vector<QString>& shownWithFilters() const { return shown_; }
    const std::vector<QString>& shownInFolders() const { return folders_; }

    void setFilter(const QString& filter) override { filter_ = filter; }
    QString filter() const override { return filter_; }
    void setFolder(const QString& folder) override { folder_ = folder; }
    void setSuggestedName(const QString&) override {}
    QString showSave(QWidget*) override {
        shown_.push_back(filter_);
        folders_.push_back(folder_);
        if (whileShown)
            whileShown();
        if (answers_.empty())
            return {};
        const auto [name, index] = answers_.front();
        answers_.pop_front();
        selected_ = index;
        return name;
    }
    int selectedFilter() const override { return selected_; }
    // What the user does while the dialog is open (the window's events go on then).
    std::function<void()> whileShown;

  private:
    QString filter_;
    QString folder_;
    int selected_ = 0;
    std::deque<std::pair<QString, int>> answers_;
    std::vector<QString> shown_;
    std::vector<QString> folders_;
};

class ScriptedPrintDialog final : public PrintDialog {
  public:
    // nullopt cancels; a value is the user's choice (orientation, copies, range).
    void queueAnswer(std::optional<PrintOptions> choice) { answers_.push_back(choice); }
    // The presets the dialog was shown with.
    const std::vector<PrintOptions>& presets() const { return presets_; }

    bool exec(QWidget* owner, QPrinter& printer, PrintOptions& options) override;

  private:
    std::deque<std::optional<PrintOptions>> answers_;
    std::vector<PrintOptions> presets_;
};

class MemoryClipboard final : public Clipboard {
  public:
    void setImage(const QImage& image) override {
        image_ = image;
        text_.clear();
        ++writes_;
    }
    void setText(const QString& text) override {
        text_ = text;
        image_ = QImage();
        ++writes_;
    }
    QImage image() const override { return image_; }
    QString text() const override { return text_; }
    int writes() const { return writes_; }

  private:
    QImage image_;
    QString text_;
    int writes_ = 0;
};

// A notification-area icon that only keeps its state; `activate` plays a mouse event.
class ScriptedTrayIcon final : public TrayIcon {
  public:
    void setAvailable(bool available) { available_ = available; }
    bool isAvailable() const override { return available_; }
    void setIcon(const QIcon&) override {}
    void setToolTip(const QString&) override {}
    void setContextMenu(QMenu* menu) override { menu_ = menu; }
    void show() override { visible_ = true; }
    void hide() override { visible_ = false; }
    bool isVisible() const override { return visible_; }
    void setActivationHandler(std::function<void(TrayActivation, QPoint)> handler) override {
        handler_ = std::move(handler);
    }

    // Number of icons in the notification area: 0 or 1, however often it was added.
    int iconCount() const { return visible_ ? 1 : 0; }
    QMenu* contextMenu() const { return menu_; }
    // A right release opens the context menu as the desktop does; counted here.
    int contextMenuOpenings() const { return menuOpenings_; }

    void activate(TrayActivation a, QPoint at = {}) {
        if (!visible_)
            return;  // no icon, no events
        if (a == TrayActivation::RightRelease && menu_)
            ++menuOpenings_;
        if (handler_)
            handler_(a, at);
    }

  private:
    bool available_ = true;
    bool visible_ = false;
    QPointer<QMenu> menu_;
    int menuOpenings_ = 0;
    std::function<void(TrayActivation, QPoint)> handler_;
};

// Scripted answers for every service, ready to hand to a window.
struct ScriptedServices {
    bus::testing::ScriptedUserInterface boxes;
    ScriptedFolderBrowser folders;
    ScriptedSaveFileDialog saveDialog;
    ScriptedPrintDialog printDialog;
    MemoryClipboard clipboard;
    ScriptedTrayIcon tray;

    UiServices services() {
        return {&boxes, &folders, &saveDialog, &printDialog, &clipboard, &tray};
    }
};

}  // namespace benchcap::app::testing
