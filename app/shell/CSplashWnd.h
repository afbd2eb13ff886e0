#pragma once
// The start-up picture: a frameless popup over the main window that goes
// away after five seconds or at the first key or mouse press anywhere in the
// program, which it swallows so the press does nothing else.
#include <QObject>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

namespace tovik {

class CSplashWnd : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 386;
    static constexpr int kHeight = 156;
    static constexpr int kLifetimeMs = 5000;

    // Whether ShowSplashScreen shows anything (off unless the start-up
    // allows it).
    static void EnableSplashScreen(bool enable);
    // Shows the splash unless one is showing already or it is not enabled.
    static void ShowSplashScreen(QWidget* parent);
    // Called for every event the program receives: a key or button press
    // closes the splash and is consumed (true). False otherwise.
    static bool PreTranslateAppMessage(QEvent* event);
    // The splash showing now, or null.
    static CSplashWnd* Current();

    ~CSplashWnd() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    explicit CSplashWnd(QWidget* parent);
    void HideSplashScreen();

    QPixmap m_picture;
    QTimer m_timer;
    QWidget* m_owner;
};

} // namespace tovik
