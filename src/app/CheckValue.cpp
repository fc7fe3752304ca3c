#include "app/CheckValue.h"

#include <QCheckBox>

int checkValue(const QCheckBox* box)
{
    switch (box->checkState()) {
    case Qt::Checked:
        return kTicked;
    case Qt::PartiallyChecked:
        return kGrayed;
    case Qt::Unchecked:
        break;
    }
    return kUnticked;
}

void setCheckValue(QCheckBox* box, int value)
{
    box->setCheckState(value == kTicked ? Qt::Checked : Qt::Unchecked);
}
