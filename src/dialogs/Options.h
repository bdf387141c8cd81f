#pragma once
// TOptionsForm: the program options dialog. It chooses the serial port through which the console
// reaches the controller and the display units. OK switches the port when another one is chosen
// (the old one is closed first, then the handshake is repeated) and the units when they changed.
//
// The port list holds "COM1" to "COM10", then the serial devices that exist on this machine when
// the dialog opens (USB adapters by their stable /dev/serial/by-id names where the system gives
// them; platform/SerialPorts.h), then the port's present name when it is none of these. What is
// known of the chosen device (vendor, product, serial number, driver) shows under the list and as
// each item's tool tip. Any other device path may be typed into the box; the
// text goes to the port as it stands. When the port is not open, or the chosen one cannot be opened,
// the reason shows under the list; a port that failed to open keeps the dialog open so that another
// one can be chosen, and Cancel then goes back to the port that was in use when the dialog opened.
//
// "Back up before every download" (setting "BackupBeforeDownload", off unless chosen) makes the
// console's download take a backup of the controller first; OK stores it once the port and the
// units have been applied, so an OK that failed on the way, then Cancel, leaves it as it was.
//
// "Plant broker" (under the backup box): whether and where the console publishes its state and
// events, and which parameters the plant may write (BrokerSettings.h). OK checks these first, before
// anything is applied: a bad entry is shown by name and the dialog stays open with nothing changed.
// They are stored with the backup choice, last; the main window then applies them at once.
//
// Errors: an ECommPort while switching is shown ("Korva Windows Error") and the units step is
// skipped; errors of the units step go to the application's error report (the dialog stays open).
//
// Threads: main thread only. The port is closed and opened under the link lock, so the monitor
// never meets it half switched.

#include "dialogs/BrokerSettings.h"
#include "link/CommPort.h"
#include "link/IxaInterface.h"
#include "platform/SerialPorts.h"
#include "toolkit/Controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <optional>
#include <vector>

class TOptionsForm : public QDialog {
public:
    TOptionsForm(QWidget* owner, TIxaInterface& link, TCommPort& port);

    // Applies the choices; false when the chosen port could not be opened (the dialog stays open).
    bool OkButtonClick();
    void HelpButtonClick();

    // The serial devices of the system under root ("" the running one): stable names first.
    static std::vector<TSerialPortInfo> SerialDevices(const AnsiString& root = "");
    // Fills the list anew from the devices under root; a name chosen or typed already stays.
    void ListPorts(const AnsiString& root = "");
    // What is known of the listed device of that name; empty for any other name.
    QString PortDescription(const QString& name) const;

    // Whether the port differs from the one in use at opening (a Cancel that could not reopen that
    // one leaves it switched).
    bool PortSwitched() const { return FPortSwitched; }
    // Cancel, Escape or the close box: the port in use at opening comes back if OK had switched it.
    void reject() override;

    // The broker fields as they stand (not checked).
    TBrokerSettings BrokerFields() const;

    TCommPort& Port;
    TIxaInterface& Link;
    bool UnitsAtOpen = false;

    TStaticText* StaticText1 = nullptr;
    QComboBox* PortComboBox = nullptr;
    TStaticText* PortInfoText = nullptr;   // the chosen device's description; hidden while none
    TStaticText* PortStatusText = nullptr; // why the port is not open; hidden while there is no reason
    TRadioGroup* UnitsGroup = nullptr;
    QCheckBox* BackupBox = nullptr;
    QGroupBox* BrokerGroup = nullptr;
    QCheckBox* BrokerEnabledBox = nullptr;
    QLineEdit* BrokerUrlEdit = nullptr;
    QLineEdit* BrokerTopicEdit = nullptr;
    QLineEdit* BrokerCredentialsEdit = nullptr;
    QLineEdit* BrokerCaEdit = nullptr;
    QLineEdit* BrokerAllowedEdit = nullptr;
    QPushButton* OkButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QPushButton* HelpButton = nullptr;

private:
    void ShowPortStatus();
    void ShowPortInfo();
    std::vector<TSerialPortInfo> Devices; // as listed
    void SwitchPort(const AnsiString& name);
    void CreateBrokerGroup();
    void ShowBrokerSettings(const TBrokerSettings& settings);
    // The broker fields checked whole; a refusal is shown, its field takes the focus, and nothing is
    // returned.
    std::optional<TBrokerSettings> CheckBrokerFields();
    bool FPortSwitched = false;
    AnsiString FPortAtOpen; // open, or lost and waiting to be reopened
};
