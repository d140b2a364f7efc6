#include "Unit1.h"

#include <QFont>

#include <System.h>
#include <SysUtils.h>

#include <Mouse_Camera_2.h>
#include <TextureBuffer.h>
#include <ZorDX_Geometry.h>
#include <ZorDX_Render.h>

TForm1* Form1 = nullptr;
TGLCamera* Camera = nullptr;
TGLViewport* Viewport = nullptr;
TMouseCamera* MouseCamera = nullptr;
bool SceneReady = false;
int16_t BumpEnabled = 0;
float LightZ = 0.5f;

namespace {

constexpr int32_t BaseTextureId = 10006;
constexpr int32_t Dot3TextureId = 10007;

// The light vector may lean at most this far in each direction.
constexpr float LightLimit = 0.75f;

float ClampLight(float c) {
    if (c > LightLimit) return LightLimit;
    if (!(c >= -LightLimit)) return -LightLimit;
    return c;
}

// The layout was made for a narrow 11-pixel sans-serif face; faces with
// those metrics come first, the desktop's sans-serif face after them.
QFont FormFont() {
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"), QStringLiteral("Nimbus Sans"),
                      QStringLiteral("Arial"), QStringLiteral("Helvetica"), QStringLiteral("Sans Serif")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

// A caption is never cut: a face wider than the layout expects widens the
// control to the right, where the group box has room.
void FitCaption(QWidget* control) {
    if (control->sizeHint().width() > control->width()) control->resize(control->sizeHint().width(), control->height());
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    setFont(FormFont());
    CreateComponents();
    CreateMenu();
    move(201, 114);
    resize(Form1ClientWidth, Form1ClientHeight + MainMenu1->sizeHint().height());
    ConnectEvents();
    FormCreate(this);
}

void TForm1::CreateComponents() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    client->setMinimumSize(Form1ClientWidth, Form1ClientHeight);
    setCentralWidget(client);

    Panel1 = new TPanel(client);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(8, 48, 577, 449);

    GroupBox1 = new QGroupBox(client);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 2, 577, 41);

    CheckBox1 = new QCheckBox(QStringLiteral("Enable Bump Map"), GroupBox1);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setGeometry(8, 16, 113, 17);
    CheckBox1->setStyleSheet(QStringLiteral("QCheckBox { spacing: 4px; }"));
    FitCaption(CheckBox1);

    Edit1 = new QLineEdit(QStringLiteral("0.50"), GroupBox1);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(512, 12, 57, 21);

    setTabOrder(CheckBox1, Edit1);

    OpenPictureDialog1 = new TOpenPictureDialog(this);
    OpenPictureDialog1->setObjectName(QStringLiteral("OpenPictureDialog1"));
    OpenPictureDialog2 = new TOpenPictureDialog(this);
    OpenPictureDialog2->setObjectName(QStringLiteral("OpenPictureDialog2"));
}

void TForm1::CreateMenu() {
    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    // Our own menu bar inside the window, wherever the desktop keeps menus.
    MainMenu1->setNativeMenuBar(false);

    File1 = MainMenu1->addMenu(QStringLiteral("File"));
    File1->setObjectName(QStringLiteral("File1"));
    OpenBaseTexture1 = File1->addAction(QStringLiteral("Open Base Texture "));
    OpenBaseTexture1->setObjectName(QStringLiteral("OpenBaseTexture1"));
    OpenDot3Texture1 = File1->addAction(QStringLiteral("Open Dot3 Texture"));
    OpenDot3Texture1->setObjectName(QStringLiteral("OpenDot3Texture1"));
    N1 = File1->addSeparator();
    N1->setObjectName(QStringLiteral("N1"));
    Exit1 = File1->addAction(QStringLiteral("Exit"));
    Exit1->setObjectName(QStringLiteral("Exit1"));
}

void TForm1::ConnectEvents() {
    const auto handle = [this](void (TForm1::*handler)(QObject*), QObject* sender) {
        return [this, handler, sender] { Application()->HandleEvent([&] { (this->*handler)(sender); }); };
    };
    connect(OpenBaseTexture1, &QAction::triggered, this, handle(&TForm1::OpenBaseTexture1Click, OpenBaseTexture1));
    connect(OpenDot3Texture1, &QAction::triggered, this, handle(&TForm1::OpenDot3Texture1Click, OpenDot3Texture1));
    connect(Exit1, &QAction::triggered, this, handle(&TForm1::Exit1Click, Exit1));
    connect(CheckBox1, &QCheckBox::toggled, this, handle(&TForm1::CheckBox1Click, CheckBox1));
    connect(Edit1, &QLineEdit::textChanged, this, handle(&TForm1::Edit1Change, Edit1));
    Panel1->OnMouseMove = [this](QObject* sender, TShiftState shift, int x, int y) {
        Panel1MouseMove(sender, shift, x, y);
    };
}

