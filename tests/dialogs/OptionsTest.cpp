// Program options dialog against the simulated controller.
#include "dialogs/Options.h"
#include "DialogRig.h"
#include "support/FakeSysfs.h"
#include "toolkit/Settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
void Choose(TOptionsForm& form, const std::string& port) {
    const int index = form.PortComboBox->findText(QString::fromStdString(port));
    ASSERT_GE(index, 0) << port;
    form.PortComboBox->setCurrentIndex(index);
}
} // namespace

TEST(OptionsForm, ListsTheComPortsThenTheOpenPort) {
    TDialogRig rig;
    TOptionsForm form(nullptr, rig.Link.Link, rig.Link.Port);
    EXPECT_EQ(form.windowTitle(), "Korva Windows Options");
    ASSERT_GE(form.PortComboBox->count(), 11);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(form.PortComboBox->itemText(i), QString("COM%1").arg(i + 1));
    EXPECT_EQ(form.PortComboBox->currentText(), QString::fromStdString(rig.Link.Sim.SlavePath()));
    EXPECT_FALSE(form.PortStatusText->isVisible());
    EXPECT_FALSE(form.UnitsAtOpen);
    EXPECT_EQ(form.UnitsGroup->ItemIndex(), 0);
}

TEST(OptionsForm, SamePortOrNoneChangesNothingAboutThePort) {
    for (bool english : {false, true}) {
        SCOPED_TRACE(english ? "English controller" : "metric controller");
        sim::TSimOptions options;
        options.EnglishUnits = english;
        TDialogRig rig(true, options);
        TOptionsForm form(nullptr, rig.Link.Link, rig.Link.Port);
        EXPECT_EQ(rig.Sent(), std::vector<std::string>{"0:CU?"}); // the units at opening
        EXPECT_EQ(form.UnitsGroup->ItemIndex(), english ? 1 : 0);
        form.OkButton->click();
        EXPECT_EQ(form.result(), QDialog::Accepted);
        EXPECT_TRUE(rig.Link.Port.IsOpen());
        EXPECT_TRUE(rig.Sent().empty()); // no handshake, no units
        EXPECT_EQ(rig.Link.Sim.Parameter("CU"), english ? "1" : "0");
        EXPECT_EQ(rig.Link.Link.ForceUnits, english ? "Lbf." : "N");
    }
    {
        TDialogRig rig(false);
        rig.Link.Port.Close();
        TOptionsForm form(nullptr, rig.Link.Link, rig.Link.Port);
        EXPECT_EQ(form.PortComboBox->currentIndex(), -1);
        EXPECT_TRUE(form.PortComboBox->currentText().isEmpty());
        form.OkButton->click();
        EXPECT_EQ(form.result(), QDialog::Accepted);
        EXPECT_FALSE(rig.Link.Port.IsOpen());
    }
}

TEST(OptionsForm, ClosesTheOldPortBeforeOpeningTheNewOne) {
    TDialogRig rig;
    sim::TSimulator other;
    TOptionsForm form(nullptr, rig.Link.Link, rig.Link.Port);
    rig.Sent();
    form.PortComboBox->addItem(QString::fromStdString(other.SlavePath()));
    Choose(form, other.SlavePath());
    form.OkButton->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    // Open does nothing while a port is open: the new name shows the old one was closed first.
    EXPECT_EQ(rig.Link.Port.Name, other.SlavePath());
    EXPECT_TRUE(rig.Link.Link.Connected);
    EXPECT_TRUE(form.PortSwitched());
    const auto sent = other.Received();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent[0], "0:VER?");
    for (const std::string& line : sent) // units unchanged: nothing about them
        EXPECT_EQ(line.find("CU "), std::string::npos);
    EXPECT_TRUE(rig.Sent().empty());
}

