// The console's plant broker: the publisher's life, its feeds and the plant's writes.
#include "panel/PlantBroker.h"

#include "maintenance/Terminal.h"
#include "panel/Panel.h"
#include "panel/Saveconfig.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Text.h"

#include <QApplication>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>

#include <cstdio>

namespace {
constexpr int RefreshMs = 500;  // the status field's timer, besides the publisher's reports
constexpr int BusyRetryMs = 50; // a plant write's next look at a busy console
} // namespace

TPlantBroker::TPlantBroker(TKorvaControlPanel& panel) : Panel(panel) {}

TPlantBroker::~TPlantBroker() {
    Stop();
}

void TPlantBroker::CreateStatusField(QStatusBar* bar) {
    StatusField = new QLabel(bar);
    StatusField->setObjectName("BrokerText");
    bar->addWidget(StatusField);
    auto* timer = new QTimer(StatusField);
    QObject::connect(timer, &QTimer::timeout, StatusField, [this] {
        // Another port or address is another unit: its own connection.
        if (FPublisher && (UnitPort() != FUnitPort || UnitAddress() != FUnitAddress))
            Apply(false);
        UpdateStatusField();
    });
    timer->start(RefreshMs);
    UpdateStatusField();
}

std::string TPlantBroker::UnitPort() const {
    if (Panel.Port && !Panel.Port->Name.empty())
        return Panel.Port->Name;
    return !Panel.PortOverride.empty() ? Panel.PortOverride : Panel.CommPortName;
}

int TPlantBroker::UnitAddress() const {
    return Panel.Link ? Panel.Link->Address.load() : 0;
}

void TPlantBroker::Apply(bool showErrors) {
    const TBrokerSettings settings = ReadBrokerSettings();
    if (settings == FSettings && UnitPort() == FUnitPort && UnitAddress() == FUnitAddress &&
        (FPublisher || !ErrorText.isEmpty() || !settings.On()))
        return; // as it is
    Stop();
    FSettings = settings;
    FUnitPort = UnitPort();
    FUnitAddress = UnitAddress();
    ErrorText.clear();
    if (settings.On()) {
        try {
            Start();
        } catch (const std::exception& error) {
            Stop();
            ErrorText = FromSystemName(error.what());
            if (showErrors)
                ShowError("The plant broker cannot be used: " + ErrorText);
        }
    }
    UpdateStatusField();
}

void TPlantBroker::Start() {
    TPublisherOptions options;
    options.Broker = FSettings.Url;
    options.Root = FSettings.TopicRoot;
    options.CaFile = FSettings.CaFile;
    options.CredentialsFile = FSettings.CredentialsFile;
    options.AllowedWrites = FSettings.AllowedWrites;
    options.ConsoleVersion = TKorvaControlPanel::VersionText;
    FPublisher = std::make_unique<TPublisher>(options, UnitLevel(FUnitPort, FUnitAddress));
    Context = new QObject;
    // Both run on the publisher's thread: hand over to the main thread and return. The context
    // outlives that thread (Stop frees the publisher first).
    QObject* context = Context;
    FPublisher->OnStatus = [this, context](const TPublisherStatus&) {
        QMetaObject::invokeMethod(
            context, [this] { UpdateStatusField(); }, Qt::QueuedConnection);
    };
    FPublisher->OnWrite = [this, context](const TPlantWrite& write) {
        QMetaObject::invokeMethod(
            context, [this, write] { RunWrite(write, std::chrono::steady_clock::now() + BusyWait); },
            Qt::QueuedConnection);
    };
    Feed = std::make_unique<TStateFeed>(*FPublisher);
    SeedFeed();
    Traffic.Publisher = FPublisher.get();
    Panel.Link->AddTrafficObserver(&Traffic);
    Operations.Link = Panel.Link.get();
    Operations.Publisher = FPublisher.get();
    AddOperationListener(&Operations);
    Panel.Monitor->OnPassEnd = [this](TIxaMonitor&) {
        if (Feed) {
            Feed->EnglishUnits(Panel.Link->LengthUnits == "In.");
            Feed->PassEnd();
        }
    };
    FPublisher->Start();
    if (Panel.Monitor->Online)
        SendInfo();
}

void TPlantBroker::Stop() {
    if (!FPublisher && !Context)
        return;
    // Nobody calls into the publisher any more before it goes: the monitor's slot, the link's
    // observers (removed under the link lock) and the operations' listeners.
    if (Panel.Monitor)
        Panel.Monitor->OnPassEnd = nullptr;
    if (Panel.Link)
        Panel.Link->RemoveTrafficObserver(&Traffic);
    RemoveOperationListener(&Operations);
    Traffic.Publisher = nullptr;
    Operations.Publisher = nullptr;
    Feed.reset();
    FPublisher.reset(); // its thread is gone after this
    delete Context;     // what it handed over and did not run yet goes with it
    Context = nullptr;
}

