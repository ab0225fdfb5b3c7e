#pragma once
#include <QDialog>

// The factory-settings dialog; created hidden at start, shown by the Factory button.
class TfrmFactory : public QDialog {
    Q_OBJECT
public:
    explicit TfrmFactory(QWidget* parent = nullptr);
};
