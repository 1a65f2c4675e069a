#pragma once

#include "SynthesisedInput.h"

#include "core/Flavour.h"

#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_set>

class ComputerControlManager;
class PowerPointHelper;
class QTimer;
class SWDMacNetworkManager;

// Runs the phone's command strings ("<id>|<type>|<arguments>") from the LAN and the cloud: drops
// repeated ids, refuses everything but pairing while no phone is paired, and dispatches each type.
class SWDMacCommandManager {
public:
    struct Collaborators {
        SWDMacNetworkManager* network = nullptr;
        std::function<PowerPointHelper&()> presentation;
        // Pushes fresh slide information to the phone after a command (two of the three flavours).
        std::function<void()> sendSlideInfoToClient;
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

    // Whether the lower-cased id is in the seen-id table.
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
    // Dispatches one type; says whether the slide information is pushed afterwards.
    bool dispatch(const QString& type, const std::optional<QString>& arguments,
                  const std::optional<QString>& fromIpAddr, bool paired);
    // "move" and "scroll" and the rest of the pointer and keyboard types; false when the type is none of
    // them.
    bool dispatchInput(const QString& type, const std::optional<QString>& arguments, bool* push);
    void dragMove(float dx, float dy);

    Collaborators collaborators_;
    SynthesisedInput input_;
    // The seen-id table keeps, for every id seen in the life of the process, a 128-bit digest of it, not
    // the command: a flood of distinct ids costs a fixed amount per id, however long the commands are.
    using IdDigest = std::array<quint64, 2>;
    struct IdDigestHash {
        size_t operator()(const IdDigest& d) const { return size_t(d[0]); }
    };
    static IdDigest digestOf(const QString& id);
    mutable std::mutex executedMutex_;
    std::unordered_set<IdDigest, IdDigestHash> executedCommandIds_;

    // Drag state, shared by the command threads and the countdown's ticks on the main thread. The lock
    // is never held while waiting for the main thread.
    std::atomic<bool> isDragging_{false};
    mutable std::mutex dragMutex_;
    double dragEndRemain_ = 0;
    std::unique_ptr<QTimer> dragEndTimer_; // made, used and destroyed on the main thread
};
