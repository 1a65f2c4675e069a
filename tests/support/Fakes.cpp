#include "Fakes.h"

int RecordingAlerts::runModal(const platform::AlertRequest& request) {
    std::lock_guard lock(mutex_);
    shown_.push_back(request);
    return answer;
}

void RecordingAlerts::beginSheet(const platform::AlertRequest& request,
                                 std::function<void(int response)> completion) {
    {
        std::lock_guard lock(mutex_);
        ++sheets;
    }
    completion(runModal(request));
}

void RecordingAlerts::beginFolderPanel(std::function<void(std::optional<QString> folder)> completion) {
    {
        std::lock_guard lock(mutex_);
        ++folderPanels;
    }
    completion(folderAnswer);
}

std::optional<QString> RecordingAlerts::runSavePanel(const platform::SavePanelRequest& request) {
    std::lock_guard lock(mutex_);
    savePanels.push_back(request);
    return saveAnswer;
}

std::vector<platform::AlertRequest> RecordingAlerts::shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
}

platform::CommandResult RecordingCommandRunner::run(const QString& program, const QStringList& arguments,
                                                    std::chrono::milliseconds) {
    std::lock_guard lock(mutex_);
    calls_.push_back({program, arguments, false});
    return result;
}

bool RecordingCommandRunner::startDetached(const QString& program, const QStringList& arguments) {
    std::lock_guard lock(mutex_);
    calls_.push_back({program, arguments, true});
    return true;
}

std::vector<RecordingCommandRunner::Call> RecordingCommandRunner::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

platform::ScriptRunResult FakeScriptRunner::run(const QString& name) {
    {
        std::lock_guard lock(mutex_);
        runs_.append(name);
    }
    if (onRun)
        onRun(name);
    std::lock_guard lock(mutex_);
    return answers_.value(name);
}

void FakeScriptRunner::clearRuns() {
    std::lock_guard lock(mutex_);
    runs_.clear();
}

void FakeScriptRunner::answer(const QString& name, platform::ScriptRunResult result) {
    std::lock_guard lock(mutex_);
    answers_.insert(name, std::move(result));
}

void FakeScriptRunner::answerText(const QString& name, const QString& text) {
    platform::ScriptRunResult r;
    r.result = platform::ScriptDescriptor(text);
    answer(name, r);
}

void FakeScriptRunner::fail(const QString& name, int errorNumber) {
    platform::ScriptRunResult r;
    r.runError = platform::ScriptError{errorNumber, QStringLiteral("failed")};
    answer(name, r);
}

QStringList FakeScriptRunner::runs() const {
    // A copy that shares nothing with the list the runner goes on appending to.
    std::lock_guard lock(mutex_);
    QStringList copy;
    copy.reserve(runs_.size());
    for (const QString& name : runs_)
        copy.append(QString(name.constData(), name.size()));
    return copy;
}

bool RecordingWorkspace::openUrl(const QUrl& url) {
    opened.push_back(url);
    return true;
}

bool RecordingWorkspace::relaunchAfterDelay(float seconds) {
    relaunches.push_back(seconds);
    return true;
}
