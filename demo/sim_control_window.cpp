#include "sim_control_window.h"
#include "ui_sim_control_window.h"

#include <QEvent>
#include <iterator>

#include "sim_bus.h"
#include "upgrade_control.h"

#include <QDir>
#include <QMenu>
#include <QSaveFile>
#include <QSignalBlocker>
#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

using Target = sim::SimUpgrade::Target;

constexpr int kSliderSteps = 1000;
constexpr int kRefreshMs = 300;
constexpr int kHighestModel = 28; // one past the known models: a model the tool does not know
constexpr int kHighestVariant = 6;

// What the presets and the window start with.
constexpr double kNearMetres = 300.0;
// Far enough that the 2.4 GHz downlink loses a tenth of its blocks at the
// factory power and rate, near enough that the link holds.
constexpr double kWeakMetres = 17000.0;

// Baseband (FPGA) versions of the two firmware generations.
constexpr uint32_t kBasebandExtended = 0x020304;
constexpr uint32_t kBasebandBasic = 0x010207;
const char kHi3798Version[] = "V1.0.5";

// The restart timing the simulated unit has by default.
constexpr std::chrono::milliseconds kRestartOff{50};
constexpr std::chrono::milliseconds kRestartBack{500};

QString modelText(int model)
{
    struct Row { int band; int power; };
    // Band and transmit power the tool gives each group of four models.
    static const Row rows[] = {{24, 28}, {14, 28}, {14, 33}, {58, 28}, {14, 30}, {25, 33}, {24, 33}};
    if (model < 0 || model > 27)
        return SimControlWindow::tr("Model %1: unknown to the tool").arg(model);
    const Row& r = rows[model / 4];
    return SimControlWindow::tr("Model %1: %2 GHz, %3 dBm")
        .arg(model)
        .arg(QString::number(r.band / 10.0, 'f', 1))
        .arg(r.power);
}

QString distanceText(double metres)
{
    if (metres < 1000.0)
        return QStringLiteral("%1 m").arg(std::lround(metres));
    return QStringLiteral("%1 km").arg(QString::number(metres / 1000.0, 'f', metres < 10000.0 ? 2 : 1));
}

QString rssiText(uint8_t n)
{
    return n == 0xFF ? SimControlWindow::tr("nothing") : QStringLiteral("-%1 dBm").arg(n);
}

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The parts an upgrade step can fail on, as the unit knows them.
QList<Target> targetsFor(SimControlWindow::UpgradeFault step)
{
    QList<Target> out;
    for (int i = 0; i < sim::SimUpgrade::TargetCount; ++i) {
        const auto t = static_cast<Target>(i);
        switch (step) {
        case SimControlWindow::EraseNeverDone:
            if (sim::SimUpgrade::eraseDoneBit(t) >= 0)
                out << t;
            break;
        case SimControlWindow::ProgramFails:
            if (sim::SimUpgrade::programFailedBit(t) >= 0)
                out << t;
            break;
        case SimControlWindow::CheckRefused:
            if (t == Target::Mcu1 || t == Target::Fpga || t == Target::Mcu2 || t == Target::Hi3798)
                out << t;
            break;
        default:
            break;
        }
    }
    return out;
}

} // namespace

bool SimControlWindow::Identity::operator==(const Identity& o) const
{
    return air == o.air && model == o.model && extended == o.extended && variant == o.variant
           && hi3798 == o.hi3798;
}

SimControlWindow::SimControlWindow(std::shared_ptr<sim::SimUnit> unit, QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::SimControlWindow)
    , m_unit(unit ? std::move(unit) : std::make_shared<sim::SimUnit>())
{
    ui->setupUi(this);
    buildLists();

    m_replug.setSingleShot(true);
    m_replug.setInterval(kReplugDelayMs);
    connect(&m_replug, &QTimer::timeout, this, &SimControlWindow::replugNow);
    m_refresh.setInterval(kRefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, &SimControlWindow::refresh);

    // The window starts on the everyday case, unplugged.
    configureUnit();
    m_unit->link().setAirDistance(kNearMetres);
    {
        const QSignalBlocker block(ui->horizontalSlider_distance);
        ui->horizontalSlider_distance->setValue(sliderForDistance(kNearMetres));
    }
    showIdentity();
    connectControls();
    refresh();
    m_refresh.start();
}

SimControlWindow::~SimControlWindow()
{
    delete ui;
}

