// Program Options' plant broker group: checked whole on OK, stored only by an OK that succeeded.
#include "DialogRig.h"
#include "dialogs/BrokerSettings.h"
#include "dialogs/Options.h"
#include "platform/StoredSetting.h"
#include "publish/Publisher.h"
#include "toolkit/Settings.h"

#include <QSettings>
#include <QTemporaryDir>

#include <fstream>
#include <sys/stat.h>

namespace {

struct TBrokerRig : TDialogRig {
    TBrokerRig() { SetSettingsFolder(Folder.path()); }
    // A credentials file only its owner may read.
    std::string Credentials(const std::string& text = "username=plant\npassword=secret\n") {
        const std::string path = Folder.filePath("credentials").toStdString();
        std::ofstream(path) << text;
        ::chmod(path.c_str(), 0600);
        return path;
    }
    QTemporaryDir Folder;
};

void Fill(TOptionsForm& form, const QString& url, const QString& allowed = {}, bool enabled = true) {
    form.BrokerEnabledBox->setChecked(enabled);
    form.BrokerUrlEdit->setText(url);
    form.BrokerAllowedEdit->setText(allowed);
}

} // namespace

TEST(BrokerOptions, OffUntilChosenAndStoredOnlyByOk) {
    TBrokerRig rig;
    {
        TOptionsForm form(nullptr, rig.Link.Link, rig.Link.Port);
        EXPECT_FALSE(form.BrokerEnabledBox->isChecked());
        EXPECT_TRUE(form.BrokerUrlEdit->text().isEmpty());
        EXPECT_EQ(form.BrokerTopicEdit->text().toStdString(), DefaultRoot());
        Fill(form, "mqtt://127.0.0.1:1883", "cf, act");
        form.CancelButton->click();
    }
    EXPECT_EQ(ReadSetting("BrokerUrl", "unset"), "unset");
    EXPECT_EQ(ReadSetting("BrokerEnabled", "unset"), "unset");
    EXPECT_FALSE(ReadBrokerSettings().On());

    const std::string credentials = rig.Credentials();
    {
        TOptionsForm form(nullptr, rig.Link.Link, rig.Link.Port);
        Fill(form, " mqtt://127.0.0.1:1883 ", " cf, act");
        form.BrokerTopicEdit->setText("plant/line4");
        form.BrokerCredentialsEdit->setText(QString::fromStdString(credentials));
        form.OkButton->click();
        EXPECT_EQ(form.result(), QDialog::Accepted);
    }
    const TBrokerSettings stored = ReadBrokerSettings();
    EXPECT_TRUE(stored.On());
    EXPECT_EQ(stored.Url, "mqtt://127.0.0.1:1883");
    EXPECT_EQ(stored.TopicRoot, "plant/line4");
    EXPECT_EQ(stored.CredentialsFile, credentials);
    EXPECT_EQ(stored.AllowedText(), "CF,ACT");
    EXPECT_EQ(ReadSetting("BrokerAllowedWrites"), "CF,ACT");
    // The password stays in its file.
    QSettings settings(SettingsOrganization, SettingsApplication);
    for (const QString& key : settings.allKeys())
        EXPECT_FALSE(settings.value(key).toString().contains("secret")) << key.toStdString();

    // Shown again as stored.
    TOptionsForm again(nullptr, rig.Link.Link, rig.Link.Port);
    EXPECT_TRUE(again.BrokerEnabledBox->isChecked());
    EXPECT_EQ(again.BrokerAllowedEdit->text(), "CF,ACT");
    EXPECT_EQ(again.BrokerTopicEdit->text(), "plant/line4");
}

