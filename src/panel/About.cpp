#include "panel/About.h"

#include "panel/Panel.h"
#include "panel/Splash.h"
#include "toolkit/Layout.h"
#include "toolkit/Placement.h"

TAboutForm::TAboutForm(QWidget* owner) : QDialog(owner) {
    setWindowTitle("AboutForm");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFont(FormFont(8));
    setFixedSize(377, 239);

    Bevel1 = new TBevel(this);
    Bevel1->setGeometry(8, 8, 361, 185);

    IconImage = new QLabel(this);
    IconImage->setPixmap(ProgramIcon(32));
    IconImage->setGeometry(20, 20, 32, 32);
    StaticText1 = MakeText(this, {68, 20, 0, 0, "Korva Windows Control Panel", taLeft, true, 10});
    VersionText = MakeText(this, {68, 40, 0, 0, "Version 3.1", taLeft, true, 10});
    VersionText->setText(QString("Version ") + TKorvaControlPanel::VersionText);
    FitText(VersionText, taLeft);

    LogoImage = new QLabel(this);
    LogoImage->setScaledContents(true);
    LogoImage->setPixmap(MakerLogo(337, 33));
    LogoImage->setGeometry(20, 68, 337, 33);

    StaticText5 = MakeText(this, {20, 108, 337, 16, "Halvane Force Control Systems", taRight});
    CopyrightText = MakeText(this, {20, 144, 337, 16, "", taLeft, true});
    CopyrightText->setText("Copyright \u00a9 Halvane. All rights reserved.");
    StaticText4 =
        MakeText(this, {20, 164, 337, 16, "This program is protected by copyright law.", taLeft, true});

    OkButton = new QPushButton("OK", this);
    OkButton->setObjectName("OkButton");
    OkButton->setDefault(true);
    OkButton->setGeometry(151, 204, 75, 25);
    connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);

    PlaceOnScreen(this);
}
