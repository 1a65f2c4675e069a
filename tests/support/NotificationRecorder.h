#pragma once

#include "core/NotificationCenter.h"
#include "core/Notifications.h"

#include <QString>
#include <QStringList>
#include <QVariant>

#include <mutex>
#include <utility>
#include <vector>

// Records the posts of the named notifications on the default center while it lives, from whichever
// thread posts them, with the object read as an integer.
class NotificationRecorder {
public:
    explicit NotificationRecorder(const QStringList& names) {
        for (const QString& name : names) {
            tokens_.push_back(
                NotificationCenter::defaultCenter().addObserver(name, [this, name](const QVariant& v) {
                    std::lock_guard lock(mutex_);
                    posts_.emplace_back(name, v.toInt());
                }));
        }
    }
    ~NotificationRecorder() {
        for (const auto token : tokens_)
            NotificationCenter::defaultCenter().removeObserver(token);
    }
    NotificationRecorder(const NotificationRecorder&) = delete;
    NotificationRecorder& operator=(const NotificationRecorder&) = delete;

    std::vector<std::pair<QString, int>> posts() const {
        std::lock_guard lock(mutex_);
        return posts_;
    }
    // The objects posted with one name, in order.
    std::vector<int> values(const QString& name) const {
        std::vector<int> out;
        for (const auto& [posted, value] : posts())
            if (posted == name)
                out.push_back(value);
        return out;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<QString, int>> posts_;
    std::vector<NotificationCenter::Token> tokens_;
};
