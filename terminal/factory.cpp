#include "factory.h"

#include "factoryexchange.h"
#include "formkeys.h"
#include "globals.h"
#include "placing.h"

#include "platform/clock.h"
#include "platform/ui.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

namespace {

using terminal::button;
using terminal::checkBox;
using terminal::place;

// Labels here size themselves to their caption.
QLabel* fittedLabel(QWidget* parent, const char* caption, int left, int top)
{
    auto* l = new QLabel(QString::fromLatin1(caption), parent);
    l->move(left, top);
    l->adjustSize();
    return l;
}

QPushButton* okButton(QWidget* parent, int left, int top)
{
    auto* b = button(parent, "Ok", left, top, 75);
    // Enter in an edit box sends nothing; only a click or the focused button's key does.
    b->setAutoDefault(false);
    return b;
}

UpDown* upDown(QWidget* parent, int left, int top)
{
    auto* ud = place<UpDown>(parent, left, top, 15, 21);
    ud->setRange(terminal::UpDownMin, terminal::UpDownMax);
    ud->setPosition(0);
    return ud;
}

} // namespace

TfrmFactory::TfrmFactory(QWidget* parent) : QDialog(parent)
{
    buildControls();
}

void TfrmFactory::buildControls()
{
    setWindowTitle(QStringLiteral("frmFactory"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(ClientWidth, ClientHeight);
    move(ScreenLeft, ScreenTop);
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));

    grpArcParameter = place<QGroupBox>(this, 16, 16, 329, 265, QStringLiteral("Arc Parameter"));
    chkArcEnabled = checkBox(grpArcParameter, "Arc Management Enabled", 16, 32, 217);
    Label1 = fittedLabel(grpArcParameter, "Arc Number:", 16, 68);
    txtArcNum = place<QLineEdit>(grpArcParameter, 104, 64, 187, 21, QStringLiteral("0"));
    udArcNum = upDown(grpArcParameter, 291, 64);
    Label2 = fittedLabel(grpArcParameter, "Arc Time (s):", 16, 104);
    txtArcTime = place<QLineEdit>(grpArcParameter, 104, 104, 187, 21);
    udArcTime = upDown(grpArcParameter, 291, 104);
    Label3 = fittedLabel(grpArcParameter, "Arc Wait Time (s):", 16, 146);
    txtArcWait = place<QLineEdit>(grpArcParameter, 104, 144, 187, 21);
    udArcWait = upDown(grpArcParameter, 291, 144);
    Label4 = fittedLabel(grpArcParameter, "Arc Ramp (V/s):", 16, 188);
    txtArcRamp = place<QLineEdit>(grpArcParameter, 104, 184, 187, 21);
    udArcRamp = upDown(grpArcParameter, 291, 184);
    btnArcOk = okButton(grpArcParameter, 232, 232);

    grpLumetra = place<QGroupBox>(this, 352, 16, 225, 121, QStringLiteral("Lumetra"));
    chkIset = checkBox(grpLumetra, "Iset adjustable", 16, 24, 97);
    btnLumetraOk = okButton(grpLumetra, 136, 88);

    grpDateTime = place<QGroupBox>(this, 352, 144, 225, 137, QStringLiteral("Date / Time"));
    txtDate = place<QLineEdit>(grpDateTime, 16, 24, 193, 21, QStringLiteral("txtDate"));
    txtTime = place<QLineEdit>(grpDateTime, 16, 64, 193, 21, QStringLiteral("txtTime"));
    btnDateOk = okButton(grpDateTime, 136, 104);

    udArcNum->setAssociate(txtArcNum);

    QWidget* order[] = {chkArcEnabled, txtArcNum, txtArcTime, txtArcWait, txtArcRamp, btnArcOk,
                        chkIset,       btnLumetraOk, btnDateOk, txtDate,  txtTime};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    // Enter clicks the focused Ok button, and Alt with a character types nothing; the
    // dialog has no default button.
    new FormKeys(this, nullptr);

    // Every change of a value, typed, stepped or filled, marks its setting as touched.
    connect(chkArcEnabled, &QCheckBox::toggled, this, [this] { chkArcEnabledClick(chkArcEnabled); });
    connect(txtArcNum, &QLineEdit::textChanged, this, [this] { txtArcNumChange(txtArcNum); });
    connect(txtArcTime, &QLineEdit::textChanged, this, [this] { txtArcTimeChange(txtArcTime); });
    connect(txtArcWait, &QLineEdit::textChanged, this, [this] { txtArcWaitChange(txtArcWait); });
    connect(txtArcRamp, &QLineEdit::textChanged, this, [this] { txtArcRampChange(txtArcRamp); });
    connect(udArcTime, &UpDown::clicked, this, [this](UpDown::Button b) { udArcTimeClick(udArcTime, b); });
    connect(udArcWait, &UpDown::clicked, this, [this](UpDown::Button b) { udArcWaitClick(udArcWait, b); });
    connect(udArcRamp, &UpDown::clicked, this, [this](UpDown::Button b) { udArcRampClick(udArcRamp, b); });
    connect(btnArcOk, &QPushButton::clicked, this, [this] { btnArcOkClick(btnArcOk); });
    connect(btnLumetraOk, &QPushButton::clicked, this, [this] { btnLumetraOkClick(btnLumetraOk); });
    connect(btnDateOk, &QPushButton::clicked, this, [this] { btnDateOkClick(btnDateOk); });
}

