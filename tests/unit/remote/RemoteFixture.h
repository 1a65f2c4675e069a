// The remote-control service on fakes: the network service on a recording transport with the fake cloud
// on loopback, the command executor and a computer-control manager on the recording poster, command
// runner and script runner; and what a piece of work did, as one line.
#pragma once

#include "remote/ComputerControlManager.h"
#include "remote/SWDMacCommandManager.h"
#include "remote/SWDMacNetworkManager.h"

#include "core/NotificationCenter.h"
#include "core/Notifications.h"
#include "core/UserDefaults.h"
#include "platform/Bundle.h"
#include "platform/X11EventPoster.h"
#include "presentation/PowerPointHelper.h"

#include "FakeCloud.h"
#include "FakeDatagramTransport.h"
#include "Fakes.h"
#include "LogRecorder.h"
#include "RecordingEventPoster.h"
#include "TestBundle.h"
#include "Wait.h"

#include <QFile>
#include <QTcpServer>

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>

// Runs the work on `count` threads of its own (each given its number) while the main thread runs its event
// loop, for a few seconds at most. A thread that hangs cannot be joined: then the process ends, saying so.
inline void onThreads(int count, const std::function<void(int)>& work) {
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&, i] {
            work(i);
            ++finished;
        });
    if (!waitUntil([&] { return finished == count; }, 5000)) {
        std::fprintf(stderr, "%s: a thread did not end\n",
                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::abort();
    }
    for (auto& t : threads)
        t.join();
}

inline platform::InterfaceAddress v4(const char* name, const char* address) {
    return {name, true, platform::InterfaceAddress::Family::IPv4, QString(address)};
}

// A key-down as the X poster presses it: the modifiers of its flags (other flags in hexadecimal), then
// the key of its virtual key code.
inline std::string keyName(const platform::InputEvent& e) {
    std::string name;
    std::uint64_t flags = e.flags.value_or(0);
    for (const auto& [bit, modifier] : {std::pair{0x800000ull, "Fn+"},
                                        {0x100000ull, "Super+"},
                                        {0x80000ull, "Alt+"},
                                        {0x40000ull, "Control+"},
                                        {0x20000ull, "Shift+"}})
        if (flags & bit) {
            name += modifier;
            flags &= ~bit;
        }
    name += flags ? fmt::format("{:#x}+", flags) : "";
    const std::uint32_t sym = platform::X11EventPoster::keysymOfVirtualKey(e.keyCode).value_or(0);
    static const std::map<std::uint32_t, std::string> named = {
        {0x20, "space"},    {0xff08, "BackSpace"}, {0xff0d, "Return"},     {0xff09, "Tab"},
        {0xff1b, "Escape"}, {0xff51, "Left"},      {0xff52, "Up"},         {0xff53, "Right"},
        {0xff54, "Down"},   {0xff8d, "KP_Enter"},  {0x1008ff4a, "LaunchA"}};
    if (named.contains(sym))
        return name + named.at(sym);
    if (sym >= 0xffaa && sym <= 0xffbd)
        return name + "KP" + char(sym - 0xff80);
    if (sym >= 0xffbe && sym <= 0xffe0)
        return name + "F" + std::to_string(sym - 0xffbe + 1);
    return name + (sym > 0x20 && sym < 0x7f ? std::string(1, char(sym)) : fmt::format("{:#x}", sym));
}

// One event, tersely: "down b0 (200,150) x2 n" (type, button, place, click state, source: n none,
// c combined, p private; " ses" at the annotated-session tap), "wheel 3,0 n", "text ^héllo n ses" (^
// for the mark U+FEFF).
inline std::string brief(const platform::InputEvent& e) {
    static const std::map<int, std::string> names = {{1, "down"}, {2, "up"},     {3, "rdown"},
                                                     {4, "rup"},  {5, "moved"},  {6, "dragged"},
                                                     {10, "key"}, {11, "keyup"}, {22, "wheel"}};
    std::string s = names.at(e.type);
    if (e.location)
        s += fmt::format(" b{} ({},{})", e.button, e.location->x(), e.location->y());
    if (e.clickState)
        s += fmt::format(" x{}", *e.clickState);
    if (e.type == platform::EventType::ScrollWheel)
        s += fmt::format(" {},{}", e.wheel1, e.wheel2);
    if (e.unicodeString)
        s = "text " + QString(*e.unicodeString).replace(QChar(0xfeff), u'^').toStdString();
    return s + " " + "ncp"[int(e.source)] + (e.tap == platform::EventTap::AnnotatedSession ? " ses" : "");
}

class RemoteTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(cloudUp);
        bundle.makeMain();
        QFile::remove(UserDefaults::filePath());
        for (const char* tool : {"blueutil", "wifi.scpt", "searchClipboard.scpt"})
            bundle.addResource(QString::fromUtf8(tool), "#!/bin/sh\n", true);
        commands->result = {true, 0, QString(), QString()};
        facts->host = QStringLiteral("Anna's \"Mac\"");
        facts->osVersion = QStringLiteral("Version 14.1 (Build 23B74)");
        facts->interfaces =
            std::vector{v4("lo", "127.0.0.1"), v4("eth0", "192.168.1.20"), v4("eth1", "169.254.3.4"),
                        v4("eth2", "169.1.2.3"), v4("wlan0", "10.0.0.7")};
        platform::Platform::setAlerts(alerts);
        presentation = PowerPointHelper::create(
            {scripts, std::make_shared<RecordingCommandRunner>(), facts, Flavour::PodiumCast, 1e6});
        presentation->setIsAllowGeneratePDF(false);
        network = std::make_unique<SWDMacNetworkManager>(SWDMacNetworkManager::Collaborators{
            transport,
            [this](const std::optional<QString>& text, const std::optional<QString>& host) {
                executed.push_back(text.value_or("<none>") + u'@' + host.value_or("cloud"));
            },
            [this]() -> PowerPointHelper& { return *presentation; }, facts,
            std::make_shared<CloudHttpClient>()});
        executor = executorOf(Flavour::PodiumCast);
        for (const QString& name : {Notifications::kUpdateConnectionStatus.qname(),
                                    Notifications::kApiConnectionStatusChanged.qname()})
            tokens.push_back(NotificationCenter::defaultCenter().addObserver(
                name, [this](const QVariant& v) { posts.push_back(v.toString()); }));
    }
    void TearDown() override {
        for (const auto token : tokens)
            NotificationCenter::defaultCenter().removeObserver(token);
        executor.reset();
        network.reset();
        EXPECT_TRUE(releaseAndWait(presentation)) << "the presentation bridge was not released";
        platform::Platform::setAlerts(nullptr);
    }
    std::unique_ptr<SWDMacCommandManager> executorOf(Flavour flavour) {
        return std::make_unique<SWDMacCommandManager>(SWDMacCommandManager::Collaborators{
            network.get(), [this]() -> PowerPointHelper& { return *presentation; },
            [this](bool) { ++pushes; }, poster, &manager, flavour});
    }

    // What the work did, in the order of its kinds: events (a key press as the key it presses), datagrams,
    // commands run, connection-status and cloud-status posts, bundle scripts run, log lines.
    std::string observe(const std::function<void()>& work) {
        poster->clear();
        poster->setCursor({200, 150});
        transport->clearSent();
        bundleScripts->clearRuns();
        posts.clear();
        const size_t callsBefore = commands->calls().size(), logBefore = log.entries().size();
        ::testing::internal::CaptureStderr();
        work();
        const QString plain = QString::fromStdString(::testing::internal::GetCapturedStderr());
        std::vector<std::string> seen;
        for (const auto& [warp, point, e] : poster->entries()) {
            if (warp)
                seen.push_back(fmt::format("warp ({},{})", point.x(), point.y()));
            else if (e.type == platform::EventType::KeyDown && !e.unicodeString)
                seen.push_back(keyName(e));
            else if (e.type != platform::EventType::KeyUp) // a key-up ends the press of its key-down
                seen.push_back(brief(e));
        }
        for (const auto& s : transport->sent())
            seen.push_back(fmt::format("{} to {}:{} from {}", s.data.toStdString(), s.host.toStdString(),
                                       s.port, int(s.socket)));
        const auto calls = commands->calls();
        for (size_t i = callsBefore; i < calls.size(); ++i)
            seen.push_back(QString(calls[i].program + u' ' + calls[i].arguments.join(u' '))
                               .replace(bundle.resourcesPath(), QStringLiteral("Resources"))
                               .section(u'\n', 0, 0)
                               .toStdString());
        for (const QString& name : posts)
            seen.push_back("status " + name.toStdString());
        for (const QString& name : bundleScripts->runs())
            seen.push_back("script " + name.toStdString());
        const auto logged = log.entries();
        for (size_t i = logBefore; i < logged.size(); ++i)
            seen.push_back(logged[i].message);
        for (const QString& line : plain.split(u'\n', Qt::SkipEmptyParts))
            seen.push_back(line.section(QStringLiteral("] "), 1).toStdString());
        return fmt::format("{}", fmt::join(seen, ", "));
    }
    // Command strings, one a line, from the host (the cloud when none).
    std::string run(const QString& lines, const char* from = nullptr) {
        return observe([&] {
            for (const QString& line : lines.split(u'\n'))
                executor->executeCommand(line, from ? std::optional<QString>(from) : std::nullopt);
        });
    }
    std::string ccmd(const QString& lines) {
        return observe([&] {
            for (const QString& line : lines.split(u'\n'))
                manager.executeCommandString(line);
        });
    }

    FakeCloud cloud;
    const bool cloudUp = cloud.start();
    const quint16 lanPort = [] {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }();
    const QVariantMap info{{"CFBundleIdentifier", "com.brisvane.PodiumCastForMac"},
                           {"CFBundleVersion", "3 21"},
                           {"ApiRoot", cloud.root()},
                           {"ConnectPort", 51301},
                           {"DataPort", 51302},
                           {"CheckPort", 51303},
                           {"CommandPort", 51304},
                           {"LanInfoPort", lanPort}};
    TestBundle bundle{info};
    std::shared_ptr<FakeHostFacts> facts = std::make_shared<FakeHostFacts>();
    std::shared_ptr<RecordingAlerts> alerts = std::make_shared<RecordingAlerts>();
    std::shared_ptr<RecordingEventPoster> poster = std::make_shared<RecordingEventPoster>();
    std::shared_ptr<RecordingCommandRunner> commands = std::make_shared<RecordingCommandRunner>();
    std::shared_ptr<FakeScriptRunner> scripts = std::make_shared<FakeScriptRunner>(); // the presentation's
    std::shared_ptr<FakeScriptRunner> bundleScripts = std::make_shared<FakeScriptRunner>();
    std::shared_ptr<FakeDatagramTransport> transport = std::make_shared<FakeDatagramTransport>();
    std::shared_ptr<PowerPointHelper> presentation;
    std::unique_ptr<SWDMacNetworkManager> network;
    std::unique_ptr<SWDMacCommandManager> executor;
    int pushes = 0;
    ComputerControlManager manager{
        {commands, bundleScripts, poster, std::make_shared<const platform::Bundle>(bundle.path())}};
    std::vector<QString> executed, posts; // commands the network handed on; status posts
    std::vector<NotificationCenter::Token> tokens;
    LogRecorder log{LogLevel::Info};
};
