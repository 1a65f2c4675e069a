#include "SWDMacCommandManager.h"

#include "ComputerControlManager.h"
#include "KeyCodeConverter.h"
#include "KeyPressBatch.h"
#include "SWDMacNetworkManager.h"
#include "SynthesisedInput.h"

#include "core/Coercion.h"
#include "core/Installed.h"
#include "core/Logger.h"
#include "core/Notifications.h"
#include "core/StringHelper.h"
#include "core/ThreadHelper.h"
#include "platform/EventPoster.h"
#include "presentation/PowerPointHelper.h"

#include <QTimer>

#include <cmath>
#include <limits>

namespace {

// The two ","-separated items of "connect" and "disconnect"; nothing when there are fewer.
std::optional<std::pair<QString, QString>> twoItems(const std::optional<QString>& arguments) {
    if (StringHelper::isNullOrEmpty(arguments))
        return std::nullopt;
    const QStringList items = arguments->split(u',');
    if (items.size() < 2)
        return std::nullopt;
    return std::pair{items[0], items[1]};
}

// The two items of "move" and "scroll": the arguments less their first and last character, split at
// ","; nothing when there are fewer than two.
std::optional<std::pair<QString, QString>> pairItems(const std::optional<QString>& arguments) {
    if (StringHelper::isNullOrEmpty(arguments) || arguments->size() < 2)
        return std::nullopt;
    const QStringList items = arguments->mid(1, arguments->size() - 2).split(u',');
    if (items.size() < 2)
        return std::nullopt;
    return std::pair{items[0], items[1]};
}

qint32 int32Value(const QString& text) {
    return qint32(std::clamp<qint64>(Coercion::integerValue(text), std::numeric_limits<qint32>::min(),
                                     std::numeric_limits<qint32>::max()));
}

} // namespace

SWDMacCommandManager& SWDMacCommandManager::SharedManager() {
    return Installed<SWDMacCommandManager>::get("SWDMacCommandManager::SharedManager");
}

void SWDMacCommandManager::install(std::function<std::shared_ptr<SWDMacCommandManager>()> factory) {
    Installed<SWDMacCommandManager>::install(std::move(factory));
}

SWDMacCommandManager::SWDMacCommandManager(Collaborators collaborators)
    : collaborators_(std::move(collaborators))
    , input_(collaborators_.events) {}

SWDMacCommandManager::~SWDMacCommandManager() = default;

bool SWDMacCommandManager::hasSeenCommandId(const QString& id) const {
    std::lock_guard lock(executedMutex_);
    return executedCommandIds_.contains(id);
}

size_t SWDMacCommandManager::seenCommandIdCount() const {
    std::lock_guard lock(executedMutex_);
    return executedCommandIds_.size();
}

bool SWDMacCommandManager::recordCommandId(const QString& id) {
    std::lock_guard lock(executedMutex_);
    // The look-up and the recording are one step; "0" is recorded but never refused.
    return executedCommandIds_.insert(id) || id == u"0";
}

void SWDMacCommandManager::executeCommand(const std::optional<QString>& command,
                                          const std::optional<QString>& fromIpAddr) {
    if (StringHelper::isNullOrEmpty(command))
        return;
    const qsizetype first = command->indexOf(u'|');
    if (first < 0) {
        Logger::plain(QStringLiteral("Invalid command."));
        return;
    }
    const qsizetype second = command->indexOf(u'|', first + 1);
    const QString id = command->left(first).toLower();
    const QString type =
        (second < 0 ? command->mid(first + 1) : command->mid(first + 1, second - first - 1)).toLower();
    const std::optional<QString> arguments =
        second < 0 ? std::nullopt : std::optional<QString>(command->mid(second + 1));

    const bool pairing = type == u"connect" || type == u"disconnect";
    // While a phone is paired over the LAN, only its address may command it from the LAN; pairing is
    // open to every address. A command refused here is not recorded: another host cannot use up the
    // phone's ids.
    if (!pairing && fromIpAddr && !collaborators_.network->acceptsLanCommandFrom(*fromIpAddr)) {
        LOG_DEBUG("lan: command from {} refused: not the paired phone's address", *fromIpAddr);
        return;
    }
    const bool paired = !collaborators_.network->isAcceptingNewConnection();
    if (!id.isEmpty() && !recordCommandId(id))
        return;
    // Key presses may wait in the thread's batch; everything else happens after those before it.
    const bool keyPress = type == u"cmd" || type == u"key";
    if (!keyPress)
        KeyPressBatch::flush();
    bool slideMayMove = false;
    if (dispatch(type, arguments, fromIpAddr, paired, &slideMayMove) &&
        Flavours::pushesSlideInformation(collaborators_.flavour) && collaborators_.sendSlideInfoToClient)
        KeyPressBatch::afterPresses(
            [this, slideMayMove] { collaborators_.sendSlideInfoToClient(slideMayMove); });
}

