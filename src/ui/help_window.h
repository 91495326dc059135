// The help pages beyond the Help list's introduction: units, the plots, exchange mode, the pulse
// tools and the image window, in a tool window with the topics on the left. The units page is
// made from the same table as the boxes' tooltips and "velmora-cli controls", so it cannot
// disagree with them.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class QListWidget;
class QTextBrowser;

namespace velmora::ui {

struct HelpPage {
    QString title;
    QString html;
};

// Every page, in the order the Help menu lists them.
std::vector<HelpPage> helpPages();

class HelpWindow : public QWidget {
    Q_OBJECT

public:
    explicit HelpWindow(QWidget* parent);

    // Shows the page with this title (the first page for an unknown title).
    void showPage(const QString& title);
    QString currentTitle() const;
    QTextBrowser* browser() const { return browser_; }

private:
    std::vector<HelpPage> pages_;
    QListWidget* topics_ = nullptr;
    QTextBrowser* browser_ = nullptr;
};

}  // namespace velmora::ui
