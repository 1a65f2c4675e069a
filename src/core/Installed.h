#pragma once

#include <QtGlobal>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

// The process-wide instance of a service class, made on first use, on whichever thread asks first, by the
// factory that the application's composition root installed, and kept for the life of the process. Asking
// before anything was installed is a fault of the program: it ends the process with a message.
template <class T> class Installed {
public:
    using Factory = std::function<std::shared_ptr<T>()>;

    static void install(Factory factory) {
        State& s = state();
        std::lock_guard lock(s.mutex);
        s.factory = std::move(factory);
    }

    static T& get(const char* accessor) {
        State& s = state();
        if (T* made = s.made.load(std::memory_order_acquire))
            return *made;
        std::lock_guard lock(s.mutex);
        if (!s.instance) {
            if (!s.factory)
                qFatal("%s: the application installed no instance", accessor);
            s.instance = s.factory();
            s.made.store(s.instance.get(), std::memory_order_release);
        }
        return *s.instance;
    }

private:
    struct State {
        std::mutex mutex;
        Factory factory;
        std::shared_ptr<T> instance;
        std::atomic<T*> made{nullptr};
    };
    static State& state() {
        static State* s = new State; // the instance outlives static destruction, like the process's others
        return *s;
    }
};
