#include "factory.h"

TfrmFactory::TfrmFactory(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Factory Settings"));
}
