// The console's plant broker against Debian's mosquitto: what the console publishes, its status
// field, the plant's writes, Program Options turning it on and off, and nothing at all while off.
#include "support/AnswerModal.h"
#include "support/Mosquitto.h"
#include "support/PanelTestSupport.h"

#include "dialogs/BrokerSettings.h"
#include "dialogs/Options.h"
#include "maintenance/TrafficLog.h"

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

class TPlantBrokerTest : public TPanelTest {
protected:
    void SetUp() override {
        if (!TMosquitto::Installed())
            GTEST_SKIP() << "mosquitto is not installed";
    }
    // Settings pointing at url, on (or off).
    static void Store(const std::string& url, bool enabled = true, const std::string& allowed = {}) {
        TBrokerSettings settings;
        settings.Enabled = enabled;
        settings.Url = url;
        settings.TopicRoot = "korva-test";
        if (!allowed.empty())
            settings.AllowedWrites = ParseAllowedWritesField(allowed);
        WriteBrokerSettings(settings);
    }
    QString BrokerText() const { return Panel->Broker.StatusField->text(); }
    bool WaitBrokerText(const QString& prefix) {
        return QTest::qWaitFor([&] { return BrokerText().startsWith(prefix); }, Deadline);
    }
    // The unit's topic: "korva-test/<port>-<address>".
    std::string Topic() const { return Panel->Broker.Publisher()->Topic(); }
    bool WaitLine(TMosquittoSub& sub, const std::string& text, const std::string& also = {}) {
        return QTest::qWaitFor([&] { return sub.Has(text, also); }, Deadline);
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
    TMosquitto broker;
    Store(broker.Url()); // not started yet: nobody listens
    OpenPanel();
    EXPECT_TRUE(WaitBrokerText("Broker: offline (")) << BrokerText().toStdString();
    ASSERT_TRUE(broker.Start());
    EXPECT_TRUE(WaitBrokerText("Broker: online")) << BrokerText().toStdString();
    broker.Kill();
    EXPECT_TRUE(WaitBrokerText("Broker: offline (")) << BrokerText().toStdString();
    ASSERT_TRUE(broker.Start());
    EXPECT_TRUE(WaitBrokerText("Broker: online")) << BrokerText().toStdString();

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
    TMosquitto broker;
    ASSERT_TRUE(broker.Start());
    TMosquittoSub sub(broker, "korva-test/#");
    ASSERT_TRUE(sub.Ready());
    Store(broker.Url());
    TKorvaControlPanel& p = Online();
    ASSERT_TRUE(WaitBrokerText("Broker: online"));
    const std::string topic = Topic();
    EXPECT_TRUE(WaitLine(sub, topic + "/status online"));
    // Who the unit is, as the panel shows it, its tool's type too.
    EXPECT_TRUE(WaitLine(sub, topic + "/info ", "\"controllerName\":\"" + Sim->Parameter("CN") + "\""));
    EXPECT_TRUE(WaitLine(sub, topic + "/info ", "\"toolType\":\"" + Sim->Parameter("TT") + "\""));
    ASSERT_TRUE(WaitLine(sub, topic + "/state "));

    // One state message per pass, with all that pass delivered: two values changed while the
    // monitor is parked come back in the same pass, so no message has one without the other.
    p.Monitor->SetPolling(false);
    Sim->SetParameter("CF", "42.000");
    Sim->SetMountingAngle(30);
    p.Monitor->SetPolling(true);
    ASSERT_TRUE(WaitLine(sub, topic + "/state ", "\"commandForce\":42"));
    for (const std::string& state : sub.Payloads(topic + "/state"))
        if (state.find("\"commandForce\":42") != std::string::npos) {
            EXPECT_GT(Number(state, "orientation"), 29.0) << state;
        }

    // The operator's save: the command and the save, as events.
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.SaveToControllerItem->isEnabled(); }, Deadline));
    p.SaveToControllerItem->trigger();
    EXPECT_TRUE(WaitLine(sub, topic + "/event ", "\"saved-to-controller\""));
    EXPECT_TRUE(WaitLine(sub, topic + "/event ", "\"command\":\"0:SC\""));

    // A controller's error reply, in words, with the command it refused.
    try {
        p.Link->SetCommandForce(99999);
    } catch (const EIxa&) {
    }
    EXPECT_TRUE(WaitLine(sub, topic + "/event ", "\"error-reply\""));
    EXPECT_TRUE(sub.Has("\"error-reply\"", "CF 99999"));

    // The link lost, with why, and regained.
    Sim->InjectFault(sim::TSimFault::Silent, -1);
    EXPECT_TRUE(WaitLine(sub, topic + "/event ", "\"link-lost\""));
    EXPECT_TRUE(sub.Has("\"link-lost\"", "time-out")) << "the reason";
    Sim->ClearFaults();
    EXPECT_TRUE(WaitLine(sub, topic + "/event ", "\"link-regained\""));
    EXPECT_TRUE(sub.Has("\"link-regained\"", "version"));
}

TEST_F(TPlantBrokerTest, PlantWriteShowsInTheTrafficLogAsThePlants) {
    TMosquitto broker;
    ASSERT_TRUE(broker.Start());
    TMosquittoSub sub(broker, "korva-test/#");
    ASSERT_TRUE(sub.Ready());
    Store(broker.Url(), true, "CF");
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
            if (!sub.Has(topic + "/result ", "\"ok\":true"))
                broker.Publish(topic + "/set/CF", "12.5");
            return sub.Has(topic + "/result ", "\"ok\":true");
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
    EXPECT_FALSE(sub.Has("\"operator-command\"", "CF 12.500"));
}

TEST_F(TPlantBrokerTest, ProgramOptionsTurnsItOnAndOffWithoutARestart) {
    TMosquitto broker;
    ASSERT_TRUE(broker.Start());
    TKorvaControlPanel& p = Online();
    EXPECT_EQ(BrokerText(), "Broker: off");
    QAction* options = p.findChild<QAction*>("ProgramOptionsItem");
    ASSERT_TRUE(AnswerModal<TOptionsForm>(options, [&](TOptionsForm& form) {
        form.BrokerEnabledBox->setChecked(true);
        form.BrokerUrlEdit->setText(QString::fromStdString(broker.Url()));
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