terminal::FactoryValues TfrmFactory::values() const
{
    terminal::FactoryValues v;
    v.arcEnabled = chkArcEnabled->isChecked();
    v.arcNum = udArcNum->Position();
    v.arcTime = txtArcTime->text().toStdString();
    v.arcWait = txtArcWait->text().toStdString();
    v.arcRamp = txtArcRamp->text().toStdString();
    v.iset = chkIset->isChecked();
    return v;
}

void TfrmFactory::Fill(const terminal::FactoryFields& fields)
{
    const terminal::FactoryValues v = terminal::FillFactoryValues(fields, values());
    chkArcEnabled->setChecked(v.arcEnabled);
    // The up-down writes its position into the box even when it does not move, which
    // would replace a number typed there; without field 2 it is left alone.
    if (fields.count >= 2)
        udArcNum->setPosition(v.arcNum);
    txtArcTime->setText(QString::fromStdString(v.arcTime));
    txtArcWait->setText(QString::fromStdString(v.arcWait));
    txtArcRamp->setText(QString::fromStdString(v.arcRamp));
    chkIset->setChecked(v.iset);
}

void TfrmFactory::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow(this);
}

void TfrmFactory::keyPressEvent(QKeyEvent* event)
{
    // Only an Ok button or the close box closes the form: Escape has no Cancel to click.
    // The key arrives accepted, so it goes no further.
    if (event->matches(QKeySequence::Cancel))
        return;
    QDialog::keyPressEvent(event);
}

void TfrmFactory::FormShow(QObject*)
{
    ArcEnabledChanged = false;
    ArcTimeChanged = false;
    ArcNumChanged = false;
    ArcWaitChanged = false;
    ArcRampChanged = false;

    udArcTime->setPosition(terminal::StepPositionFor(txtArcTime->text().toStdString(), terminal::TimeSteps));
    udArcWait->setPosition(terminal::StepPositionFor(txtArcWait->text().toStdString(), terminal::TimeSteps));
    udArcRamp->setPosition(terminal::StepPositionFor(txtArcRamp->text().toStdString(), terminal::RampSteps));

    const platform::LocalTime now = platform::Now();
    txtDate->setText(QString::fromStdString(terminal::FactoryDateText(now)));
    txtTime->setText(QString::fromStdString(terminal::FactoryTimeText(now)));
}

void TfrmFactory::chkArcEnabledClick(QObject*) { ArcEnabledChanged = true; }
void TfrmFactory::txtArcNumChange(QObject*) { ArcNumChanged = true; }
void TfrmFactory::txtArcTimeChange(QObject*) { ArcTimeChanged = true; }
void TfrmFactory::txtArcWaitChange(QObject*) { ArcWaitChanged = true; }
void TfrmFactory::txtArcRampChange(QObject*) { ArcRampChanged = true; }

void TfrmFactory::stepClick(UpDown* ud, QLineEdit* edit, std::span<const double> steps)
{
    const int position = terminal::ClampStepPosition(ud->Position(), steps);
    if (position != ud->Position())
        ud->setPosition(position);
    const QString text = QString::fromStdString(terminal::FormatG(steps[static_cast<std::size_t>(position)]));
    if (text != edit->text())
        edit->setText(text);
}

void TfrmFactory::udArcTimeClick(QObject*, UpDown::Button) { stepClick(udArcTime, txtArcTime, terminal::TimeSteps); }
void TfrmFactory::udArcWaitClick(QObject*, UpDown::Button) { stepClick(udArcWait, txtArcWait, terminal::TimeSteps); }
void TfrmFactory::udArcRampClick(QObject*, UpDown::Button) { stepClick(udArcRamp, txtArcRamp, terminal::RampSteps); }

void TfrmFactory::send(const terminal::FactoryPlan& plan)
{
    {
        auto exchange = ActiveLink.exchange();
        terminal::SendFactoryCommands(exchange.port(), plan.commands);
    }
    for (const std::string& header : plan.refused)
        platform::ui::showMessage(QStringLiteral("%1 not sent: its text is too long.").arg(QString::fromStdString(header)));
    accept();
}

void TfrmFactory::btnArcOkClick(QObject*)
{
    terminal::ArcChanges arc;
    arc.enabledChanged = ArcEnabledChanged;
    arc.numChanged = ArcNumChanged;
    arc.timeChanged = ArcTimeChanged;
    arc.waitChanged = ArcWaitChanged;
    arc.rampChanged = ArcRampChanged;
    arc.enabled = chkArcEnabled->isChecked();
    arc.num = txtArcNum->text().toLatin1().toStdString();
    arc.time = txtArcTime->text().toLatin1().toStdString();
    arc.wait = txtArcWait->text().toLatin1().toStdString();
    arc.ramp = txtArcRamp->text().toLatin1().toStdString();
    send(terminal::ArcOkCommands(arc));
}

void TfrmFactory::btnLumetraOkClick(QObject*)
{
    send(terminal::LumetraOkCommands(chkIset->isChecked()));
}

void TfrmFactory::btnDateOkClick(QObject*)
{
    // The boxes only show the clock as it was at the show; the clock is read again.
    send(terminal::DateOkCommands(platform::Now()));
}