TEST(BrokerOptions, RefusedEntriesAreNamedAndNothingIsApplied) {
    struct TCase {
        const char* Url;
        const char* Allowed;
        const char* Named; // the message names this
        QLineEdit* TOptionsForm::*Field;
    };
    const TCase cases[] = {
        {"http://127.0.0.1", "", "http://127.0.0.1", &TOptionsForm::BrokerUrlEdit},
        {"127.0.0.1:1883", "", "127.0.0.1:1883", &TOptionsForm::BrokerUrlEdit},
        {"mqtt://", "", "mqtt://", &TOptionsForm::BrokerUrlEdit},
        {"mqtt://:1883", "", "mqtt://:1883", &TOptionsForm::BrokerUrlEdit},
        {"mqtt://host:0", "", "host:0", &TOptionsForm::BrokerUrlEdit},
        {"mqtt://host:65536", "", "65536", &TOptionsForm::BrokerUrlEdit},
        {"mqtt://host:18x3", "", "18x3", &TOptionsForm::BrokerUrlEdit},
        {"mqtt://host/plant", "", "host/plant", &TOptionsForm::BrokerUrlEdit},
        {"mqtt://user@host", "", "user@host", &TOptionsForm::BrokerUrlEdit},
        {"mqtt://host", "CF,XYZ", "XYZ", &TOptionsForm::BrokerAllowedEdit},
        {"mqtt://host", "MF", "MF", &TOptionsForm::BrokerAllowedEdit}, // read only
        {"mqtt://host", "CF;ACT", "CF;ACT", &TOptionsForm::BrokerAllowedEdit},
        {"mqtt://host", "CF,,ACT", "Allowed writes", &TOptionsForm::BrokerAllowedEdit},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.Url) + " / " + c.Allowed);
        TBrokerRig rig;
        sim::TSimulator other;
        TOptionsForm form(nullptr, rig.Link.Link, rig.Link.Port);
        form.show();
        // Another port and other units chosen too: a refused broker entry must keep them from happening.
        form.PortComboBox->setEditText(QString::fromStdString(other.SlavePath()));
        form.UnitsGroup->SetItemIndex(1);
        form.BackupBox->setChecked(true);
        Fill(form, c.Url, c.Allowed);
        rig.Sent();
        EXPECT_FALSE(form.OkButtonClick());
        ASSERT_EQ(rig.Dialogs->Boxes.size(), 1u);
        EXPECT_EQ(rig.Dialogs->Boxes[0].Caption, "Korva Windows Error");
        EXPECT_TRUE(rig.Dialogs->Boxes[0].Text.contains(c.Named)) << rig.Dialogs->Boxes[0].Text.toStdString();
        EXPECT_EQ(form.focusWidget(), form.*c.Field);
        EXPECT_EQ(rig.Link.Port.Name, rig.Link.Sim.SlavePath());
        EXPECT_TRUE(other.Received().empty());
        EXPECT_TRUE(rig.Sent().empty()); // no units
        EXPECT_EQ(ReadSetting("BackupBeforeDownload", "unset"), "unset");
        EXPECT_EQ(ReadSetting("BrokerUrl", "unset"), "unset");
    }
}

TEST(BrokerOptions, FilesMustBeThereAndCredentialsPrivate) {
    TBrokerRig rig;
    const std::string open = rig.Credentials();
    ::chmod(open.c_str(), 0644); // anyone may read the password
    const struct {
        QLineEdit* TOptionsForm::*Field;
        std::string Path;
    } cases[] = {
        {&TOptionsForm::BrokerCredentialsEdit, "/nonexistent/credentials"},
        {&TOptionsForm::BrokerCredentialsEdit, open},
        {&TOptionsForm::BrokerCaEdit, "/nonexistent/ca.pem"},
        {&TOptionsForm::BrokerCaEdit, rig.Folder.path().toStdString()}, // a folder
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Path);
        rig.Dialogs->Boxes.clear();
        TOptionsForm form(nullptr, rig.Link.Link, rig.Link.Port);
        form.show();
        Fill(form, "mqtts://127.0.0.1");
        (form.*c.Field)->setText(QString::fromStdString(c.Path));
        EXPECT_FALSE(form.OkButtonClick());
        ASSERT_EQ(rig.Dialogs->Boxes.size(), 1u);
        EXPECT_TRUE(rig.Dialogs->Boxes[0].Text.contains(QString::fromStdString(c.Path)));
        EXPECT_EQ(form.focusWidget(), form.*c.Field);
        EXPECT_EQ(ReadSetting("BrokerUrl", "unset"), "unset");
    }
    // A private file with a user name is taken; an empty URL turns the broker off whatever the box says.
    rig.Dialogs->Boxes.clear();
    TOptionsForm form(nullptr, rig.Link.Link, rig.Link.Port);
    Fill(form, "", "");
    form.BrokerCredentialsEdit->setText(QString::fromStdString(rig.Credentials()));
    EXPECT_TRUE(form.OkButtonClick());
    EXPECT_TRUE(rig.Dialogs->Boxes.empty());
    EXPECT_TRUE(ReadBrokerSettings().Enabled);
    EXPECT_FALSE(ReadBrokerSettings().On());
}
