#pragma once

#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// Named notifications between layers. Posting is synchronous: every observer of the name runs on the
// posting thread, in the order they were added, before post() returns. Observers that touch windows
// move that work to the main thread themselves. Observers may be added and removed from any thread,
// also from inside an observer.
class NotificationCenter {
public:
    using Observer = std::function<void(const QVariant& object)>;
    using Token = quint64;

    static NotificationCenter& defaultCenter();

    Token addObserver(const QString& name, Observer observer);
    void removeObserver(Token token);
    void post(const QString& name, const QVariant& object = {});

private:
    struct Entry {
        Token token;
        QString name;
        std::shared_ptr<const Observer> observer;
    };
    std::mutex mutex_;
    std::vector<Entry> entries_;
    Token nextToken_ = 1;
};