std::shared_ptr<sim::SimDevice> SimControlWindow::device() const
{
    // Looked up every time: the unit's own restart re-plugs it as a new
    // device.
    for (const auto& dev : sim::VirtualBus::instance().devices())
        if (dev->plugged() && dev->unitPtr() == m_unit)
            return dev;
    return nullptr;
}

QString SimControlWindow::presetName(Preset preset)
{
    switch (preset) {
    case HealthyGround24: return tr("2.4 GHz ground unit, healthy link");
    case WeakLink: return tr("weak link");
    case AirUnit: return tr("air unit attached");
    case Ground58: return tr("5.8 GHz");
    case RejectsSettings: return tr("unit rejects settings");
    case OldFirmware: return tr("old firmware");
    }
    return QString();
}

QString SimControlWindow::serialFor(const Identity& id)
{
    const int band = sim::bandForModel(id.model);
    return QStringLiteral("QL%1%2%3")
        .arg(band, 2, 10, QLatin1Char('0'))
        .arg(id.air ? QLatin1Char('A') : QLatin1Char('G'))
        .arg(QStringLiteral("0000001"));
}

uint32_t SimControlWindow::mcu2VersionFor(const Identity& id)
{
    // Bits 12..15: the unit (3 ground, 2 air; both offer the datalink
    // choice). Bits 8..11 and 4..7: extended firmware has 4.4, basic 2.1.
    const uint32_t unitNibble = id.air ? 2 : 3;
    const uint32_t middle = id.extended ? 0x44 : 0x21;
    return unitNibble << 12 | middle << 4;
}

int SimControlWindow::sliderForDistance(double metres)
{
    const double d = std::clamp(metres, kMinDistance, kMaxDistance);
    return int(std::lround(kSliderSteps * std::log(d / kMinDistance) / std::log(kMaxDistance / kMinDistance)));
}

double SimControlWindow::distanceForSlider(int value)
{
    const double f = std::clamp(value, 0, kSliderSteps) / double(kSliderSteps);
    return kMinDistance * std::pow(kMaxDistance / kMinDistance, f);
}

void SimControlWindow::buildLists()
{
    ui->comboBox_unit_type->addItem(tr("Ground unit"));
    ui->comboBox_unit_type->addItem(tr("Air unit"));
    for (int m = 0; m <= kHighestModel; ++m)
        ui->comboBox_model->addItem(modelText(m), m);
    ui->comboBox_generation->addItem(tr("Extended"));
    ui->comboBox_generation->addItem(tr("Basic"));
    for (int v = 0; v <= kHighestVariant; ++v)
        ui->comboBox_variant->addItem(tr("Variant %1").arg(v), v);

    // In the order of the fault steps; retranslateLists() names them.
    for (UpgradeFault step : {Nowhere, EraseNeverDone, ProgramFails, CheckRefused, ProcessorNeverReady,
                              FifoStaysBusy, Hi3798ResultNeverComes, Mcu2NeverBack})
        ui->comboBox_upgrade_step->addItem(QString(), int(step));
    retranslateLists();
    fillTargets(Nowhere);

    ui->horizontalSlider_distance->setRange(0, kSliderSteps);
    ui->horizontalSlider_distance->setPageStep(kSliderSteps / 20);
}

void SimControlWindow::retranslateLists()
{
    ui->comboBox_unit_type->setItemText(0, tr("Ground unit"));
    ui->comboBox_unit_type->setItemText(1, tr("Air unit"));
    for (int i = 0; i < ui->comboBox_model->count(); ++i)
        ui->comboBox_model->setItemText(i, modelText(ui->comboBox_model->itemData(i).toInt()));
    ui->comboBox_generation->setItemText(0, tr("Extended"));
    ui->comboBox_generation->setItemText(1, tr("Basic"));
    for (int i = 0; i < ui->comboBox_variant->count(); ++i)
        ui->comboBox_variant->setItemText(i, tr("Variant %1").arg(ui->comboBox_variant->itemData(i).toInt()));
    static const char* const steps[] = {
        QT_TR_NOOP("Nowhere"),
        QT_TR_NOOP("Erase never finishes"),
        QT_TR_NOOP("Programming reports a failure"),
        QT_TR_NOOP("Data check refused"),
        QT_TR_NOOP("Video processor never ready"),
        QT_TR_NOOP("Data FIFO stays busy"),
        QT_TR_NOOP("HI3798 result never comes"),
        QT_TR_NOOP("MCU2 gone after its restart"),
    };
    for (int i = 0; i < ui->comboBox_upgrade_step->count() && i < int(std::size(steps)); ++i)
        ui->comboBox_upgrade_step->setItemText(i, tr(steps[i]));
    if (QMenu* samples = ui->pushButton_sample_image->menu()) {
        const QList<QAction*> actions = samples->actions();
        actions.value(0)->setText(tr("An image the tool takes (MCU1 and FPGA)…"));
        actions.value(1)->setText(tr("An image the tool refuses (cut short)…"));
    }
}

