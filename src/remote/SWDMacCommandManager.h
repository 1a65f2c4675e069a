#pragma once

#include "SeenCommandIds.h"
#include "SynthesisedInput.h"

#include "core/Flavour.h"

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
// over the LAN, every LAN command but pairing from another address), and dispatches each type.
class SWDMacCommandManager {
public:
    struct Collaborators {
        SWDMacNetworkManager* network = nullptr;
        std::function<PowerPointHelper&()> presentation;
        // Pushes fresh slide information to the phone after a command (two of the three flavours);
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
    // Records the id unless it was seen before (an id other than "0"); false for a repeat.
    bool recordCommandId(const QString& id);
    // Dispatches one type; says whether the slide information is pushed afterwards, and in slideMayMove
    // whether the command may have moved the slide show.
    bool dispatch(const QString& type, const std::optional<QString>& arguments,
                  const std::optional<QString>& fromIpAddr, bool paired, bool* slideMayMove);
    // "move" and "scroll" and the rest of the pointer and keyboard types; false when the type is none of
    // them.
    bool dispatchInput(const QString& type, const std::optional<QString>& arguments, bool* push,
                       bool* slideMayMove);
    void dragMove(float dx, float dy);

    Collaborators collaborators_;
    SynthesisedInput input_;
    // The seen-id table: a digest of each of the last million ids or so, not the commands, so a flood of
    // distinct ids costs a bounded amount, however long the commands are.
    mutable std::mutex executedMutex_;
    SeenCommandIds executedCommandIds_;

    // Drag state, shared by the command threads and the countdown's ticks on the main thread. The lock
    // is never held while waiting for the main thread.
    std::atomic<bool> isDragging_{false};
    mutable std::mutex dragMutex_;
    double dragEndRemain_ = 0;
    std::unique_ptr<QTimer> dragEndTimer_; // made, used and destroyed on the main thread
};
