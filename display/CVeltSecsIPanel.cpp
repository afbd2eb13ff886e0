#include "CVeltSecsIPanel.h"

#include <QFormLayout>
#include <QLabel>

#include "CVeltSecsI.h"

CVeltSecsIPanel::CVeltSecsIPanel(CVeltSecsI* driver, QWidget* parent)
    : QWidget(parent), m_driver(driver), m_device(new QLabel(this)), m_speed(new QLabel(this)),
      m_mode(new QLabel(this)), m_state(new QLabel(this)) {
    auto* form = new QFormLayout(this);
    form->addRow(tr("Device:"), m_device);
    form->addRow(tr("Speed:"), m_speed);
    form->addRow(tr("Mode:"), m_mode);
    form->addRow(tr("Line:"), m_state);
    if (driver) {
        connect(driver, &CVeltSecsI::StateChanged, this, &CVeltSecsIPanel::Refresh);
        connect(driver, &QObject::destroyed, this, [this] {
            m_driver = nullptr;
            Refresh();
        });
    }
    Refresh();
}

void CVeltSecsIPanel::Refresh() {
    const CVeltSecsI* d = m_driver;
    if (d == nullptr) {
        m_device->clear();
        m_speed->clear();
        m_mode->clear();
        m_state->clear();
        return;
    }
    const QString name = d->GetDeviceName();
    m_device->setText(QStringLiteral("%1 (device ID %2)")
                          .arg(name.isEmpty() ? tr("no serial port") : name)
                          .arg(d->GetDevice()));
    m_speed->setText(d->GetDeviceName().startsWith(QStringLiteral("tcp:"))
                         ? tr("TCP")
                         : QStringLiteral("%1 baud").arg(d->GetBaud()));
    m_mode->setText(QStringLiteral("%1%2").arg(d->GetMasterMode() ? tr("Master") : tr("Slave"),
                                              d->GetMsecMode() ? tr(", MSEC") : QString()));
    m_state->setText(d->GetLineState());
}

QString CVeltSecsIPanel::DeviceText() const {
    return m_device->text();
}
QString CVeltSecsIPanel::SpeedText() const {
    return m_speed->text();
}
QString CVeltSecsIPanel::ModeText() const {
    return m_mode->text();
}
QString CVeltSecsIPanel::StateText() const {
    return m_state->text();
}
