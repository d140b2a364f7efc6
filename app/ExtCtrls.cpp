#include "ExtCtrls.h"

#include <QMouseEvent>
#include <QPainter>

TPanel::TPanel(QWidget* parent) : QWidget(parent), handle_(RegisterWindowTarget(this)) {
    // Motion without a button held still reaches the handler: the mouse
    // camera records every position, not only drags.
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

TPanel::~TPanel() { UnregisterWindowTarget(handle_); }

void TPanel::PresentFrame(const uint32_t* pixels, int width, int height, int pitch) {
    if (ClientWidth() <= 0 || ClientHeight() <= 0) return;
    if (frame_.size() != size()) frame_ = QImage(size(), QImage::Format_RGB32);
    StretchFrame(pixels, width, height, pitch, reinterpret_cast<uint32_t*>(frame_.bits()), frame_.width(),
                 frame_.height(), static_cast<int>(frame_.bytesPerLine()));
    ++frames_;
    update();
}

void TPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (frame_.isNull())
        painter.fillRect(rect(), palette().window());
    else
        painter.drawImage(0, 0, frame_);
}

void TPanel::mouseMoveEvent(QMouseEvent* event) {
    if (!OnMouseMove) return;
    const QPoint position = event->position().toPoint();
    const TShiftState shift = ShiftStateOf(event->buttons(), event->modifiers());
    Application()->HandleEvent([&] { OnMouseMove(this, shift, position.x(), position.y()); });
}

TShiftState ShiftStateOf(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
    TShiftState shift = 0;
    if (modifiers & Qt::ShiftModifier) shift |= ssShift;
    if (modifiers & Qt::AltModifier) shift |= ssAlt;
    if (modifiers & Qt::ControlModifier) shift |= ssCtrl;
    if (buttons & Qt::LeftButton) shift |= ssLeft;
    if (buttons & Qt::RightButton) shift |= ssRight;
    if (buttons & Qt::MiddleButton) shift |= ssMiddle;
    return shift;
}