TEST(OptionsForm, PortThatCannotOpenShowsWhyAndStaysOpen) {
    TDialogRig rig;
    QTemporaryDir folder;
    const QString missing = QDir(folder.path()).filePath("ttyUSB7");
    TOptionsForm form(nullptr, rig.Link.Link, rig.Link.Port);
    form.show();
    form.PortComboBox->addItem(missing);
    Choose(form, missing.toStdString());
    form.UnitsGroup->SetItemIndex(1);
    form.OkButton->click();
    EXPECT_NE(form.result(), QDialog::Accepted);
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(rig.Link.Port.IsOpen());
    EXPECT_FALSE(rig.Link.Link.Connected);
    EXPECT_TRUE(form.PortStatusText->isVisible());
    EXPECT_TRUE(form.PortStatusText->text().contains("ttyUSB7")) << form.PortStatusText->text().toStdString();
    EXPECT_GT(form.UnitsGroup->y(), form.PortStatusText->geometry().bottom()); // not covered
    EXPECT_EQ(rig.Link.Link.LengthUnits, "mm");                                // units step skipped
    EXPECT_TRUE(rig.Dialogs->Boxes.empty());
}

// Cancel after a port that would not open: the port in use at opening comes back, connected, and the
// dialog reports no switch. So does Escape.
TEST(OptionsForm, CancelAfterAFailedOpenGoesBackToThePortInUse) {
    for (bool escape : {false, true}) {
        SCOPED_TRACE(escape ? "Escape" : "Cancel");
        TDialogRig rig;
        const std::string inUse = rig.Link.Port.Name;
        QTemporaryDir folder;
        SetSettingsFolder(folder.path());
        TOptionsForm form(nullptr, rig.Link.Link, rig.Link.Port);
        form.show();
        ASSERT_FALSE(form.BackupBox->isChecked());
        form.BackupBox->setChecked(true);
        form.PortComboBox->setEditText(QDir(folder.path()).filePath("ttyUSB7"));
        form.OkButton->click();
        ASSERT_FALSE(rig.Link.Port.IsOpen());
        EXPECT_TRUE(form.PortSwitched());
        if (escape)
            QTest::keyClick(&form, Qt::Key_Escape);
        else
            form.CancelButton->click();
        EXPECT_EQ(form.result(), QDialog::Rejected);
        EXPECT_FALSE(form.isVisible());
        EXPECT_TRUE(rig.Link.Port.IsOpen());
        EXPECT_EQ(rig.Link.Port.Name, inUse);
        EXPECT_TRUE(rig.Link.Link.Connected);
        EXPECT_FALSE(form.PortSwitched());
        EXPECT_TRUE(rig.Dialogs->Boxes.empty());
        // Nothing chosen in the dialog was stored.
        EXPECT_EQ(ReadSetting("BackupBeforeDownload", "unset"), "unset");
    }
}

// A path the list does not hold is typed in, and goes to the port as it stands.
TEST(OptionsForm, ATypedDevicePathIsOpened) {
    TDialogRig rig;
    sim::TSimulator other;
    TOptionsForm form(nullptr, rig.Link.Link, rig.Link.Port);
    const QString typed = QString::fromStdString(other.SlavePath());
    ASSERT_EQ(form.PortComboBox->findText(typed), -1);
    form.PortComboBox->setEditText(typed);
    form.OkButton->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(rig.Link.Port.Name, other.SlavePath());
    EXPECT_TRUE(rig.Link.Link.Connected);
    EXPECT_TRUE(form.PortSwitched());
    // Anything typed is the name, spaces and all: a name that names nothing is not opened.
    TOptionsForm again(nullptr, rig.Link.Link, rig.Link.Port);
    again.PortComboBox->setEditText(typed + " ");
    again.OkButton->click();
    EXPECT_NE(again.result(), QDialog::Accepted);
    EXPECT_FALSE(rig.Link.Port.IsOpen());
}

