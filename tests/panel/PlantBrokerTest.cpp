// The console's plant broker against Debian's mosquitto: what the console publishes, its status
// field, the plant's writes, Program Options turning it on and off, and nothing at all while off.
#include "support/AnswerModal.h"
#include "support/PanelTestSupport.h"

#include "dialogs/BrokerSettings.h"
#include "dialogs/Options.h"
#include "maintenance/TrafficLog.h"
#include "operations/ConfigOperations.h"
#include "panel/Saveconfig.h"
#include "publish/Broker.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <cmath>
#include <cstdlib>

namespace {

constexpr int Deadline = 10000; // ms: a loaded machine, never a fixed wait

// The number after "key": in a JSON text; not-a-number when absent.
double Number(const std::string& json, const std::string& key) {
    const auto at = json.find("\"" + key + "\":");
    if (at == std::string::npos)
        return std::nan("");
    return std::strtod(json.c_str() + at + key.size() + 3, nullptr);
}

// The milliseconds of the day of a message's "time":"...THH:MM:SS.mmmZ".
long TimeMs(const std::string& json) {
    const auto at = json.find("\"time\":\"");
    const auto t = at == std::string::npos ? std::string::npos : json.find('T', at + 8);
    if (t == std::string::npos)
        return -1;
    const int h = std::stoi(json.substr(t + 1, 2)), m = std::stoi(json.substr(t + 4, 2));
    const double sec = std::stod(json.substr(t + 7, 6));
    return long(h) * 3600000 + long(m) * 60000 + std::lround(sec * 1000);
}

class TPlantBrokerTest : public TPanelTest {
protected:
    void SetUp() override {
        if (const std::string missing = broker::Missing(); !missing.empty())
            GTEST_SKIP() << missing;
        // The console's event loop runs while a test waits on the broker's clients.
        broker::ServeHook() = [] { QCoreApplication::processEvents(); };
    }
    void TearDown() override { broker::ServeHook() = nullptr; }
    // Settings pointing at url, on (or off), with the broker's credentials when given.
    static void Store(const std::string& url, bool enabled = true, const std::string& allowed = {},
                      const std::string& credentials = {}) {
        TBrokerSettings settings;
        settings.Enabled = enabled;
        settings.Url = url;
        settings.TopicRoot = "korva/test";
        settings.CredentialsFile = credentials;
        if (!allowed.empty())
            settings.AllowedWrites = ParseAllowedWritesField(allowed);
        WriteBrokerSettings(settings);
    }
    QString BrokerText() const { return Panel->Broker.StatusField->text(); }
    bool WaitBrokerText(const QString& prefix) {
        return QTest::qWaitFor([&] { return BrokerText().startsWith(prefix); }, Deadline);
    }
    // The unit's topic: "korva/test/<port>-<address>".
    std::string Topic() const { return Panel->Broker.Publisher()->Topic(); }
    // A line of the subscriber ("<retained> <topic> <payload>") that holds both texts.
    static bool Has(const broker::TChild& sub, const std::string& text, const std::string& also = {}) {
        for (const std::string& line : broker::Lines(sub))
            if (line.find(text) != std::string::npos && line.find(also) != std::string::npos)
                return true;
        return false;
    }
    bool WaitLine(const broker::TChild& sub, const std::string& text, const std::string& also = {}) {
        return QTest::qWaitFor([&] { return Has(sub, text, also); }, Deadline);
    }
    // The payloads published on exactly this topic.
    static std::vector<std::string> Payloads(const broker::TChild& sub, const std::string& topic) {
        std::vector<std::string> payloads;
        for (const std::string& line : broker::Lines(sub))
            if (const auto at = line.find(" " + topic + " "); at != std::string::npos)
                payloads.push_back(line.substr(at + topic.size() + 2));
        return payloads;
    }
    // The subscriber in place: the publisher's retained status comes back to it.
    static bool Subscribed(const broker::TBroker& b, const broker::TChild& sub) {
        return QTest::qWaitFor(
            [&] {
                b.Publish("korva/probe", "probe");
                return Has(sub, "korva/probe probe");
            },
            Deadline);
    }
};

} // namespace

