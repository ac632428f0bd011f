// Link encryption: the form's requests become vendor requests. The key is
// never kept; it goes from the form to the unit.
#include "wireless_video_link.h"

#include "request_codes.h"
#include "setting_payloads.h"

#include <QDebug>
#include <QMessageBox>

namespace {
constexpr int kEncryptSettleMs = 2000;
}

void Wireless_Video_Link::on_set_encrypt_key(QString key)
{
    switch (payload::check_key(key)) {
    case payload::KeyCheck::BadLength:
        // The form only sends 16 or 32 characters; a key of another length
        // has no mode and is not sent.
        qDebug() << "key length invalid";
        return;
    case payload::KeyCheck::BadCharacter:
        // The unit takes one byte per character; anything beyond printable
        // ASCII would become other bytes than the user typed.
        qDebug() << "key character invalid";
        QMessageBox::warning(nullptr, tr("warning"),
                             tr("The key may only contain printable ASCII characters"),
                             QMessageBox::Yes, QMessageBox::Yes);
        return;
    case payload::KeyCheck::Ok:
        break;
    }
    const auto data = payload::encryption_key(key);
    send_set_command(data.data(), uint16_t(data.size()), req::EncryptKey, QStringLiteral("encrypmt key"),
                     true, kEncryptSettleMs);
}

void Wireless_Video_Link::on_set_encrypt_enable(bool on)
{
    if (!on) {
        const unsigned char off = 0;
        send_set_command(&off, 1, req::EncryptEnable, QStringLiteral("disable encry"), true,
                         kEncryptSettleMs);
        return;
    }
    // Enabling is done by the key request that follows. The form itself
    // holds the user's choice against the unit's report, so the live
    // display goes on meanwhile.
}
