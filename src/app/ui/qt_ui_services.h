#pragma once

#include <memory>

#include "app/ui/ui_services.h"
#include "bus/user_interface.h"

class QSystemTrayIcon;

namespace benchcap::app {

// The services on Qt: message boxes, input box, file dialogs, print dialog, clipboard and
// the notification-area icon.

class QtUserInterface final : public bus::UserInterface {
  public:
    // Boxes are owned by `owner` when given (centred over the main window).
    explicit QtUserInterface(QWidget* owner = nullptr) : owner_(owner) {}
    void setOwner(QWidget* owner) { owner_ = owner; }

    bus::MessageResult messageBox(bus::MessageIcon icon, const std::string& title,
                                  const std::string& text, bus::MessageButtons buttons) override;
    std::optional<std::string> inputBox(const std::string& title, const std::string& prompt,
                                        const std::string& preset) override;

  private:
    QWidget* owner_;
};

class QtFolderBrowser final : public FolderBrowser {
  public:
    QString browseForFolder(QWidget* owner, const QString& currentFolder,
                            const QString& title) override;
};

class QtSaveFileDialog final : public SaveFileDialog {
  public:
    void setFilter(const QString& filter) override { filter_ = filter; }
    QString filter() const override { return filter_; }
    void setFolder(const QString& folder) override { folder_ = folder; }
    void setSuggestedName(const QString& name) override { suggested_ = name; }
    QString showSave(QWidget* owner) override;
    int selectedFilter() const override { return selected_; }

  private:
    QString filter_;
    QString folder_;
    QString suggested_;
    int selected_ = 0;
};

class QtPrintDialog final : public PrintDialog {
  public:
    bool exec(QWidget* owner, QPrinter& printer, PrintOptions& options) override;
};

class QtClipboard final : public Clipboard {
  public:
    void setImage(const QImage& image) override;
    void setText(const QString& text) override;
    QImage image() const override;
    QString text() const override;
};

class QtTrayIcon final : public TrayIcon {
  public:
    QtTrayIcon();
    ~QtTrayIcon() override;
    bool isAvailable() const override;
    void setIcon(const QIcon& icon) override;
    void setToolTip(const QString& tip) override;
    void setContextMenu(QMenu* menu) override;
    void show() override;
    void hide() override;
    bool isVisible() const override;
    void setActivationHandler(std::function<void(TrayActivation, QPoint)> handler) override;

  private:
    std::unique_ptr<QSystemTrayIcon> icon_;
    std::function<void(TrayActivation, QPoint)> handler_;
};

}  // namespace benchcap::app