bool SWDMacCommandManager::dispatch(const QString& type, const std::optional<QString>& arguments,
                                    const std::optional<QString>& fromIpAddr, bool paired,
                                    bool* slideMayMove) {
    SWDMacNetworkManager& network = *collaborators_.network;
    if (type == u"connect") {
        if (const auto items = twoItems(arguments))
            network.acceptConnectFromDeviceId(items->first, items->second, fromIpAddr);
        return true;
    }
    if (type == u"disconnect") {
        if (const auto items = twoItems(arguments))
            network.disconnectWithDevice(items->first);
        return false;
    }
    if (!paired)
        return false;
    if (type == u"heartbeat") {
        if (fromIpAddr && !StringHelper::isNullOrEmpty(arguments)) {
            network.sendLanHeartBeatToHost(*fromIpAddr, QStringLiteral("heartBeat|OK:") + *arguments);
            post(Notifications::kLanConnectionStatusChanged, true);
        }
        return false;
    }
    if (type == u"start") {
        if (!collaborators_.presentation().startPlaying())
            LOG_ERROR("Error: Fail to start playing slide!");
        *slideMayMove = true;
        return true;
    }
    if (type == u"mode") {
        collaborators_.presentation().setIsAllowGeneratePDF(arguments == QStringLiteral("presentation"));
        return false;
    }
    bool push = false;
    dispatchInput(type, arguments, &push, slideMayMove);
    return push;
}

bool SWDMacCommandManager::dispatchInput(const QString& type, const std::optional<QString>& arguments,
                                         bool* push, bool* slideMayMove) {
    if (type == u"cmd") {
        if (StringHelper::isNullOrEmpty(arguments))
            return true;
        const QString key = arguments->toUpper();
        if (key == u"{DOWN}")
            input_.PostKeyPressOnMainThread(125, 0xC);
        else if (key == u"{UP}")
            input_.PostKeyPressOnMainThread(126, 0xC);
        *push = true;
        *slideMayMove = key == u"{DOWN}" || key == u"{UP}";
    } else if (type == u"move") {
        if (const auto items = pairItems(arguments)) {
            const float dx = float(Coercion::doubleValue(items->first));
            const float dy = float(Coercion::doubleValue(items->second));
            if (isDragging_)
                dragMove(dx, dy);
            else
                postMouseMoveToX(dx, dy);
        }
    } else if (type == u"scroll") {
        if (const auto items = pairItems(arguments)) {
            const qint32 x = int32Value(items->first);
            const qint32 y = int32Value(items->second);
            if (std::llabs(qint64(x)) > std::llabs(qint64(y)))
                input_.PostHorizontalScroll(x);
            else
                input_.PostVerticalScroll(float(y));
            LOG_INFO("scroll: x = {} , y = {}", x, y);
        }
    } else if (type == u"click") {
        input_.PostClick();
        input_.PostMouseUp();
        *push = *slideMayMove = true;
    } else if (type == u"doubleclick") {
        input_.PostDoubleClick();
        *push = *slideMayMove = true;
    } else if (type == u"tripleclick") {
        input_.PostTripleClick();
        *push = *slideMayMove = true;
    } else if (type == u"rightclick") {
        input_.PostRightClick();
        *push = *slideMayMove = true;
    } else if (type == u"mousedown") {
        isDragging_ = true;
        _sendMouseEvent(platform::EventType::LeftMouseDown, platform::MouseButton::Left);
    } else if (type == u"mouseup") {
        isDragging_ = false;
        input_.PostMouseUp();
    } else if (type == u"key") {
        if (const auto press = KeyCodeConverter().keyCodeOfKeyName(arguments))
            input_.PostKeyPressOnMainThread(quint16(press->keyCode()), quint64(press->modifier()));
    } else if (type == u"text") {
        input_.TypeText(arguments);
    } else if (type == u"ccmd") {
        collaborators_.computerControl->executeCommandString(arguments);
    } else {
        return false;
    }
    return true;
}

// ---- Pointer input with the drag state -------------------------------------------------------------

void SWDMacCommandManager::postMouseMoveToX(double dx, double dy) {
    input_.PostMouseMoveInSteps(dx, dy);
}

void SWDMacCommandManager::_sendMouseEvent(qint32 type, quint32 button) {
    input_.PostMouseEventAtCursor(type, button);
}

double SWDMacCommandManager::dragEndRemain() const {
    std::lock_guard lock(dragMutex_);
    return dragEndRemain_;
}

void SWDMacCommandManager::dragMove(float dx, float dy) {
    input_.PostMouseDrag(dx, dy);
    {
        std::lock_guard lock(dragMutex_);
        dragEndRemain_ = kDragEndDelay;
    }
    ThreadHelper::RunOnMainThread([this] {
        if (dragEndTimer_ && dragEndTimer_->isActive())
            return;
        dragEndTimer_ = std::make_unique<QTimer>();
        dragEndTimer_->setInterval(std::chrono::milliseconds(qRound64(kDragEndTickInterval * 1000)));
        QObject::connect(dragEndTimer_.get(), &QTimer::timeout, [this] { isDragEndCountDownToZeroYet(); });
        dragEndTimer_->start();
    });
}

void SWDMacCommandManager::isDragEndCountDownToZeroYet() {
    double remain;
    {
        std::lock_guard lock(dragMutex_);
        dragEndRemain_ -= kDragEndTickInterval;
        remain = dragEndRemain_;
    }
    LOG_INFO("_dragEndRemain = {:f}", remain);
    if (remain <= 0.0) {
        input_.PostMouseUp();
        isDragging_ = false;
        if (dragEndTimer_)
            dragEndTimer_->stop();
    }
}