TEST_F(TPlantBrokerTest, OffMakesNoConnectionAndListensToNothing) {
    // A listener where the broker would be: any connection attempt reaches it.
    QTcpServer listener;
    ASSERT_TRUE(listener.listen(QHostAddress::LocalHost));
    int connections = 0;
    QObject::connect(&listener, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = listener.nextPendingConnection()) {
            ++connections;
            socket->deleteLater();
        }
    });
    const std::string url = "mqtt://127.0.0.1:" + std::to_string(listener.serverPort());
    Store(url, false);
    TKorvaControlPanel& p = Online();
    // Several of the monitor's passes, each a chance to publish.
    ASSERT_TRUE(QTest::qWaitFor([&] { return Sim->Received().size() >= 12; }, Deadline));
    EXPECT_EQ(connections, 0);
    EXPECT_EQ(p.Broker.Publisher(), nullptr);
    EXPECT_FALSE(static_cast<bool>(p.Monitor->OnPassEnd)); // no main-thread call per pass
    EXPECT_EQ(BrokerText(), "Broker: off");

    // The same settings turned on: the listener sees the console (the check above could see it).
    Store(url, true);
    p.Broker.Apply(false);
    ASSERT_NE(p.Broker.Publisher(), nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return connections > 0; }, Deadline));
    EXPECT_TRUE(static_cast<bool>(p.Monitor->OnPassEnd));
    // And off again, at once.
    Store(url, false);
    p.Broker.Apply(false);
    EXPECT_EQ(p.Broker.Publisher(), nullptr);
    EXPECT_FALSE(static_cast<bool>(p.Monitor->OnPassEnd));
    EXPECT_EQ(BrokerText(), "Broker: off");
}

TEST_F(TPlantBrokerTest, StatusFieldFollowsTheBroker) {
    broker::TBroker b;
    b.Stop(); // nobody listens yet
    Store(b.Url(), true, {}, b.Credentials());
    OpenPanel();
    EXPECT_TRUE(WaitBrokerText("Broker: offline (")) << BrokerText().toStdString();
    b.Start();
    EXPECT_TRUE(WaitBrokerText("Broker: online")) << BrokerText().toStdString();
    b.Process.Stop(SIGKILL); // gone without a word
    EXPECT_TRUE(WaitBrokerText("Broker: offline (")) << BrokerText().toStdString();
    b.Start();
    EXPECT_TRUE(WaitBrokerText("Broker: online")) << BrokerText().toStdString();
    // The broker refuses the console's user: offline, and why.
    b.LetBridgeIn(false);
    b.Process.Stop(SIGKILL);
    b.Start();
    EXPECT_TRUE(WaitBrokerText("Broker: offline (the broker refused")) << BrokerText().toStdString();
    EXPECT_EQ(Panel->Broker.StatusField->toolTip().contains(QString::fromStdString(b.Url())), true);

    // A setting the publisher refuses: off, and why.
    Store("mqtts://127.0.0.1:1", true);
    WriteSetting("BrokerCaFile", "/nonexistent/ca.pem");
    Panel->Broker.Apply(false);
    EXPECT_EQ(Panel->Broker.Publisher(), nullptr);
    EXPECT_TRUE(BrokerText().startsWith("Broker: off (")) << BrokerText().toStdString();
    EXPECT_TRUE(BrokerText().contains("/nonexistent/ca.pem"));
    EXPECT_TRUE(Dialogs->Boxes.empty()); // not asked for: shown in the field only
}

