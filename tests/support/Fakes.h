#pragma once

#include "platform/Alerts.h"
#include "platform/CommandRunner.h"
#include "platform/HostFacts.h"
#include "platform/Platform.h"
#include "platform/ScriptRunner.h"
#include "platform/Workspace.h"

#include <QHash>

#include <functional>
#include <mutex>
#include <vector>

// Records every alert and answers with a chosen button; a panel answers folderAnswer or saveAnswer.
class RecordingAlerts : public platform::Alerts {
public:
    int runModal(const platform::AlertRequest& request) override;
    // A sheet is recorded with the alerts and answered at once.
    void beginSheet(const platform::AlertRequest& request,
                    std::function<void(int response)> completion) override;
    void beginFolderPanel(std::function<void(std::optional<QString> folder)> completion) override;
    std::optional<QString> runSavePanel(const platform::SavePanelRequest& request) override;
    std::vector<platform::AlertRequest> shown() const;
    int answer = 0;
    std::optional<QString> folderAnswer, saveAnswer;
    int folderPanels = 0;
    int sheets = 0;
    std::vector<platform::SavePanelRequest> savePanels;

private:
    mutable std::mutex mutex_;
    std::vector<platform::AlertRequest> shown_;
};

// Records the programs it is asked to run and runs none of them.
class RecordingCommandRunner : public platform::CommandRunner {
public:
    struct Call {
        QString program;
        QStringList arguments;
        bool detached;
    };
    platform::CommandResult run(const QString& program, const QStringList& arguments,
                                std::chrono::milliseconds timeout) override;
    bool startDetached(const QString& program, const QStringList& arguments) override;
    std::vector<Call> calls() const;
    platform::CommandResult result; // what run() answers

private:
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
};

// Answers scripts from a table; a name not in the table runs nothing.
class FakeScriptRunner : public platform::ScriptRunner {
public:
    platform::ScriptRunResult run(const QString& name) override;
    void answer(const QString& name, platform::ScriptRunResult result);
    void answerText(const QString& name, const QString& text);
    void fail(const QString& name, int errorNumber);
    QStringList runs() const;
    void clearRuns();
    // Called with the name before each run answers, outside the runner's own lock.
    std::function<void(const QString&)> onRun;

private:
    mutable std::mutex mutex_;
    QHash<QString, platform::ScriptRunResult> answers_;
    QStringList runs_;
};

class FakeHostFacts : public platform::HostFacts {
public:
    QString hostName() override { return host; }
    QString operatingSystemVersionString() override { return osVersion; }
    std::optional<std::vector<platform::InterfaceAddress>> interfaceAddresses() override {
        return interfaces;
    }
    std::optional<QStringList> applicationsFolderEntries() override { return applications; }
    QString userName() override { return user; }
    std::optional<QByteArray> machineId() override { return machine; }

    QString host = QStringLiteral("test-host");
    QString osVersion = QStringLiteral("Version 1.0 (Test)");
    std::optional<std::vector<platform::InterfaceAddress>> interfaces;
    std::optional<QStringList> applications;
    QString user = QStringLiteral("tester");
    std::optional<QByteArray> machine; // none: ids made at random
};

class RecordingWorkspace : public platform::Workspace {
public:
    bool openUrl(const QUrl& url) override;
    bool relaunchAfterDelay(float seconds) override;
    std::vector<QUrl> opened;
    std::vector<float> relaunches;
};
