#ifndef ENCRY_FORM_H
#define ENCRY_FORM_H

#include <QElapsedTimer>
#include <QWidget>

namespace Ui {
class Encry_Form;
}

// The Configure page's link encryption panel: choose AES-128 or AES-256,
// type the key and send it. The form only validates the key length; the
// main window turns set_encry() into the device request.
class Encry_Form : public QWidget
{
    Q_OBJECT

public:
    explicit Encry_Form(QWidget *parent = nullptr);
    ~Encry_Form() override;

signals:
    void set_encry(QString key);
    void enable_encry(bool);
    void change_encry_mode();

public slots:
    void set_encry_status(bool);
    void set_encry_mode(int mode);
    void on_checkBox_encry_stateChanged(int);
    void on_radioButton_AES128_clicked();
    void on_radioButton_AES256_clicked();
    void on_pushButton_encry_clicked();
    void on_checkBox_encry_clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    // Makes the key field editable and limits it to the given length.
    void apply_key_length(quint8 length);
    void show_key_count();
    void retranslate_extras();
    class QCheckBox* show_key = nullptr;
    class QLabel* key_count = nullptr;

    Ui::Encry_Form *ui;
    // Characters the key must have: 16 (AES128), 32 (AES256), 0 = no mode yet.
    quint8 key_length = 0;
    // Since the user chose a mode here (invalid: no pending choice).
    QElapsedTimer user_choice;
    static constexpr qint64 kChoiceHoldMs = 60000;
};

#endif // ENCRY_FORM_H
