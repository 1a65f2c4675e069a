#pragma once

#include "TemplateWebView.h"

class QWebEngineView;

// The template browser on Qt WebEngine. The engine starts with the first page loaded.
class WebEngineTemplateView : public TemplateWebView {
    Q_OBJECT
public:
    explicit WebEngineTemplateView(QWidget* parent = nullptr);

    void load(const QUrl& url) override;
    void goBack() override;
    void reloadFromOrigin() override;

private:
    QWebEngineView* view();

    QWebEngineView* view_ = nullptr;
};
