#pragma once

#include <QString>
#include <QStringList>

#include <exception>

// An exception that reached the top of a thread: its type, what() and the call stack at the throw.
struct UncaughtException {
    QString name;
    QString reason;
    QStringList callStackSymbols;

    static UncaughtException from(const std::exception_ptr& exception, QStringList callStackSymbols);
};

// Writes "crash-<yyyyMMddHHmmss>.log" into the log folder (the logs directory of the last logger added):
// the time and the reason, the name, and the call stack. A write that fails is logged.
void uncaughtExceptionHandler(const UncaughtException& exception);

class CatchCrash {
public:
    // Makes uncaughtExceptionHandler the process's handler: the C++ terminate handler, which runs for an
    // exception that leaves any thread (the main thread's event loop included) uncaught. After the crash
    // log the process ends as it would have without it.
    static void install();
    // The content of a crash log.
    static QString crashLogText(const UncaughtException& exception, const QString& crashTime);
    // A list of texts as the log shows it: "(", each entry on a line of its own indented by four blanks,
    // quoted unless it is only letters and digits, separated by ",", and ")".
    static QString describeList(const QStringList& entries);
};