void TPlantBroker::SeedFeed() {
    // The monitor delivers changes only: a feed that starts late takes what was delivered so far.
    const TIxaMonitor& m = *Panel.Monitor;
    if (!m.Online)
        return;
    Feed->CommandForce(m.CommandForce.Value);
    Feed->ActualForce(m.ActualForce.Value);
    Feed->Position(m.Position.Value);
    Feed->SlideAcceleration(m.SlideAcceleration.Value);
    Feed->Active(m.Active.Value);
    Feed->Mode(m.Mode.Value);
    Feed->ToolNumber(m.ToolNumber.Value);
    Feed->ToolPresent(m.ToolPresent);
    Feed->EnglishUnits(Panel.Link->LengthUnits == "In.");
}

void TPlantBroker::SendInfo() {
    if (!FPublisher)
        return;
    TUnitInfo info;
    // As the panel shows them: read at the connect, nothing asked of the controller here.
    info.ControllerName = Panel.OnlineStatus->text().toStdString();
    info.Version = Panel.Link->Version;
    info.EnglishUnits = Panel.Link->LengthUnits == "In.";
    info.ToolType = Panel.ToolShown ? Panel.ToolTypeStatus->text().toStdString() : std::string();
    info.ToolNumber = Panel.Monitor->ToolNumber.Value;
    info.Address = FUnitAddress;
    info.Port = FUnitPort;
    FPublisher->SetInfo(info);
}

void TPlantBroker::LinkChanged(bool online) {
    if (!FPublisher)
        return;
    if (online) {
        char detail[96];
        std::snprintf(detail, sizeof detail, "controller version %.2f, address %d",
                      Panel.Link->Version.load(), Panel.Link->Address.load());
        FPublisher->PublishEvent(TPlantEvent::LinkRegained, detail);
        SendInfo();
    } else {
        if (Feed)
            Feed->Forget();
        std::string reason = Traffic.LostReason();
        if (Panel.Port && !Panel.Port->IsOpen())
            reason = ToSystemName(Panel.OfflineReason());
        FPublisher->PublishEvent(TPlantEvent::LinkLost, reason);
    }
}

void TPlantBroker::ToolChanged(bool present) {
    Deliver(&TStateFeed::ToolPresent, present);
    SendInfo(); // the tool's type is part of who the unit is
}

bool TPlantBroker::ConsoleBusy() const {
    // The terminal owns the line; a busy window's operation runs its exchanges in a row and only
    // lets the event loop paint in between.
    if (TerminalForm)
        return true;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible() && dynamic_cast<TSavingConfig*>(window))
            return true;
    return false;
}

void TPlantBroker::RunWrite(const TPlantWrite& write, std::chrono::steady_clock::time_point deadline) {
    if (!FPublisher)
        return;
    if (ConsoleBusy()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            FPublisher->Complete(write, {false, "the console is busy (the terminal or a transfer)"});
            return;
        }
        QTimer::singleShot(BusyRetryMs, Context, [this, write, deadline] { RunWrite(write, deadline); });
        return;
    }
    // The link's lock keeps it between the monitor's exchanges, as the operator's commands are.
    FPublisher->Complete(write, ExecutePlantWrite(*Panel.Link, write));
}

QString TPlantBroker::StatusText() const {
    if (!ErrorText.isEmpty())
        return "Broker: off (" + ErrorText + ")";
    if (!FPublisher)
        return "Broker: off";
    const TPublisherStatus status = FPublisher->Status();
    const QString detail = QString::fromStdString(status.Detail);
    switch (status.State) {
    case TPublisherState::Connected:
        return "Broker: online";
    case TPublisherState::Connecting:
        return detail.isEmpty() ? "Broker: connecting" : "Broker: offline (" + detail + ")";
    case TPublisherState::Refused:
        return "Broker: offline (" + (detail.isEmpty() ? QString("refused") : detail) + ")";
    case TPublisherState::Stopped:
        break;
    }
    return "Broker: off";
}

void TPlantBroker::UpdateStatusField() {
    if (!StatusField)
        return;
    const QString text = StatusText();
    if (StatusField->text() != text)
        StatusField->setText(text);
    QString tip;
    if (FPublisher) {
        const TPublisherStatus status = FPublisher->Status();
        tip = FromSystemName(FSettings.Url) + ", topic " + QString::fromStdString(FPublisher->Topic()) +
              QString("\nPublished %1, dropped %2; plant writes %3, refused %4")
                  .arg(status.Published)
                  .arg(status.Dropped)
                  .arg(status.Writes)
                  .arg(status.RefusedWrites);
    } else {
        tip = "Publishing to a plant broker: Maintenance, Program Options";
    }
    if (StatusField->toolTip() != tip)
        StatusField->setToolTip(tip);
}

void TPlantBroker::TOperations::OnOperation(const TIxaInterface& link, TOperationNotice notice,
                                            const std::string& detail) noexcept {
    if (&link != Link || !Publisher)
        return;
    try {
        switch (notice) {
        case TOperationNotice::ConfigurationDownloaded:
            Publisher->PublishEvent(TPlantEvent::ConfigurationDownloaded, detail);
            break;
        case TOperationNotice::BackupTaken:
            Publisher->PublishEvent(TPlantEvent::BackupTaken, detail);
            break;
        case TOperationNotice::SavedToController:
            Publisher->PublishEvent(TPlantEvent::SavedToController, detail);
            break;
        }
    } catch (...) {
        // Out of memory at worst: the event is not published.
    }
}
