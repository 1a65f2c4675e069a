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

bool SWDMacCommandManager::claimCommandId(const QString& id) {
    std::lock_guard lock(executedMutex_);
    // The look-up and the claim are one step; "0" is never refused.
    if (id == u"0")
        return true;
    if (executedCommandIds_.contains(id) || runningCommandIds_.contains(id))
        return false;
    runningCommandIds_.insert(id);
    return true;
}

void SWDMacCommandManager::settleCommandId(const QString& id, bool acted) {
    std::lock_guard lock(executedMutex_);
    runningCommandIds_.remove(id);
    if (acted)
        executedCommandIds_.insert(id);
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
    // open to every address.
    if (!pairing && fromIpAddr && !collaborators_.network->acceptsLanCommandFrom(*fromIpAddr)) {
        LOG_DEBUG("lan: command from {} refused: not the paired phone's address", *fromIpAddr);
        return;
    }
    const bool paired = !collaborators_.network->isAcceptingNewConnection();
    // A command that is refused or would do nothing leaves the seen-id table as it was, so that no other
    // host can use up the phone's ids, before it pairs or after.
    std::optional<Planned> planned = plan(type, arguments, fromIpAddr, paired);
    if (!planned || (!id.isEmpty() && !claimCommandId(id)))
        return;
    // Key presses may wait in the thread's batch; everything else happens after those before it.
    if (type != u"cmd" && type != u"key")
        KeyPressBatch::flush();
    const bool acted = planned->run();
    if (!id.isEmpty())
        settleCommandId(id, acted);
    if (acted && planned->push && pushes())
        KeyPressBatch::afterPresses([this, slideMayMove = planned->slideMayMove] {
            collaborators_.sendSlideInfoToClient(slideMayMove);
        });
}

bool SWDMacCommandManager::pushes() const {
    return Flavours::pushesSlideInformation(collaborators_.flavour) &&
           bool(collaborators_.sendSlideInfoToClient);
}

std::optional<SWDMacCommandManager::Planned>
SWDMacCommandManager::plan(const QString& type, const std::optional<QString>& arguments,
                           const std::optional<QString>& fromIpAddr, bool paired) {
    SWDMacNetworkManager& network = *collaborators_.network;
    if (type == u"connect") {
        // A connect while another phone is paired is refused (and logged) by the network service; only a
        // connect that pairs pushes.
        const auto items = twoItems(arguments);
        if (!items)
            return std::nullopt;
        return Planned{[&network, items, fromIpAddr] {
                           return network.acceptConnectFromDeviceId(items->first, items->second, fromIpAddr);
                       },
                       true};
    }
    if (type == u"disconnect") {
        // Does nothing unless the device is paired.
        const auto items = twoItems(arguments);
        if (!items)
            return std::nullopt;
        return Planned{[&network, device = items->first] {
            return network.disconnectWithDevice(device);
        }};
    }
    if (!paired)
        return std::nullopt;
    if (type == u"heartbeat") {
        if (!fromIpAddr || StringHelper::isNullOrEmpty(arguments))
            return std::nullopt;
        return Planned{[this, &network, host = *fromIpAddr, token = *arguments] {
            network.sendLanHeartBeatToHost(host, QStringLiteral("heartBeat|OK:") + token);
            post(Notifications::kLanConnectionStatusChanged, true);
            return true;
        }};
    }
    if (type == u"start") {
        return Planned{[this] {
                           if (!collaborators_.presentation().startPlaying())
                               LOG_ERROR("Error: Fail to start playing slide!");
                           return true;
                       },
                       true, true};
    }
    if (type == u"mode") {
        return Planned{[this, allow = arguments == QStringLiteral("presentation")] {
            collaborators_.presentation().setIsAllowGeneratePDF(allow);
            return true;
        }};
    }
    if (type == u"ccmd") {
        if (!collaborators_.computerControl)
            return std::nullopt;
        return Planned{[this, arguments] {
            return collaborators_.computerControl->executeCommandString(arguments);
        }};
    }
    return planInput(type, arguments);
}

std::optional<SWDMacCommandManager::Planned>
SWDMacCommandManager::planInput(const QString& type, const std::optional<QString>& arguments) {
    const auto done = [](auto&& work) {
        return [work = std::forward<decltype(work)>(work)] {
            work();
            return true;
        };
    };
    if (type == u"cmd") {
        if (StringHelper::isNullOrEmpty(arguments))
            return std::nullopt;
        const QString key = arguments->toUpper();
        const quint16 arrow = key == u"{DOWN}" ? 125 : key == u"{UP}" ? 126 : 0;
        // Any other text presses nothing; the push alone is left, where the flavour pushes.
        if (!arrow && !pushes())
            return std::nullopt;
        return Planned{done([this, arrow] {
                           if (arrow)
                               input_.PostKeyPressOnMainThread(arrow, 0xC);
                       }),
                       true, arrow != 0};
    }
    if (type == u"move") {
        const auto items = pairItems(arguments);
        if (!items)
            return std::nullopt;
        const float dx = float(Coercion::doubleValue(items->first));
        const float dy = float(Coercion::doubleValue(items->second));
        return Planned{done([this, dx, dy] {
            if (isDragging_)
                dragMove(dx, dy);
            else
                postMouseMoveToX(dx, dy);
        })};
    }
    if (type == u"scroll") {
        const auto items = pairItems(arguments);
        if (!items)
            return std::nullopt;
        const qint32 x = int32Value(items->first);
        const qint32 y = int32Value(items->second);
        return Planned{done([this, x, y] {
            if (std::llabs(qint64(x)) > std::llabs(qint64(y)))
                input_.PostHorizontalScroll(x);
            else
                input_.PostVerticalScroll(float(y));
            LOG_INFO("scroll: x = {} , y = {}", x, y);
        })};
    }
    if (type == u"click")
        return Planned{done([this] {
                           input_.PostClick();
                           input_.PostMouseUp();
                       }),
                       true, true};
    if (type == u"doubleclick")
        return Planned{done([this] { input_.PostDoubleClick(); }), true, true};
    if (type == u"tripleclick")
        return Planned{done([this] { input_.PostTripleClick(); }), true, true};
    if (type == u"rightclick")
        return Planned{done([this] { input_.PostRightClick(); }), true, true};
    if (type == u"mousedown")
        return Planned{done([this] {
            isDragging_ = true;
            _sendMouseEvent(platform::EventType::LeftMouseDown, platform::MouseButton::Left);
        })};
    if (type == u"mouseup")
        return Planned{done([this] {
            isDragging_ = false;
            input_.PostMouseUp();
        })};
    if (type == u"key") {
        const auto press = KeyCodeConverter().keyCodeOfKeyName(arguments);
        if (!press)
            return std::nullopt;
        return Planned{done([this, code = quint16(press->keyCode()), flags = quint64(press->modifier())] {
            input_.PostKeyPressOnMainThread(code, flags);
        })};
    }
    if (type == u"text") {
        if (StringHelper::isNullOrEmpty(arguments))
            return std::nullopt;
        return Planned{done([this, text = *arguments] { input_.TypeText(text); })};
    }
    // "qcmd" and every other type do nothing.
    return std::nullopt;
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
