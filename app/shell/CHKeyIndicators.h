#pragma once
// The status bar's "CAP", "NUM" and "SCRL" panes: each shows its text while
// its lock key is on and stays empty (at the same width) while it is off.
// They follow the keyboard at every key press and release and once a second,
// so a lock switched in another window shows when this one is next used.
#include <QObject>
#include <QTimer>

#include <array>
#include <functional>

class QLabel;
class QStatusBar;

namespace tovik {

struct CHLockKeys {
    bool caps = false;
    bool num = false;
    bool scroll = false;
};

class CHKeyIndicators : public QObject {
    Q_OBJECT
public:
    static constexpr int kPollMs = 1000;

    // Adds the three panes to the right of what the status bar holds.
    explicit CHKeyIndicators(QStatusBar& bar);
    ~CHKeyIndicators() override;

    void Update();
    // The pane of "CAP", "NUM" or "SCRL" (0, 1, 2).
    QLabel* Pane(int index) const { return m_panes[static_cast<std::size_t>(index)]; }

    // Where the lock states come from: the X server's keyboard indicators,
    // else the keyboard LEDs the kernel shows; all off when neither is there.
    // Tests give their own.
    using Reader = std::function<CHLockKeys()>;
    static Reader SetReader(Reader reader);
    static CHLockKeys ReadLockKeys();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::array<QLabel*, 3> m_panes{};
    QTimer m_poll;
};

#ifdef TOVIK_HAVE_X11
// The X server's keyboard indicators; false without an X display.
bool ReadX11LockKeys(CHLockKeys& keys);
#endif

} // namespace tovik