TEST_F(TPlantBrokerTest, ConsoleEventsReachTheBroker) {
    broker::TBroker b;
    broker::TChild sub = b.Subscribe("korva/#", "sub.txt");
    ASSERT_TRUE(Subscribed(b, sub));
    Store(b.Url(), true, {}, b.Credentials());
    TKorvaControlPanel& p = Online();
    ASSERT_TRUE(WaitBrokerText("Broker: online"));
    const std::string topic = Topic();
    EXPECT_TRUE(WaitLine(sub, topic + "/status online"));
    // Who the unit is, as the panel shows it, its tool's type too.
    EXPECT_TRUE(WaitLine(sub, topic + "/info ", "\"controllerName\":\"" + Sim->Parameter("CN") + "\""));
    EXPECT_TRUE(WaitLine(sub, topic + "/info ", "\"toolType\":\"" + Sim->Parameter("TT") + "\""));
    ASSERT_TRUE(WaitLine(sub, topic + "/state "));

    // At most one state message per pass: three values changed while the monitor is parked come
    // back in one pass; the first change goes out at once, the others with the next pass. Passes
    // are a period apart (the monitor sleeps between them), so two messages never come closer.
    p.Monitor->SetPolling(false);
    const size_t before = Payloads(sub, topic + "/state").size();
    Sim->SetParameter("TN", "3");
    Sim->SetParameter("CF", "42.000");
    Sim->SetMountingAngle(30);
    p.Monitor->SetPolling(true);
    const auto all = [&](const std::string& state) {
        return state.find("\"commandForce\":42") != std::string::npos && Number(state, "orientation") > 29 &&
               Number(state, "tool") == 3;
    };
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto states = Payloads(sub, topic + "/state");
            return !states.empty() && all(states.back());
        },
        Deadline));
    const auto states = Payloads(sub, topic + "/state");
    for (size_t i = before + 1; i < states.size(); ++i)
        EXPECT_GE(TimeMs(states[i]) - TimeMs(states[i - 1]), TIxaMonitor::OnlinePeriod / 2)
            << states[i - 1] << "\n"
            << states[i];

    // The operator's save: the command and the save, as events.
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.SaveToControllerItem->isEnabled(); }, Deadline));
    p.SaveToControllerItem->trigger();
    EXPECT_TRUE(WaitLine(sub, topic + "/event ", "\"saved-to-controller\""));
    EXPECT_TRUE(WaitLine(sub, topic + "/event ", "\"command\":\"0:SC\""));

    // A downloaded file is one event when it ends, not a command per line.
    const std::string file = SettingsDir.filePath("unit.cfg").toStdString();
    p.Link->UploadIxaCfg(file);
    ASSERT_TRUE(WaitLine(sub, topic + "/event ", "\"command\":\"0:DCC\"")); // the upload's own command
    const size_t commands = Payloads(sub, topic + "/event").size();
    RestoreFile(*p.Link, file, false);
    EXPECT_TRUE(WaitLine(sub, topic + "/event ", "\"configuration-downloaded\""));
    const auto events = Payloads(sub, topic + "/event");
    for (size_t i = commands; i < events.size(); ++i)
        EXPECT_EQ(events[i].find("operator-command"), std::string::npos) << events[i];

    // A controller's error reply, in words, with the command it refused.
    try {
        p.Link->SetCommandForce(99999);
    } catch (const EIxa&) {
    }
    EXPECT_TRUE(WaitLine(sub, topic + "/event ", "\"error-reply\""));
    EXPECT_TRUE(Has(sub, "\"error-reply\"", "CF 99999"));

    // The link lost, with why, and regained.
    Sim->InjectFault(sim::TSimFault::Silent, -1);
    EXPECT_TRUE(WaitLine(sub, topic + "/event ", "\"link-lost\""));
    EXPECT_TRUE(Has(sub, "\"link-lost\"", "time-out")) << "the reason";
    Sim->ClearFaults();
    EXPECT_TRUE(WaitLine(sub, topic + "/event ", "\"link-regained\""));
    EXPECT_TRUE(Has(sub, "\"link-regained\"", "version"));
}