void SimControlWindow::changeEvent(QEvent* event)
{
    // The tool's language switch reaches this window too.
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        retranslateLists();
        fillTargets(UpgradeFault(ui->comboBox_upgrade_step->currentData().toInt()));
        refresh();
    }
    QWidget::changeEvent(event);
}

void SimControlWindow::connectControls()
{
    const struct { QPushButton* button; Preset preset; } presets[] = {
        {ui->pushButton_preset_healthy, HealthyGround24}, {ui->pushButton_preset_weak, WeakLink},
        {ui->pushButton_preset_air, AirUnit},             {ui->pushButton_preset_58, Ground58},
        {ui->pushButton_preset_rejects, RejectsSettings}, {ui->pushButton_preset_old, OldFirmware},
    };
    for (const auto& p : presets) {
        const Preset preset = p.preset;
        connect(p.button, &QPushButton::clicked, this, [this, preset] { applyPreset(preset); });
    }

    connect(ui->pushButton_plug, &QPushButton::clicked, this, [this] {
        if (isPlugged() || m_replug.isActive())
            unplug();
        else
            plugIn();
    });

    for (QComboBox* box : {ui->comboBox_unit_type, ui->comboBox_model, ui->comboBox_generation,
                           ui->comboBox_variant})
        connect(box, QOverload<int>::of(&QComboBox::activated), this, &SimControlWindow::identityEdited);
    connect(ui->checkBox_hi3798, &QCheckBox::toggled, this, &SimControlWindow::identityEdited);

    connect(ui->horizontalSlider_distance, &QSlider::valueChanged, this,
            [this](int value) { setDistance(distanceForSlider(value)); });
    connect(ui->checkBox_peer_present, &QCheckBox::toggled, this,
            [this](bool on) { m_unit->link().setPeerPresent(on); refresh(); });
    connect(ui->checkBox_peer_pairs, &QCheckBox::toggled, this,
            [this](bool on) { m_unit->link().setPeerPairs(on); });
    connect(ui->pushButton_pair, &QPushButton::clicked, this, &SimControlWindow::pressPairButton);

    connect(ui->pushButton_reject_next, &QPushButton::clicked, this,
            [this] { m_unit->link().rejectNextSettings(1); });
    connect(ui->pushButton_ignore_next, &QPushButton::clicked, this,
            [this] { m_unit->link().ignoreNextSettings(1); });
    connect(ui->checkBox_reject_all, &QCheckBox::toggled, this, [this](bool on) {
        m_unit->link().clearSettingFaults();
        if (on)
            m_unit->link().rejectNextSettings(-1);
    });
    connect(ui->pushButton_accept, &QPushButton::clicked, this, [this] {
        {
            const QSignalBlocker block(ui->checkBox_reject_all);
            ui->checkBox_reject_all->setChecked(false);
        }
        m_unit->link().clearSettingFaults();
    });

    connect(ui->comboBox_upgrade_step, QOverload<int>::of(&QComboBox::activated), this,
            &SimControlWindow::upgradeStepEdited);
    connect(ui->comboBox_upgrade_target, QOverload<int>::of(&QComboBox::activated), this,
            &SimControlWindow::upgradeStepEdited);

    // The two sample images, named by retranslateLists().
    auto* samples = new QMenu(ui->pushButton_sample_image);
    for (const bool refused : {false, true})
        connect(samples->addAction(QString()), &QAction::triggered, this, [this, refused] { saveSampleImage(refused); });
    ui->pushButton_sample_image->setMenu(samples);
    retranslateLists();
}

// ------------------------------------------------------------ USB

void SimControlWindow::plugIn()
{
    m_replug.stop();
    if (!isPlugged())
        sim::VirtualBus::instance().plug(m_unit);
    refresh();
}

