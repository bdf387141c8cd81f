#include "dialogs/Interface.h"

#include "dialogs/DialogFrame.h"
#include "toolkit/Application.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Help.h"
#include "toolkit/Layout.h"
#include "toolkit/Text.h"

namespace {
TRadioGroup* MakeGroup(QWidget* parent, const char* name, const char* caption, const QStringList& items,
                       int left, int top, int width, int height) {
    auto* group = new TRadioGroup(parent);
    group->setObjectName(name);
    group->setTitle(caption);
    group->setFont(FormFont(10));
    group->SetItems(items);
    group->SetItemIndex(0);
    Place(group, left, top, width, height);
    return group;
}
} // namespace

TInterfaceForm::TInterfaceForm(QWidget* owner, TIxaInterface& link) : QDialog(owner), Link(link) {
    SetupDialogFrame(this, "IXA90 Interface Setup", 394, 235);

    const QStringList twoWay{"Serial Port Interface", "24V Digital Interface"};
    ActiveRetractGroup =
        MakeGroup(this, "ActiveRetractGroup", "Active / Retract Interface", twoWay, 8, 8, 200, 80);
    CommandForceGroup = MakeGroup(
        this, "CommandForceGroup", "Command Force Interface",
        {"Serial Port Interface", "24 VDC Digital Interface", "+/-10 VDC Analog Interface"}, 8, 96, 200, 97);
    ToolNumberGroup = MakeGroup(this, "ToolNumberGroup", "Tool Number Interface", twoWay, 214, 8, 172, 80);

    GroupBox1 = new QGroupBox("RS485 Network", this);
    GroupBox1->setFont(FormFont(10));
    Place(GroupBox1, 214, 96, 172, 97);
    StaticText1 = MakeLabel(GroupBox1, 8, 26, "Network Name:", false, 10);
    NameEdit = new TEdit(GroupBox1);
    Place(NameEdit, 100, 22, 64, 23);
    StaticText2 = MakeLabel(GroupBox1, 8, 62, "Network Address:", false, 10);
    AddressText = MakeBox(GroupBox1, 116, 58, 32, 23, "0");
    AddressText->setFont(FormFont(10));
    AddressUpDown = new TUpDown(GroupBox1);
    Place(AddressUpDown, 148, 58, 16, 23);
    AddressUpDown->SetRange(0, 15);
    AddressUpDown->SetPosition(0);
    AddressUpDown->SetWrap(false);
    AddressUpDown->SetAssociate(AddressText);

    OkButton = MakeButton(this, "OkButton", "Ok", 40, 202, 75, 25, true);
    CancelButton = MakeButton(this, "CancelButton", "Cancel", 160, 202, 75, 25);
    HelpButton = MakeButton(this, "HelpButton", "Help", 280, 202, 75, 25);
    connect(OkButton, &QPushButton::clicked, this, [this] {
        GuardedCall([this] { OkButtonClick(); });
        accept();
    });
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(HelpButton, &QPushButton::clicked, this, [this] { HelpButtonClick(); });

    ReadSettings();
}

void TInterfaceForm::SelectIndex(TRadioGroup* group, int index) {
    group->SetItemIndex(index >= group->Count() ? group->Count() - 1 : index < 0 ? -1 : index);
}

void TInterfaceForm::ReadSettings() {
    if (!Link.Connected)
        return;
    try {
        SelectIndex(ActiveRetractGroup, Link.GetActiveRetractInterface());
        SelectIndex(ToolNumberGroup, Link.GetToolNumberInterface());
        SelectIndex(CommandForceGroup, Link.GetCommandForceInterface());
        NameEdit->setText(ToQString(Link.GetControllerName()));
        AddressUpDown->SetPosition(Link.GetNetAddress());
        ReadState = TReadState::Read;
    } catch (const EIxa& error) {
        ReadState = TReadState::Failed;
        ShowError(ToQString(error.Message));
    }
}

void TInterfaceForm::OkButtonClick() {
    if (!MayWrite(Link, ReadState))
        return;
    // The name goes in the controller's code page; a character it lacks is refused before any write.
    QString refused;
    const std::optional<AnsiString> name = ToController(NameEdit->text(), &refused);
    if (!name) {
        ShowError("The controller cannot hold the character \"" + refused +
                  "\" in its name (it keeps its texts in the Windows-1252 code page). Nothing was written.");
        return;
    }
    Written = true;
    try {
        Link.SetActiveRetractInterface(ActiveRetractGroup->ItemIndex());
        Link.SetToolNumberInterface(ToolNumberGroup->ItemIndex());
        Link.SetCommandForceInterface(CommandForceGroup->ItemIndex());
        Link.SetControllerName(*name);
        Link.SetNetAddress(AddressUpDown->Position());
    } catch (const EIxa& error) {
        ShowError(ToQString(error.Message));
    }
}

void TInterfaceForm::HelpButtonClick() {
    HelpRequest(HELP_CONTEXT, 204);
}
