// The render panel: a widget that the Direct3D device presents into through
// its window handle, and that reports mouse motion with the button state.
#pragma once

#include <QImage>
#include <QWidget>

#include <functional>

#include <Windows.h>

#include "Forms.h"

using TMouseMoveEvent = std::function<void(QObject* Sender, TShiftState Shift, int X, int Y)>;

class TPanel : public QWidget, public IPresentationTarget {
    Q_OBJECT
public:
    explicit TPanel(QWidget* parent);
    ~TPanel() override;
    TPanel(const TPanel&) = delete;
    TPanel& operator=(const TPanel&) = delete;

    // The handle under which the device finds this panel.
    HWND Handle() const { return handle_; }

    int ClientWidth() const override { return width(); }
    int ClientHeight() const override { return height(); }
    void PresentFrame(const uint32_t* pixels, int width, int height, int pitch) override;

    // The last presented frame at the panel's size, and how many arrived.
    const QImage& Frame() const { return frame_; }
    int Frames() const { return frames_; }

    TMouseMoveEvent OnMouseMove;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    HWND handle_;
    QImage frame_;
    int frames_ = 0;
};

// The shift state of a mouse event: its buttons and modifier keys.
TShiftState ShiftStateOf(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers);