void SimControlWindow::unplug()
{
    m_replug.stop();
    // The unit may have been plugged more than once by hand; pull it out
    // wherever it is.
    for (const auto& dev : sim::VirtualBus::instance().devices())
        if (dev->unitPtr() == m_unit)
            sim::VirtualBus::instance().unplug(dev);
    refresh();
}

void SimControlWindow::replugNow()
{
    if (!isPlugged())
        sim::VirtualBus::instance().plug(m_unit);
    refresh();
}

// ------------------------------------------------------------ identity

void SimControlWindow::setIdentity(const Identity& id)
{
    const bool changed = id != m_identity;
    m_identity = id;
    showIdentity();
    if (!changed)
        return;
    if (isPlugged() || m_replug.isActive()) {
        // A different unit: off the bus, new records, back after a pause
        // the tool's watcher cannot miss.
        unplug();
        configureUnit();
        m_replug.start();
        refresh();
    } else {
        configureUnit();
    }
}

void SimControlWindow::identityEdited()
{
    Identity id;
    id.air = ui->comboBox_unit_type->currentIndex() == 1;
    id.model = ui->comboBox_model->currentData().toInt();
    id.extended = ui->comboBox_generation->currentIndex() == 0;
    id.variant = ui->comboBox_variant->currentData().toInt();
    id.hi3798 = ui->checkBox_hi3798->isChecked();
    setIdentity(id);
}

void SimControlWindow::configureUnit()
{
    const Identity& id = m_identity;
    const QByteArray serial = serialFor(id).toLatin1();
    // MCU1 version: variant.2.3 for extended firmware, variant.0.2 for basic.
    const int minor = id.extended ? 2 : 0;
    const int patch = id.extended ? 3 : 2;
    m_unit->setModelIndex(id.model);
    m_unit->configure(id.air ? sim::SimUnit::AirUnit : sim::SimUnit::GroundUnit, serial.constData(),
                      id.extended ? kBasebandExtended : kBasebandBasic, id.variant, minor, patch,
                      mcu2VersionFor(id));
    m_unit->setHi3798Version(id.hi3798 ? kHi3798Version : "");
}

void SimControlWindow::showIdentity()
{
    const Identity& id = m_identity;
    for (QComboBox* box : {ui->comboBox_unit_type, ui->comboBox_model, ui->comboBox_generation,
                           ui->comboBox_variant})
        box->blockSignals(true);
    ui->comboBox_unit_type->setCurrentIndex(id.air ? 1 : 0);
    ui->comboBox_model->setCurrentIndex(ui->comboBox_model->findData(id.model));
    ui->comboBox_generation->setCurrentIndex(id.extended ? 0 : 1);
    ui->comboBox_variant->setCurrentIndex(ui->comboBox_variant->findData(id.variant));
    for (QComboBox* box : {ui->comboBox_unit_type, ui->comboBox_model, ui->comboBox_generation,
                           ui->comboBox_variant})
        box->blockSignals(false);
    {
        const QSignalBlocker block(ui->checkBox_hi3798);
        ui->checkBox_hi3798->setChecked(id.hi3798);
    }

    const int minor = id.extended ? 2 : 0;
    const int patch = id.extended ? 3 : 2;
    ui->label_identity->setText(tr("SN %1, firmware %2.%3.%4\nMCU2 word 0x%5, baseband %6")
                                    .arg(serialFor(id))
                                    .arg(id.variant)
                                    .arg(minor)
                                    .arg(patch)
                                    .arg(mcu2VersionFor(id), 4, 16, QLatin1Char('0'))
                                    .arg(id.extended ? kBasebandExtended : kBasebandBasic, 0, 16));
}

// ------------------------------------------------------------ presets

void SimControlWindow::applyPreset(Preset preset)
{
    Identity id;
    double distance = kNearMetres;
    bool rejectAll = false;
    switch (preset) {
    case HealthyGround24: break;
    case WeakLink: distance = kWeakMetres; break;
    case AirUnit: id.air = true; break;
    case Ground58: id.model = 12; break;
    case RejectsSettings: rejectAll = true; break;
    case OldFirmware: id.extended = false; break;
    }

    sim::SimLink& link = m_unit->link();
    link.releaseMeasurements();
    link.setPeerPresent(true);
    link.setPeerPairs(true);
    if (link.bindByte() != 1)
        link.setBindByte(1); // paired, as a unit leaves the factory
    link.clearSettingFaults();
    if (rejectAll)
        link.rejectNextSettings(-1);
    setDistance(distance);
    setUpgradeFault(Nowhere, -1);
    {
        const QSignalBlocker b1(ui->checkBox_peer_present);
        const QSignalBlocker b2(ui->checkBox_peer_pairs);
        const QSignalBlocker b3(ui->checkBox_reject_all);
        ui->checkBox_peer_present->setChecked(true);
        ui->checkBox_peer_pairs->setChecked(true);
        ui->checkBox_reject_all->setChecked(rejectAll);
    }

    setIdentity(id);
    // A preset is something to look at: the unit is on the bus (or about
    // to come back to it).
    if (!isPlugged() && !m_replug.isActive())
        plugIn();
    refresh();
}

