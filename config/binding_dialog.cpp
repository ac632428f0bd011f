#include "binding_dialog.h"

Binding_Dialog::Binding_Dialog(QWidget* parent)
    : QDialog(parent)
{
}
