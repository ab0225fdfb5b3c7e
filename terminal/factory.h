#pragma once
// The factory-settings dialog: arc management, the Iset option, date and time with
// a factory reset. Created hidden at start; the main window's Factory button fills
// and shows it.
#include "factoryrules.h"
#include "updown.h"

#include <QDialog>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TfrmFactory : public QDialog {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 590;
    static constexpr int ClientHeight = 294;
    static constexpr int ScreenLeft = 492;
    static constexpr int ScreenTop = 359;

    explicit TfrmFactory(QWidget* parent = nullptr);

    // The controls' values as plain values, and the fill from a parsed answer
    // (fields the answer lacks leave their controls alone).
    terminal::FactoryValues values() const;
    void Fill(const terminal::FactoryFields& fields);

    QGroupBox* grpArcParameter;
    QLineEdit* txtArcTime;
    QLineEdit* txtArcNum;
    QLineEdit* txtArcWait;
    QLineEdit* txtArcRamp;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QCheckBox* chkArcEnabled;
    QPushButton* btnArcOk;
    QGroupBox* grpLumetra;
    QCheckBox* chkIset;
    QPushButton* btnLumetraOk;
    QGroupBox* grpDateTime;
    QPushButton* btnDateOk;
    QLineEdit* txtDate;
    QLineEdit* txtTime;
    UpDown* udArcNum;
    UpDown* udArcTime;
    UpDown* udArcWait;
    UpDown* udArcRamp;

public slots:
    void FormShow(QObject* sender);
    void chkArcEnabledClick(QObject* sender);
    void txtArcNumChange(QObject* sender);
    void txtArcTimeChange(QObject* sender);
    void txtArcWaitChange(QObject* sender);
    void txtArcRampChange(QObject* sender);
    void udArcTimeClick(QObject* sender, UpDown::Button button);
    void udArcWaitClick(QObject* sender, UpDown::Button button);
    void udArcRampClick(QObject* sender, UpDown::Button button);
    void btnArcOkClick(QObject* sender);
    void btnLumetraOkClick(QObject* sender);
    void btnDateOkClick(QObject* sender);

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildControls();
    void stepClick(UpDown* ud, QLineEdit* edit, std::span<const double> steps);
    void send(const terminal::FactoryPlan& plan);

    bool ArcEnabledChanged = false;
    bool ArcTimeChanged = false;
    bool ArcNumChanged = false;
    bool ArcWaitChanged = false;
    bool ArcRampChanged = false;
};
