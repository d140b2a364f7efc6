// The main window: the render panel, the bump-map switch, the light's third
// component and the File menu; the idle loop that draws a frame per turn;
// and the scene it draws.
#pragma once

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

#include <cstdint>

#include "ExtCtrls.h"
#include "ExtDlgs.h"
#include "Forms.h"

class TGLCamera;
class TGLViewport;
class TMouseCamera;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // Lays out the components and runs FormCreate.
    explicit TForm1(QWidget* parent = nullptr);

    QMenuBar* MainMenu1;
    QMenu* File1;
    QAction* OpenBaseTexture1;
    QAction* OpenDot3Texture1;
    QAction* N1;
    QAction* Exit1;
    TPanel* Panel1;
    QGroupBox* GroupBox1;
    QCheckBox* CheckBox1;
    QLineEdit* Edit1;
    TOpenPictureDialog* OpenPictureDialog1;
    TOpenPictureDialog* OpenPictureDialog2;

    void FormCreate(QObject* Sender);
    void AppOnIdle(QObject* Sender, bool& Done);
    void Panel1MouseMove(QObject* Sender, TShiftState Shift, int X, int Y);
    void OpenBaseTexture1Click(QObject* Sender);
    void OpenDot3Texture1Click(QObject* Sender);
    void CheckBox1Click(QObject* Sender);
    void Edit1Change(QObject* Sender);
    void Exit1Click(QObject* Sender);

private:
    void CreateComponents();
    void CreateMenu();
    void ConnectEvents();
};

// The size of the form's client area under its menu bar.
constexpr int Form1ClientWidth = 595;
constexpr int Form1ClientHeight = 515;

extern TForm1* Form1;
extern TGLCamera* Camera;
extern TGLViewport* Viewport;
extern TMouseCamera* MouseCamera;
// True once FormCreate has finished; no scene is submitted before.
extern bool SceneReady;
// 1 while "Enable Bump Map" is checked.
extern int16_t BumpEnabled;
// The light vector's third component, from the edit box.
extern float LightZ;

// The viewport's scene callback: the square with its textures and the light
// vector that follows the camera.
void BuildScene();