TEST(OptionsForm, EnglishOfflineSwitchesTheUnitTextsOnly) {
    TDialogRig rig(false);
    TOptionsForm form(nullptr, rig.Link.Link, rig.Link.Port);
    form.UnitsGroup->SetItemIndex(1);
    form.OkButton->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(rig.Link.Link.LengthUnits, "In.");
    EXPECT_EQ(rig.Link.Link.ForceUnits, "Lbf.");
    EXPECT_EQ(rig.Link.Link.WeightUnits, "Lb.");
    EXPECT_TRUE(rig.Sent().empty());
}

TEST(OptionsForm, UnitsChangeOnlineReachesTheController) {
    TDialogRig rig;
    TOptionsForm form(nullptr, rig.Link.Link, rig.Link.Port);
    rig.Sent();
    form.UnitsGroup->SetItemIndex(1);
    form.OkButton->click();
    EXPECT_EQ(TDialogRig::Writes(rig.Sent()), std::vector<std::string>{"CU 1"});
    EXPECT_EQ(rig.Link.Sim.Parameter("CU"), "1");
    EXPECT_EQ(rig.Link.Link.ForceUnits, "Lbf.");
}

// The machine's devices under the COM names, stable names first, each with what is known of it; a
// name typed meanwhile stays, and a device unplugged leaves the list when it is filled again.
TEST(OptionsForm, ListsTheDevicesWithWhatIsKnownOfEach) {
    TDialogRig rig;
    TFakeSysfs sys;
    TOptionsForm form(nullptr, rig.Link.Link, rig.Link.Port);
    form.show();
    const QString typed = "tcp://plant-gw:4001";
    form.PortComboBox->setEditText(typed);
    form.ListPorts(sys.Root());
    EXPECT_EQ(form.PortComboBox->currentText(), typed);
    EXPECT_FALSE(form.PortInfoText->isVisible()); // nothing is known of a network name

    const QString ftdi =
        QString::fromStdString(sys.Path("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"));
    QStringList items;
    for (int i = 0; i < form.PortComboBox->count(); ++i)
        items << form.PortComboBox->itemText(i);
    ASSERT_EQ(items.size(), 15) << items.join(' ').toStdString();
    EXPECT_EQ(items[0], "COM1");
    EXPECT_EQ(items[9], "COM10");
    EXPECT_EQ(items.mid(10, 4),
              (QStringList{QString::fromStdString(
                               sys.Path("dev/serial/by-id/usb-Arduino__www.arduino.cc__0043_8573531-if00")),
                           ftdi, QString::fromStdString(sys.Path("dev/ttyS0")),
                           QString::fromStdString(sys.Path("dev/ttyUSB1"))}));
    EXPECT_EQ(items[14], QString::fromStdString(rig.Link.Sim.SlavePath())); // the port in use
    const QString description = QString::fromStdString(
        "FTDI FT232R USB UART, serial A1B2C3, ftdi_sio (0403:6001), " + sys.Path("dev/ttyUSB0"));
    EXPECT_EQ(form.PortComboBox->itemData(11, Qt::ToolTipRole).toString(), description);

    Choose(form, ftdi.toStdString());
    EXPECT_TRUE(form.PortInfoText->isVisible());
    EXPECT_EQ(form.PortInfoText->text(), description);
    EXPECT_GT(form.UnitsGroup->y(), form.PortInfoText->geometry().bottom()); // not covered
    Choose(form, "COM3");
    EXPECT_FALSE(form.PortInfoText->isVisible());

    sys.Unplug("ttyUSB0");
    form.ListPorts(sys.Root());
    EXPECT_EQ(form.PortComboBox->findText(ftdi), -1);
    EXPECT_EQ(form.PortComboBox->count(), 14);
    EXPECT_EQ(form.PortComboBox->currentText(), "COM3");
}

TEST(OptionsForm, HelpButtonAsksForItsTopicAndStaysOpen) {
    TDialogRig rig(false);
    TOptionsForm form(nullptr, rig.Link.Link, rig.Link.Port);
    form.show();
    form.HelpButton->click();
    ExpectHelpContext(rig.Help, 303);
    EXPECT_TRUE(form.isVisible());
}