// ------------------------------------------------------------ link

void SimControlWindow::setDistance(double metres)
{
    const double d = std::clamp(metres, kMinDistance, kMaxDistance);
    m_unit->link().setAirDistance(d);
    {
        const QSignalBlocker block(ui->horizontalSlider_distance);
        ui->horizontalSlider_distance->setValue(sliderForDistance(d));
    }
    ui->label_distance->setText(distanceText(d));
    refresh();
}

void SimControlWindow::pressPairButton()
{
    m_unit->link().pressPairButton();
    refresh();
}

// ------------------------------------------------------------ upgrade

void SimControlWindow::fillTargets(UpgradeFault step)
{
    const QSignalBlocker block(ui->comboBox_upgrade_target);
    const int previous = ui->comboBox_upgrade_target->currentData().isValid()
                             ? ui->comboBox_upgrade_target->currentData().toInt()
                             : -1;
    ui->comboBox_upgrade_target->clear();
    const QList<Target> targets = targetsFor(step);
    for (Target t : targets)
        ui->comboBox_upgrade_target->addItem(QString::fromLatin1(sim::SimUpgrade::targetName(t)), int(t));
    if (targets.isEmpty())
        ui->comboBox_upgrade_target->addItem(tr("(not needed)"));
    const int keep = ui->comboBox_upgrade_target->findData(previous);
    if (keep >= 0)
        ui->comboBox_upgrade_target->setCurrentIndex(keep);
    ui->comboBox_upgrade_target->setEnabled(!targets.isEmpty());
}

void SimControlWindow::upgradeStepEdited()
{
    const auto step = static_cast<UpgradeFault>(ui->comboBox_upgrade_step->currentData().toInt());
    fillTargets(step);
    const QVariant target = ui->comboBox_upgrade_target->currentData();
    setUpgradeFault(step, target.isValid() ? target.toInt() : -1);
}

void SimControlWindow::clearUpgradeFault()
{
    sim::SimUpgrade& up = m_unit->upgrade();
    const auto t = static_cast<Target>(m_faultTarget);
    switch (m_fault) {
    case Nowhere: break;
    case EraseNeverDone: up.setEraseInquiries(t, 1); break;
    case ProgramFails: up.failProgramAtTransfer(t, -1); break;
    case CheckRefused: up.rejectCheck(t, false); break;
    case ProcessorNeverReady: up.setPreparationInquiries(1); break;
    case FifoStaysBusy: up.setFifoBusyInquiries(0); break;
    case Hi3798ResultNeverComes: up.setResultInquiries(1); break;
    case Mcu2NeverBack: up.setRestartTiming(kRestartOff, kRestartBack, true); break;
    }
    m_fault = Nowhere;
    m_faultTarget = -1;
}

