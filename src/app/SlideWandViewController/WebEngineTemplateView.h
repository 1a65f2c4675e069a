#pragma once

#include "TemplateWebView.h"

class QWebEngineView;

// The template browser on Qt WebEngine.
class WebEngineTemplateView : public TemplateWebView {
    Q_OBJECT
public:
    explicit WebEngineTemplateView(QWidget* parent = nullptr);

    void load(const QUrl& url) override;
    void goBack() override;
    void reloadFromOrigin() override;

private:
    QWebEngineView* view_;
};
