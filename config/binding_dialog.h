// The pairing dialog: follows the bound state while the units pair.
#pragma once

#include <QDialog>

struct libusb_device_handle;

class Binding_Dialog : public QDialog
{
    Q_OBJECT
public:
    explicit Binding_Dialog(QWidget* parent = nullptr);

    void set_dev_handle(libusb_device_handle* handle) { dev_handle = handle; }
    libusb_device_handle* current_dev_handle() const { return dev_handle; }

private:
    libusb_device_handle* dev_handle = nullptr;
};