void SimControlWindow::setUpgradeFault(UpgradeFault step, int target)
{
    clearUpgradeFault();
    const QList<Target> targets = targetsFor(step);
    const bool needsTarget = step == EraseNeverDone || step == ProgramFails || step == CheckRefused;
    if (needsTarget && !targets.contains(static_cast<Target>(target)))
        step = Nowhere; // no such part for this step

    sim::SimUpgrade& up = m_unit->upgrade();
    const auto t = static_cast<Target>(target);
    switch (step) {
    case Nowhere: break;
    case EraseNeverDone: up.setEraseInquiries(t, sim::SimUpgrade::kNever); break;
    case ProgramFails: up.failProgramAtTransfer(t, 0); break;
    case CheckRefused: up.rejectCheck(t, true); break;
    case ProcessorNeverReady: up.setPreparationInquiries(sim::SimUpgrade::kNever); break;
    case FifoStaysBusy: up.setFifoBusyInquiries(sim::SimUpgrade::kNever); break;
    case Hi3798ResultNeverComes: up.setResultInquiries(sim::SimUpgrade::kNever); break;
    case Mcu2NeverBack: up.setRestartTiming(kRestartOff, kRestartBack, false); break;
    }
    m_fault = step;
    m_faultTarget = needsTarget && step != Nowhere ? target : -1;

    {
        const QSignalBlocker block(ui->comboBox_upgrade_step);
        ui->comboBox_upgrade_step->setCurrentIndex(ui->comboBox_upgrade_step->findData(int(step)));
    }
    fillTargets(step);
    if (m_faultTarget >= 0) {
        const QSignalBlocker block(ui->comboBox_upgrade_target);
        ui->comboBox_upgrade_target->setCurrentIndex(ui->comboBox_upgrade_target->findData(m_faultTarget));
    }
    if (step == Nowhere)
        ui->label_upgrade->setText(tr("Upgrades run through."));
    else if (m_faultTarget >= 0)
        ui->label_upgrade->setText(tr("Every upgrade fails here (%1)\nuntil this is set back to \"Nowhere\".")
                                       .arg(QString::fromLatin1(sim::SimUpgrade::targetName(t))));
    else
        ui->label_upgrade->setText(tr("Every upgrade fails here\nuntil this is set back to \"Nowhere\"."));
}

bool SimControlWindow::saveSampleImage(bool refused)
{
    const QString suggested = QDir::home().filePath(refused ? QStringLiteral("quorlan_sample_refused.bin")
                                                            : QStringLiteral("quorlan_sample.bin"));
    const QString path = upgrade_ui::save_file_function()(this, tr("Save sample image"), suggested,
                                                          tr("Images (*.bin *.hex)"));
    if (path.isEmpty())
        return false;
    const QByteArray bytes = upgrade_ui::sample_image(refused);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        ui->label_sample_image->setText(tr("Not saved: %1").arg(file.errorString()));
        return false;
    }
    ui->label_sample_image->setText(tr("Saved %1.\nChoose it on the Update page.").arg(QDir::toNativeSeparators(path)));
    return true;
}

// ------------------------------------------------------------ readouts

void SimControlWindow::refresh()
{
    const bool plugged = isPlugged();
    if (plugged)
        ui->label_plug_state->setText(tr("Plugged in (%1)").arg(m_identity.air ? tr("air unit") : tr("ground unit")));
    else if (m_replug.isActive())
        ui->label_plug_state->setText(tr("Swapping the unit..."));
    else
        ui->label_plug_state->setText(tr("Unplugged"));
    ui->pushButton_plug->setText(plugged || m_replug.isActive() ? tr("Unplug") : tr("Plug in"));
    if (plugged != m_lastPlugged) {
        m_lastPlugged = plugged;
        emit plugStateChanged(plugged);
    }

    const sim::SimLink& link = m_unit->link();
    const double metres = link.airDistance();
    ui->label_distance->setText(distanceText(metres));
    const auto st = link.devStatus();
    QString text;
    if (link.pairingActive())
        text = tr("Pairing...");
    else if (link.linkUp())
        text = tr("Link up on %1 MHz.\nGround unit hears %2 (SNR %3 dB).\nAir unit hears %4 (SNR %5 dB).")
                   .arg(le32(st.data()))
                   .arg(rssiText(st[32]))
                   .arg(st[30])
                   .arg(rssiText(st[35]))
                   .arg(st[33]);
    else if (link.bindByte() != 1)
        text = tr("Link down: the units are not paired.");
    else if (!link.peerPresent())
        text = tr("Link down: the peer unit is off or out of reach.");
    else
        text = tr("Link down: too far apart.");
    ui->label_link->setText(text);

    const auto log = link.settingLog();
    if (log.empty()) {
        ui->label_last_setting->setText(tr("No setting received yet."));
    } else {
        const auto& e = log.back();
        QString answer;
        switch (e.status) {
        case sim::kCmdDone: answer = tr("done"); break;
        case sim::kCmdFailed: answer = tr("rejected"); break;
        case sim::kCmdNotDone: answer = tr("ignored"); break;
        default: answer = tr("answered 0x%1").arg(e.status, 2, 16, QLatin1Char('0')); break;
        }
        const QString code = QString::number(e.request, 16).toUpper().rightJustified(2, QLatin1Char('0'));
        ui->label_last_setting->setText(tr("Last setting: request 0x%1, %2.").arg(code, answer));
    }
}
