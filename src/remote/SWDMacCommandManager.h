#pragma once

#include "SeenCommandIds.h"
#include "SynthesisedInput.h"

#include "core/Flavour.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class ComputerControlManager;
class PowerPointHelper;
class QTimer;
class SWDMacNetworkManager;

// Runs the phone's command strings ("<id>|<type>|<arguments>") from the LAN and the cloud: drops
// repeated ids, refuses everything but pairing while no phone is paired (and, while a phone is paired
// over the LAN, every LAN command but pairing from another address), and dispatches each type. Only
// the id of a command that was accepted and did something is recorded.
class SWDMacCommandManager {
public:
    struct Collaborators {
        SWDMacNetworkManager* network = nullptr;
        std::function<PowerPointHelper&()> presentation;
        // Pushes fresh slide information to the phone after a command (two of the three flavours).
        // slideMayMove when the command synthesised input or started the show, which may move it.
        std::function<void(bool slideMayMove)> sendSlideInfoToClient;
        // Where the synthesised input goes.
        std::shared_ptr<platform::EventPoster> events;
        // Runs the computer-control strings of "ccmd".
        ComputerControlManager* computerControl = nullptr;
        Flavour flavour = Flavour::SlideWand;
    };

    // The instance the application installed.
    static SWDMacCommandManager& SharedManager();
    static void install(std::function<std::shared_ptr<SWDMacCommandManager>()> factory);
    explicit SWDMacCommandManager(Collaborators collaborators);
    ~SWDMacCommandManager();

    void executeCommand(const std::optional<QString>& command, const std::optional<QString>& fromIpAddr);
    bool isCommandType(const QString& type) const { return availableCommandType.contains(type); }

    // Whether the lower-cased id is in the seen-id table, which remembers the most recent ids only.
    bool hasSeenCommandId(const QString& id) const;
    size_t seenCommandIdCount() const;

    // Pointer input that uses the drag state.
    void postMouseMoveToX(double dx, double dy);
    void _sendMouseEvent(qint32 type, quint32 button);
    // One tick of the drag-end countdown, on the main thread.
    void isDragEndCountDownToZeroYet();
    bool isDragging() const { return isDragging_; }
    double dragEndRemain() const;

    const QStringList availableCommandType{QStringLiteral("cmd"),       QStringLiteral("move"),
                                           QStringLiteral("click"),     QStringLiteral("rightclick"),
                                           QStringLiteral("connect"),   QStringLiteral("disconnect"),
                                           QStringLiteral("heartbeat"), QStringLiteral("start"),
                                           QStringLiteral("qcmd"),      QStringLiteral("ccmd")};

private:
    // One command as planned before its id is claimed: `run` does it and says whether it turned out to
    // do anything; `push` asks for the slide-information push after it, and `slideMayMove` says that the
    // command synthesised input or started the show, which may move it.
    struct Planned {
        std::function<bool()> run;
        bool push = false;
        bool slideMayMove = false;
    };
    // Claims the id for the caller about to run its command: false when the id was recorded before or
    // another caller is running a command with it ("0" is never refused).
    bool claimCommandId(const QString& id);
    // Ends the claim: the id is recorded when the command did something, otherwise forgotten.
    void settleCommandId(const QString& id, bool acted);
    // What the type does with these arguments; nothing when the pairing gate refuses it or it would do
    // nothing (an unknown type, "qcmd", missing or malformed arguments, a key name that names no key).
    std::optional<Planned> plan(const QString& type, const std::optional<QString>& arguments,
                                const std::optional<QString>& fromIpAddr, bool paired);
    // The pointer and keyboard types.
    std::optional<Planned> planInput(const QString& type, const std::optional<QString>& arguments);
    // Whether this flavour pushes the slide information after a command.
    bool pushes() const;
    void dragMove(float dx, float dy);

    Collaborators collaborators_;
    SynthesisedInput input_;
    // The seen-id table: a digest of each of the last million ids or so, not the commands, so a flood of
    // distinct ids costs a bounded amount, however long the commands are. Beside it, the ids of the
    // commands running now (one a caller at most).
    mutable std::mutex executedMutex_;
    SeenCommandIds executedCommandIds_;
    QSet<QString> runningCommandIds_;

    // Drag state, shared by the command threads and the countdown's ticks on the main thread. The lock
    // is never held while waiting for the main thread.
    std::atomic<bool> isDragging_{false};
    mutable std::mutex dragMutex_;
    double dragEndRemain_ = 0;
    std::unique_ptr<QTimer> dragEndTimer_; // made, used and destroyed on the main thread
};
