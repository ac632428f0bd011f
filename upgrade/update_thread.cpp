#include "update_thread.h"

updateThread::updateThread(QObject* parent)
    : QThread(parent)
{
}

void updateThread::run()
{
    emit isdone();
}
