#include "Forms.h"

#include <Windows.h>

namespace {
// How long the idle turns wait while nothing asks for them: frames are drawn
// only while the application is active, so an inactive program need not spin.
constexpr int kWaitingIdleInterval = 20;
}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // The framework's plain message dialog carries the same title.
    setApplicationName(QStringLiteral("dot3demo"));
    idleTimer_.setInterval(0);
    connect(&idleTimer_, &QTimer::timeout, this, &TApplication::Idle);
}

void TApplication::SetOnIdle(TIdleEvent handler) {
    onIdle_ = std::move(handler);
    if (onIdle_)
        idleTimer_.start();
    else
        idleTimer_.stop();
}

bool TApplication::Active() const { return activeWindow() != nullptr; }

std::string TApplication::Title() const { return applicationName().toStdString(); }

void TApplication::HandleEvent(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        ShowException(error);
    }
}

void TApplication::ShowException(const std::exception& error) {
    MessageBoxA(nullptr, error.what(), Title().c_str(), MB_OK | MB_ICONERROR);
}

void TApplication::Idle() {
    // A message box shown from inside a frame runs its own event loop; the
    // idle turns must wait until the frame is over instead of nesting.
    if (inIdle_) return;
    inIdle_ = true;
    bool done = true;
    HandleEvent([&] { onIdle_(this, done); });
    inIdle_ = false;
    idleTimer_.setInterval(!done && Active() ? 0 : kWaitingIdleInterval);
}

TApplication* Application() { return static_cast<TApplication*>(QCoreApplication::instance()); }
