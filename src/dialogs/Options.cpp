#include "dialogs/Options.h"

#include "dialogs/DialogFrame.h"
#include "publish/Publisher.h"
#include "toolkit/Application.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Help.h"
#include "toolkit/Layout.h"
#include "toolkit/Settings.h"
#include "toolkit/Text.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace {
constexpr int ClientWidth = 275;
constexpr int ClientHeight = 127;
constexpr int UnitsTop = 56;
constexpr int BackupHeight = 24; // the backup check box under the units
constexpr int BrokerRow = 24;    // one line of the broker group
constexpr int BrokerHeight = 22 + 6 * BrokerRow + 4;
constexpr int BrokerTop = UnitsTop + 63 + 4 + BackupHeight; // under the backup box
} // namespace

std::vector<TSerialPortInfo> TOptionsForm::SerialDevices(const AnsiString& root) {
    return ListSerialPorts(root);
}

void TOptionsForm::ListPorts(const AnsiString& root) {
    const QString typed = PortComboBox->currentText();
    const bool chosen = PortComboBox->currentIndex() >= 0 || !typed.isEmpty();
    PortComboBox->clear();
    Devices = SerialDevices(root);
    QStringList items;
    for (int i = 1; i <= 10; ++i)
        items << QString("COM%1").arg(i);
    for (const TSerialPortInfo& device : Devices)
        items << FromSystemName(device.Path);
    const QString current = FromSystemName(Port.Name);
    if (!current.isEmpty() && !items.contains(current))
        items << current; // e.g. the simulator's pseudo-terminal
    PortComboBox->addItems(items);
    for (size_t i = 0; i < Devices.size(); ++i)
        PortComboBox->setItemData(10 + static_cast<int>(i), FromSystemName(Devices[i].Description()),
                                  Qt::ToolTipRole);
    PortComboBox->view()->setMinimumWidth(PortComboBox->view()->sizeHintForColumn(0) + 24);
    if (chosen) {
        PortComboBox->setEditText(typed); // what the operator chose or typed stays
    } else {
        // The first item from the top whose text is the port's name; none (an empty list) otherwise.
        PortComboBox->setCurrentIndex(current.isEmpty() ? -1
                                                        : PortComboBox->findText(current, Qt::MatchExactly));
    }
    ShowPortInfo();
}

QString TOptionsForm::PortDescription(const QString& name) const {
    for (const TSerialPortInfo& device : Devices)
        if (name == FromSystemName(device.Path) || name == FromSystemName(device.Device))
            return FromSystemName(device.Description());
    return {};
}

void TOptionsForm::ShowPortInfo() {
    PortInfoText->setText(PortDescription(PortComboBox->currentText()));
    ShowPortStatus();
}

