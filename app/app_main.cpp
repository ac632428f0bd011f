#include "app_main.h"

#include "debug_log.h"
#include "mainpage.h"
#include "single_application.h"
#include "wireless_video_link.h"

#include <QDebug>
#include <QFile>
#include <QFont>
#include <QLocale>
#include <QTranslator>
#include <cstring>

void quorlan_init_resources()
{
    // The resources live in a static library; referencing them here keeps
    // the linker from dropping them.
    Q_INIT_RESOURCE(quorlan);
}

namespace {
const char kAppId[] = "korvend_version001";
const char kDemoAppId[] = "korvend_version001_simulated";
const char kRaiseMessage[] = "raise_window_noop";
constexpr int kMessageTimeoutMs = 5000;
} // namespace

QString style_sheet_text()
{
    QFile file(QStringLiteral(":/default_gray.qss"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray bytes = file.readAll();
    file.close();
    // The text ends at the first NUL byte, if any.
    const int nul = bytes.indexOf('\0');
    return QString::fromUtf8(nul < 0 ? bytes : bytes.left(nul));
}

void apply_tool_look(QApplication& app)
{
    quorlan_init_resources();
    QFont font;
    font.setPointSize(10);
    font.setFamily(QStringLiteral("Microsoft YaHei"));
    QApplication::setFont(font);
    app.setStyleSheet(style_sheet_text());
}

int run_application(int argc, char** argv, const std::function<void(MainPage*)>& started, bool simulated)
{
    quorlan_init_resources();
    SingleApplication app(QString::fromLatin1(simulated ? kDemoAppId : kAppId), argc, argv);
    if (app.isRunning()) {
        app.sendMessage(QString::fromLatin1(kRaiseMessage), kMessageTimeoutMs);
        return 0;
    }

    // Only the instance that runs keeps a log; a second start would only
    // add its own short life to it.
    if (!debuglog::install())
        qWarning().noquote() << "cannot write the debug log in" << debuglog::default_folder();

    apply_tool_look(app);

    // The start page owns the catalogue from here on, so that its
    // "English" button can take out the one chosen by the system language.
    QTranslator* translator = nullptr;
    if (QLocale().language() == QLocale::Chinese) {
        translator = new QTranslator;
        (void)translator->load(QStringLiteral(":/WirelessVideo_CH.qm"));
        QCoreApplication::installTranslator(translator);
    }

    int result;
    {
        MainPage page;
        page.adopt_translator(translator);
        if (simulated)
            page.mark_simulated();
        app.setActivationWindow(&page, true);
        app.setActivationWindow(page.main_window(), true);
        page.show();
        if (started)
            started(&page);
        result = app.exec();
    }
    debuglog::uninstall();
    return result;
}
