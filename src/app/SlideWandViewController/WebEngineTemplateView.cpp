#include "WebEngineTemplateView.h"

#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace {

// Hands every navigation to the view's decision.
class TemplatePage : public QWebEnginePage {
public:
    TemplatePage(QWebEngineProfile* profile, TemplateWebView* view)
        : QWebEnginePage(profile, view)
        , view_(view) {}

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override {
        return !view_->decideNavigation || view_->decideNavigation(url, isMainFrame);
    }

private:
    TemplateWebView* view_;
};

} // namespace

WebEngineTemplateView::WebEngineTemplateView(QWidget* parent)
    : TemplateWebView(parent)
    , view_(new QWebEngineView(this)) {
    // An off-the-record profile: nothing of the site is kept on disk between runs.
    auto* profile = new QWebEngineProfile(this);
    view_->setPage(new TemplatePage(profile, this));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
    connect(view_, &QWebEngineView::loadFinished, this, &TemplateWebView::navigationFinished);
}

void WebEngineTemplateView::load(const QUrl& url) {
    view_->load(url);
}

void WebEngineTemplateView::goBack() {
    view_->back();
}

void WebEngineTemplateView::reloadFromOrigin() {
    view_->triggerPageAction(QWebEnginePage::ReloadAndBypassCache);
}
