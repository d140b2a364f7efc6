// The application object: the Qt application with the framework's idle
// event, its active state and its last-resort error display.
#pragma once

#include <QApplication>
#include <QTimer>

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

// The state of the modifier keys and mouse buttons during a mouse event.
enum TShiftStateFlag : uint8_t {
    ssShift = 0x01,
    ssAlt = 0x02,
    ssCtrl = 0x04,
    ssLeft = 0x08,
    ssRight = 0x10,
    ssMiddle = 0x20,
};
using TShiftState = uint8_t;

// Sender and the "done" flag: a handler that leaves Done false asks to be
// called again at once instead of waiting.
using TIdleEvent = std::function<void(QObject* Sender, bool& Done)>;

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    // Installs the idle handler; it runs whenever the event queue is empty.
    void SetOnIdle(TIdleEvent handler);
    // Whether one of the application's windows has the input focus.
    bool Active() const;

    // The caption of the message boxes that show escaped errors.
    std::string Title() const;
    // Runs an event handler; an error it raises is shown in a message box
    // and the program carries on, as the framework does for its handlers.
    void HandleEvent(const std::function<void()>& handler);
    void ShowException(const std::exception& error);

private:
    void Idle();

    TIdleEvent onIdle_;
    QTimer idleTimer_;
    bool inIdle_ = false;
};

// The running application object.
TApplication* Application();
