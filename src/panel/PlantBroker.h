#pragma once
// TPlantBroker: the console's connection to the plant broker (Maintenance, Program Options, "Plant
// broker"). While the settings turn it on, one publisher (publish/Publisher.h) carries this console's
// unit: the monitor's deliveries as one state message per pass, who the unit is, and the events
// (the link lost and regained with the reason, a configuration downloaded, a backup taken, a save to
// the controller, the controller's error replies, the operator's commands). Writes from the plant
// that the publisher let through run on the main thread, like the operator's commands, and show in
// the traffic log as the plant's. Off, nothing is made: no connection, no listener, no cost to the
// monitor.
//
// Apply reads the settings and starts, restarts or stops the publisher: at start-up, after
// Program Options' OK, and when the unit changes (another port or address: one connection is one
// unit). The status bar's field shows the publisher's state ("Broker: off", "Broker: connecting",
// "Broker: online", "Broker: offline (reason)"), refreshed on the main thread from the publisher's
// reports and a timer; nothing here waits for the broker.
//
// Threads: main thread only, except what the publisher, the link and the operations call (the
// listeners below), which only hand over to the publisher's queue or to the main thread.
// Lifetime: lives as long as the panel; Stop before the panel frees its monitor and link.

#include "dialogs/BrokerSettings.h"
#include "link/Traffic.h"
#include "operations/OperationNotices.h"
#include "publish/Publisher.h"
#include "publish/StateFeed.h"
#include "publish/TrafficEvents.h"

#include <QPointer>
#include <QString>

#include <chrono>
#include <memory>
#include <mutex>

class QLabel;
class QObject;
class QStatusBar;
class TKorvaControlPanel;

class TPlantBroker {
public:
    explicit TPlantBroker(TKorvaControlPanel& panel);
    ~TPlantBroker();
    TPlantBroker(const TPlantBroker&) = delete;
    TPlantBroker& operator=(const TPlantBroker&) = delete;

    // At the end of the panel's status bar.
    void CreateStatusField(QStatusBar* bar);
    // Starts, restarts or stops the publisher as the settings and the unit say. A publisher that
    // cannot be made (a setting it refuses) is shown in the status field and, when showErrors, in a
    // message box.
    void Apply(bool showErrors);
    void Stop();

    // The monitor's deliveries, from the panel's handlers.
    template <typename T> void Deliver(void (TStateFeed::*setter)(T), T value) {
        if (Feed)
            (Feed.get()->*setter)(value);
    }
    void LinkChanged(bool online);
    // After the panel showed the tool (its type) or its absence.
    void ToolChanged(bool present);

    QString StatusText() const;
    void UpdateStatusField();
    TPublisher* Publisher() const { return FPublisher.get(); }
    const TBrokerSettings& Settings() const { return FSettings; }

    QLabel* StatusField = nullptr;
    // How long a plant write waits for the console to be free (a busy window, the terminal) before
    // it is refused.
    std::chrono::milliseconds BusyWait{5000};

private:
    class TOperations final : public TOperationListener {
    public:
        void OnOperation(const TIxaInterface& link, TOperationNotice notice,
                         const std::string& detail) noexcept override;
        const TIxaInterface* Link = nullptr;
        TPublisher* Publisher = nullptr;
    };

    std::string UnitPort() const;
    int UnitAddress() const;
    void Start();
    void SendInfo();
    void SeedFeed();
    void RunWrite(const TPlantWrite& write, std::chrono::steady_clock::time_point deadline);
    bool ConsoleBusy() const;

    TKorvaControlPanel& Panel;
    TBrokerSettings FSettings;
    std::string FUnitPort;
    int FUnitAddress = 0;
    QString ErrorText; // why the publisher could not be made
    std::unique_ptr<TPublisher> FPublisher;
    std::unique_ptr<TStateFeed> Feed;
    // The receiver of what the publisher's thread hands to the main thread; freed after the
    // publisher, so that nothing handed over runs against a publisher that is gone.
    QObject* Context = nullptr;
    TPlantTraffic Traffic; // the operator's commands, error replies, and why the link was lost
    TOperations Operations;
};
