#pragma once

#include <QUrl>
#include <QWidget>

#include <functional>

// The template browser's web view: what the main window asks of it, and the two things it reports back
// (a navigation to decide, and the end of a navigation).
class TemplateWebView : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    virtual void load(const QUrl& url) = 0;
    virtual void goBack() = 0;
    // Loads the page again, revalidating everything cached with its origin.
    virtual void reloadFromOrigin() = 0;

    // Asked before each navigation of the page or one of its frames (redirects included): whether to show it.
    std::function<bool(const QUrl& url, bool isMainFrame)> decideNavigation;

Q_SIGNALS:
    // A navigation ended: shown, or failed (the site could not be reached).
    void navigationFinished(bool ok);
};