TOptionsForm::TOptionsForm(QWidget* owner, TIxaInterface& link, TCommPort& port)
    : QDialog(owner), Port(port), Link(link) {
    SetupDialogFrame(this, "Korva Windows Options", ClientWidth, ClientHeight);

    StaticText1 = MakeLabel(this, 8, 8, "COM Port");
    PortComboBox = new QComboBox(this);
    PortComboBox->setObjectName("PortComboBox");
    // A path the list does not offer (a pseudo-terminal, a device under another name) is typed in.
    PortComboBox->setEditable(true);
    PortComboBox->setInsertPolicy(QComboBox::NoInsert);
    Place(PortComboBox, 8, 24, 169, 21);

    // What the system knows of the chosen device (adapter, serial number, driver), under the list.
    PortInfoText = MakeText(this, {8, 48, 169, 0, ""});
    PortInfoText->setObjectName("PortInfoText");
    PortInfoText->setWordWrap(true);
    PortInfoText->SetColor(clr::GrayText());
    PortInfoText->hide();

    PortStatusText = MakeText(this, {8, 48, 169, 0, ""});
    PortStatusText->setObjectName("PortStatusText");
    PortStatusText->setWordWrap(true);
    PortStatusText->hide();

    UnitsGroup = new TRadioGroup(this);
    UnitsGroup->setObjectName("UnitsGroup");
    UnitsGroup->setTitle("Display Units");
    UnitsGroup->SetItems({"Metric", "English"});
    UnitsGroup->SetItemIndex(0);
    Place(UnitsGroup, 8, UnitsTop, 169, 63);

    BackupBox = new QCheckBox("&Back up before every download", this);
    BackupBox->setObjectName("BackupBox");
    BackupBox->setFont(FormFont(8));
    BackupBox->setChecked(ReadSetting("BackupBeforeDownload", "0") == "1");
    Place(BackupBox, 8, UnitsTop + 63 + 4, 259, 17);

    CreateBrokerGroup();

    OkButton = MakeButton(this, "OkButton", "OK", 192, 8, 75, 25, true);
    CancelButton = MakeButton(this, "CancelButton", "Cancel", 192, 40, 75, 25);
    HelpButton = MakeButton(this, "HelpButton", "Help", 192, 72, 75, 25);
    connect(OkButton, &QPushButton::clicked, this, [this] {
        GuardedCall([this] {
            if (OkButtonClick())
                accept();
        });
    });
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(HelpButton, &QPushButton::clicked, this, [this] { HelpButtonClick(); });

    FPortAtOpen = Port.Name;
    UnitsAtOpen = Link.GetEnglishUnits();
    UnitsGroup->SetItemIndex(UnitsAtOpen ? 1 : 0);
    // The devices as they are now: an adapter plugged in since the last opening is on the list.
    ListPorts();
    connect(PortComboBox, &QComboBox::currentTextChanged, this, [this] { ShowPortInfo(); });
}

void TOptionsForm::ShowPortStatus() {
    const QString reason = Port.Opened ? QString() : FromSystemName(Port.OpenFailure());
    PortStatusText->setText(reason);
    // The device's description, then the reason, each as high as its text, under the list.
    int top = 48;
    for (TStaticText* text : {PortInfoText, PortStatusText}) {
        text->setVisible(!text->text().isEmpty());
        if (text->text().isEmpty())
            continue;
        const int height = text->heightForWidth(text->width());
        text->move(text->x(), top);
        text->setFixedHeight(height);
        top += height + 4;
    }
    const int extra = top - 48;
    // The dialog grows by the texts' height; the units move down below them.
    UnitsGroup->move(UnitsGroup->x(), UnitsTop + extra);
    BackupBox->move(BackupBox->x(), UnitsTop + 63 + 4 + extra);
    BrokerGroup->move(BrokerGroup->x(), BrokerTop + extra);
    setFixedSize(ClientWidth, ClientHeight + BackupHeight + BrokerHeight + 8 + extra);
}

void TOptionsForm::SwitchPort(const AnsiString& name) {
    {
        TLinkLock lock(Link);
        if (Port.Opened)
            Port.Close();
        Port.Open(name);
    }
    FPortSwitched = Port.Name != FPortAtOpen;
    Link.Connect();
}

void TOptionsForm::CreateBrokerGroup() {
    BrokerGroup = new QGroupBox("Plant broker", this);
    BrokerGroup->setObjectName("BrokerGroup");
    BrokerGroup->setFont(FormFont(8));
    Place(BrokerGroup, 8, BrokerTop, 259, BrokerHeight);
    BrokerEnabledBox = new QCheckBox("P&ublish to the plant broker", BrokerGroup);
    BrokerEnabledBox->setObjectName("BrokerEnabledBox");
    Place(BrokerEnabledBox, 8, 18, 243, 17);
    const auto field = [this](int row, const char* caption, const char* name, const char* tip) {
        MakeLabel(BrokerGroup, 8, 20 + row * BrokerRow + 3, caption);
        auto* edit = new QLineEdit(BrokerGroup);
        edit->setObjectName(name);
        edit->setToolTip(tip);
        Place(edit, 88, 20 + row * BrokerRow, 163, 21);
        return edit;
    };
    BrokerUrlEdit = field(1, "URL", "BrokerUrlEdit", "mqtt://host:1883 or mqtts://host:8883; empty: off");
    BrokerTopicEdit = field(2, "Topic root", "BrokerTopicEdit", "Every topic begins with this");
    BrokerTopicEdit->setPlaceholderText(FromSystemName(DefaultRoot()));
    BrokerCredentialsEdit =
        field(3, "Credentials file", "BrokerCredentialsEdit",
              "The file that holds the user name and password (never kept in the settings)");
    BrokerCaEdit = field(4, "CA file", "BrokerCaEdit",
                         "The certificate authority that signs the broker's "
                         "certificate (mqtts://)");
    BrokerAllowedEdit = field(5, "Allowed writes", "BrokerAllowedEdit",
                              "Parameters the plant may set, e.g. CF,ACT; empty: none");
    ShowBrokerSettings(ReadBrokerSettings());
}