TEST_F(TPlantBrokerTest, PlantWriteShowsInTheTrafficLogAsThePlants) {
    broker::TBroker b;
    broker::TChild sub = b.Subscribe("korva/#", "sub.txt");
    ASSERT_TRUE(Subscribed(b, sub));
    Store(b.Url(), true, "CF", b.Credentials());
    TKorvaControlPanel& p = Online();
    ASSERT_TRUE(WaitBrokerText("Broker: online"));
    const std::string topic = Topic();
    ASSERT_TRUE(WaitLine(sub, topic + "/status online"));
    p.Maintenance.TrafficLogItemClick();
    auto* log = dynamic_cast<TTrafficLogForm*>(p.Maintenance.TrafficLogWindow);
    ASSERT_NE(log, nullptr);

    // The publisher subscribes after it connects: publish until the write is answered.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            if (!Has(sub, topic + "/result ", "\"ok\":true"))
                b.Publish(topic + "/set/CF", "12.5");
            return Has(sub, topic + "/result ", "\"ok\":true");
        },
        Deadline));
    EXPECT_EQ(Sim->Parameter("CF"), "12.500");
    ASSERT_TRUE(QTest::qWaitFor([&] { return log->ShownText().contains("0:CF 12.500"); }, Deadline));
    bool plant = false;
    for (const QString& line : log->ShownText().split('\n'))
        if (line.contains("0:CF 12.500"))
            plant = line.contains(" plant ") && !line.contains("operator");
    EXPECT_TRUE(plant) << log->ShownText().toStdString();
    // The plant's write is not the operator's command.
    EXPECT_FALSE(Has(sub, "\"operator-command\"", "CF 12.500"));

    // While a busy window's operation runs its exchanges, a write waits, then is refused.
    p.Broker.BusyWait = std::chrono::milliseconds(300);
    TSavingConfig busy(&p);
    busy.show();
    b.Publish(topic + "/set/CF", "7.5");
    EXPECT_TRUE(WaitLine(sub, topic + "/result ", "busy"));
    EXPECT_EQ(Sim->Parameter("CF"), "12.500");
    EXPECT_FALSE(log->ShownText().contains("CF 7.500"));
}

TEST_F(TPlantBrokerTest, ProgramOptionsTurnsItOnAndOffWithoutARestart) {
    broker::TBroker b;
    const std::string credentials = b.Credentials();
    TKorvaControlPanel& p = Online();
    EXPECT_EQ(BrokerText(), "Broker: off");
    QAction* options = p.findChild<QAction*>("ProgramOptionsItem");
    ASSERT_TRUE(AnswerModal<TOptionsForm>(options, [&](TOptionsForm& form) {
        form.BrokerEnabledBox->setChecked(true);
        form.BrokerUrlEdit->setText(QString::fromStdString(b.Url()));
        form.BrokerTopicEdit->setText("korva/test");
        form.BrokerCredentialsEdit->setText(QString::fromStdString(credentials));
        form.OkButton->click();
    }));
    EXPECT_NE(p.Broker.Publisher(), nullptr);
    EXPECT_TRUE(WaitBrokerText("Broker: online")) << BrokerText().toStdString();

    // Cancel changes nothing, even with the box unticked.
    ASSERT_TRUE(AnswerModal<TOptionsForm>(options, [&](TOptionsForm& form) {
        form.BrokerEnabledBox->setChecked(false);
        form.CancelButton->click();
    }));
    EXPECT_EQ(BrokerText(), "Broker: online");

    ASSERT_TRUE(AnswerModal<TOptionsForm>(options, [&](TOptionsForm& form) {
        form.BrokerEnabledBox->setChecked(false);
        form.OkButton->click();
    }));
    EXPECT_EQ(p.Broker.Publisher(), nullptr);
    EXPECT_EQ(BrokerText(), "Broker: off");
}