void TForm1::FormCreate(QObject*) {
    SceneReady = false;
    FarPlane = 4224.0f;
    FogColor = {128, 128, 128};
    if (!StartDirect3D()) {
        ShowMessage("There is not DX8.1 support in your videocard");
        // A script or a desktop launcher sees that the program failed.
        Halt(1);
    }
    Camera = new TGLCamera;
    Viewport = new TGLViewport;
    Viewport->SetCamera(Camera);
    Viewport->AttachToWindow(Panel1->Handle(), Panel1->width(), Panel1->height(), 0);
    Viewport->SceneCallback = BuildScene;
    Viewport->SetBackgroundColor(PackColor(FogColor.Red, FogColor.Green, FogColor.Blue, 255));
    Camera->Position = MakeVector(0, 0, -48);
    Camera->Target = MakeVector(0, 0, 0);
    MouseCamera = new TMouseCamera;
    MouseCamera->Camera = Camera;
    MouseCamera->ZoomSpeed = 0.5f;
    MouseCamera->PanSpeed = 2.0f;
    MouseCamera->BasePosition = Camera->Position;
    MouseCamera->Center = Camera->Target;
    MouseCamera->Reset();
    Application()->SetOnIdle([this](QObject* sender, bool& done) { AppOnIdle(sender, done); });
    SceneReady = true;
}

void TForm1::AppOnIdle(QObject*, bool& Done) {
    Done = false;
    if (Application()->Active()) Viewport->RenderFrame();
}

void TForm1::Panel1MouseMove(QObject*, TShiftState Shift, int X, int Y) {
    if (Shift & ssMiddle) MouseCamera->Pan(X, Y);
    if (Shift & ssLeft) MouseCamera->Zoom(Y);
    if ((Shift & ssRight) && !(Shift & ssShift)) MouseCamera->Rotate(X, Y);
    if ((Shift & ssRight) && (Shift & ssShift)) MouseCamera->Pan(X, Y);
    MouseCamera->Update(X, Y);
}

void TForm1::OpenBaseTexture1Click(QObject*) {
    if (OpenPictureDialog1->Execute())
        TextureBuffer->LoadTexture(BaseTextureId, OpenPictureDialog1->FileName, false, false);
}

void TForm1::OpenDot3Texture1Click(QObject*) {
    if (OpenPictureDialog1->Execute())
        TextureBuffer->LoadTexture(Dot3TextureId, OpenPictureDialog1->FileName, false, false);
}

void TForm1::CheckBox1Click(QObject*) { BumpEnabled = CheckBox1->isChecked() ? 1 : 0; }

void TForm1::Edit1Change(QObject*) {
    LightZ = static_cast<float>(StrToFloatDef(Edit1->text().toStdString(), 0.0));
}

void TForm1::Exit1Click(QObject*) { close(); }

void BuildScene() {
    if (!SceneReady) return;
    Viewport->ClearTriangles();
    Viewport->Rotation = {0, 0, 0};

    Viewport->CurrentTexture0 = BaseTextureId;
    Viewport->CurrentTexture1 = Dot3TextureId;
    Viewport->CurrentBlendMode = 0;
    Viewport->CurrentBumpMap = static_cast<uint16_t>(BumpEnabled);
    Viewport->CurrentLayers = 0;
    Viewport->CurrentTag = 0;

    tvector n;
    TriangleNormal(MakeVector(-16, 16, 0), MakeVector(16, 16, 0), MakeVector(16, -16, 0), n);
    tvector light;
    VectorCross(n, Camera->Direction, light);
    light = MakeVector(ClampLight(light.x), ClampLight(light.y), ClampLight(light.z));
    const int16_t axis = DominantAxis(n);

    Form1->setWindowTitle(QString::fromStdString(FloatToStr(light.x) + "  " + FloatToStr(light.y) + "  " +
                                                 FloatToStr(light.z)));

    const tvector w = axis == 1 ? MakeVector(light.z, light.x, LightZ) : MakeVector(light.y, light.x, LightZ);
    Viewport->CurrentSpecular = VectorToColor(w);

    Viewport->AddQuad(-16, 16, 0, 14, 14, 14, 0, 0,
                      16, 16, 0, 14, 14, 14, 1, 0,
                      16, -16, 0, 14, 14, 14, 1, 1,
                      -16, -16, 0, 14, 14, 14, 0, 1);
}