void TOptionsForm::ShowBrokerSettings(const TBrokerSettings& settings) {
    BrokerEnabledBox->setChecked(settings.Enabled);
    BrokerUrlEdit->setText(FromSystemName(settings.Url));
    BrokerTopicEdit->setText(FromSystemName(settings.TopicRoot));
    BrokerCredentialsEdit->setText(FromSystemName(settings.CredentialsFile));
    BrokerCaEdit->setText(FromSystemName(settings.CaFile));
    BrokerAllowedEdit->setText(FromSystemName(settings.AllowedText()));
}

TBrokerSettings TOptionsForm::BrokerFields() const {
    TBrokerSettings settings;
    settings.Enabled = BrokerEnabledBox->isChecked();
    settings.Url = ToSystemName(BrokerUrlEdit->text());
    settings.TopicRoot = ToSystemName(BrokerTopicEdit->text());
    settings.CredentialsFile = ToSystemName(BrokerCredentialsEdit->text());
    settings.CaFile = ToSystemName(BrokerCaEdit->text());
    return settings;
}

std::optional<TBrokerSettings> TOptionsForm::CheckBrokerFields() {
    try {
        TBrokerSettings settings = BrokerFields();
        settings.AllowedWrites = ParseAllowedWritesField(ToSystemName(BrokerAllowedEdit->text()));
        return CheckBrokerSettings(std::move(settings));
    } catch (const EBrokerSettings& error) {
        ShowError(FromSystemName(error.what()));
        QLineEdit* edit = error.Field == TBrokerField::Url               ? BrokerUrlEdit
                          : error.Field == TBrokerField::TopicRoot       ? BrokerTopicEdit
                          : error.Field == TBrokerField::CredentialsFile ? BrokerCredentialsEdit
                          : error.Field == TBrokerField::CaFile          ? BrokerCaEdit
                                                                         : BrokerAllowedEdit;
        edit->setFocus();
        edit->selectAll();
        return std::nullopt;
    }
}

bool TOptionsForm::OkButtonClick() {
    // Checked before anything is applied: a refused entry changes nothing.
    const std::optional<TBrokerSettings> broker = CheckBrokerFields();
    if (!broker)
        return false;
    // The text as typed or chosen, unchanged: it may name a device the list does not hold.
    const QString chosen = PortComboBox->currentText();
    if (chosen != FromSystemName(Port.Name)) {
        try {
            SwitchPort(ToSystemName(chosen));
        } catch (const ECommPort& error) {
            ShowError(CommPortErrorMessage(error.Code));
            return true;
        }
        if (!Port.Opened && !chosen.isEmpty()) {
            ShowPortStatus();
            return false;
        }
        ShowPortStatus();
    }
    const int english = UnitsAtOpen ? 1 : 0;
    if (UnitsGroup->ItemIndex() != english)
        Link.SetEnglishUnits(UnitsGroup->ItemIndex() == 1);
    // Stored last: an OK that failed on the way, then Cancel, leaves the setting as it was.
    WriteSetting("BackupBeforeDownload", BackupBox->isChecked() ? "1" : "0");
    WriteBrokerSettings(*broker);
    return true;
}

void TOptionsForm::reject() {
    if (FPortSwitched) {
        try {
            SwitchPort(FPortAtOpen);
        } catch (const ECommPort& error) {
            ShowError(CommPortErrorMessage(error.Code));
        }
    }
    QDialog::reject();
}

void TOptionsForm::HelpButtonClick() {
    HelpRequest(HELP_CONTEXT, 303);
}
