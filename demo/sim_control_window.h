// The "Simulated unit" window: a trainer's or tester's remote control for
// the simulated unit behind the tool. It plugs and unplugs the unit, swaps
// what is attached (a new identity is a new unit: it is re-plugged), moves
// the peer nearer or farther, works the pairing button and makes settings
// and upgrades fail, and saves sample images to try an upgrade with. It
// talks to the unit only through the simulator's own thread-safe API, so the
// tool's threads may use the bus meanwhile.
#pragma once

#include <QTimer>
#include <QWidget>
#include <memory>

namespace sim {
class SimDevice;
class SimUnit;
} // namespace sim

namespace Ui {
class SimControlWindow;
}

class SimControlWindow : public QWidget
{
    Q_OBJECT

public:
    enum Preset {
        HealthyGround24, // "2.4 GHz ground unit, healthy link"
        WeakLink,        // the same unit, the peer far away
        AirUnit,         // an air unit on the USB port
        Ground58,        // a 5.8 GHz ground unit
        RejectsSettings, // every setting answered "failed"
        OldFirmware,     // basic firmware generation, old MCU1 version
    };
    Q_ENUM(Preset)

    // What is attached, as the control window describes it. The identity
    // records are built from it.
    struct Identity
    {
        bool air = false;
        int model = 0;        // model index of the software record, 0..28
        bool extended = true; // firmware generation, from the MCU2 version word
        int variant = 1;      // hardware variant = first number of the MCU1 version
        bool hi3798 = false;  // the unit reports an HI3798 version text

        bool operator==(const Identity& o) const;
        bool operator!=(const Identity& o) const { return !(*this == o); }
    };

    // Where the next upgrades fail (until set back to Nowhere).
    enum UpgradeFault {
        Nowhere,
        EraseNeverDone,
        ProgramFails,
        CheckRefused,
        ProcessorNeverReady,
        FifoStaysBusy,
        Hi3798ResultNeverComes,
        Mcu2NeverBack,
    };
    Q_ENUM(UpgradeFault)

    // Distances the slider covers, metres.
    static constexpr double kMinDistance = 10.0;
    static constexpr double kMaxDistance = 50000.0;
    // How long a swapped unit stays off the bus: long enough for the
    // tool's watcher (one scan per 100 ms) to see it go.
    static constexpr int kReplugDelayMs = 600;

    // Controls `unit` (a new unit when null), which it sets up as the
    // "2.4 GHz ground unit, healthy link" without plugging it in.
    explicit SimControlWindow(std::shared_ptr<sim::SimUnit> unit = nullptr, QWidget* parent = nullptr);
    ~SimControlWindow() override;

    std::shared_ptr<sim::SimUnit> unit() const { return m_unit; }
    // The unit's place on the virtual bus; null while unplugged.
    std::shared_ptr<sim::SimDevice> device() const;
    bool isPlugged() const { return device() != nullptr; }
    Identity identity() const { return m_identity; }
    Ui::SimControlWindow* form() const { return ui; }

    static QString presetName(Preset preset);

    // The texts and records an identity stands for.
    static QString serialFor(const Identity& id);
    static uint32_t mcu2VersionFor(const Identity& id);

    // Slider position <-> metres (logarithmic).
    static int sliderForDistance(double metres);
    static double distanceForSlider(int value);

public slots:
    void plugIn();
    void unplug();
    void applyPreset(Preset preset);
    // A changed identity on a plugged unit re-plugs it.
    void setIdentity(const Identity& id);
    void setDistance(double metres);
    void pressPairButton();
    void setUpgradeFault(UpgradeFault step, int target);
    // Asks where, then writes a sample image for the Update page: one the
    // tool takes (MCU1 and FPGA), or, `refused`, one it refuses. False when
    // cancelled or not written (the window says why).
    bool saveSampleImage(bool refused);

signals:
    void plugStateChanged(bool plugged);

protected:
    void changeEvent(QEvent* event) override;

private:
    void buildLists();
    // The lists' texts in the current language (their order and data stay).
    void retranslateLists();
    void connectControls();
    void identityEdited();
    void upgradeStepEdited();
    void fillTargets(UpgradeFault step);
    void showIdentity();
    void configureUnit();
    void clearUpgradeFault();
    void replugNow();
    void refresh();

    Ui::SimControlWindow* ui = nullptr;
    std::shared_ptr<sim::SimUnit> m_unit;
    Identity m_identity;
    QTimer m_replug;  // brings a swapped unit back
    QTimer m_refresh; // keeps the readouts current
    bool m_lastPlugged = false;
    UpgradeFault m_fault = Nowhere;
    int m_faultTarget = -1;
};
