#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <clocale>
#include <cstdio>
#include <cstdlib>

#include <GraphicFormats.h>
#include <Graphics.h>
#include <System.h>
#include <Mouse_Camera_2.h>
#include <TextureBuffer.h>
#include <Windows.h>
#include <ZorDX_Render.h>

#include "CommaLocale.h"
#include "DirectInput8.h"
#include "ProgramUnits.h"
#include "QtTestMain.h"
#include "Unit1.h"

namespace {

constexpr uint32_t BaseTextureId = 10006;
constexpr uint32_t Dot3TextureId = 10007;

void MoveOverPanel(int x, int y, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMouseEvent event(QEvent::MouseMove, QPointF(x, y), Form1->Panel1->mapToGlobal(QPointF(x, y)), Qt::NoButton,
                      buttons, modifiers);
    QApplication::sendEvent(Form1->Panel1, &event);
}

// Answers the next file dialog with fileName, or cancels it when empty.
void AnswerFileDialog(const QString& fileName) {
    QTimer::singleShot(0, [fileName] {
        auto* dialog = qobject_cast<TPictureFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        if (fileName.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->SelectFile(fileName);
        QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
    });
}

IDirect3DTexture8* TextureOf(uint32_t id) {
    TextureBuffer->SelectTexture(id);
    return TextureBuffer->CurrentTexture.get();
}

TEST(Form1Layout, ComponentsSitWhereTheFormPutsThem) {
    struct Component {
        const char* name;
        const char* parent;
        QRect geometry;
    };
    const Component components[] = {
        {"Panel1", "ClientArea", {8, 48, 577, 449}},
        {"GroupBox1", "ClientArea", {8, 2, 577, 41}},
        {"Edit1", "GroupBox1", {512, 12, 57, 21}},
    };
    for (const Component& c : components) {
        auto* widget = Form1->findChild<QWidget*>(c.name);
        ASSERT_NE(widget, nullptr) << c.name;
        EXPECT_EQ(widget->geometry(), c.geometry) << c.name;
        EXPECT_EQ(widget->parentWidget()->objectName(), c.parent) << c.name;
    }
    // The check box widens only when the desktop's face needs more room.
    const QRect box = Form1->CheckBox1->geometry();
    EXPECT_EQ(box, QRect(8, 16, std::max(113, Form1->CheckBox1->sizeHint().width()), 17));
    EXPECT_EQ(Form1->centralWidget()->objectName(), "ClientArea");
    EXPECT_GE(Form1->centralWidget()->width(), Form1ClientWidth);
    EXPECT_EQ(Form1->pos(), QPoint(201, 114));
    EXPECT_EQ(Form1->font().pixelSize(), 11);
    EXPECT_TRUE(Form1->GroupBox1->title().isEmpty());
    EXPECT_NE(Form1->findChild<TOpenPictureDialog*>("OpenPictureDialog1"), nullptr);
    EXPECT_NE(Form1->findChild<TOpenPictureDialog*>("OpenPictureDialog2"), nullptr);
}

TEST(Form1Layout, CaptionsAndTextsShowInFull) {
    EXPECT_EQ(Form1->windowTitle(), "Form1");
    EXPECT_EQ(Form1->CheckBox1->text(), "Enable Bump Map");
    EXPECT_FALSE(Form1->CheckBox1->isChecked());
    EXPECT_EQ(Form1->Edit1->text(), "0.50");
    EXPECT_LE(Form1->CheckBox1->sizeHint().width(), Form1->CheckBox1->width());
    EXPECT_LE(Form1->Edit1->fontMetrics().horizontalAdvance("0.50"), Form1->Edit1->width() - 8);
}

TEST(Form1Layout, TabOrderRunsFromCheckBoxToEdit) {
    EXPECT_EQ(Form1->CheckBox1->nextInFocusChain(), Form1->Edit1);
    EXPECT_EQ(Form1->Panel1->focusPolicy(), Qt::NoFocus);
}

TEST(Form1Menu, FileMenuHoldsItsItemsInOrder) {
    ASSERT_EQ(Form1->MainMenu1->actions().size(), 1);
    EXPECT_EQ(Form1->MainMenu1->actions()[0]->text(), "File");
    const QList<QAction*> items = Form1->File1->actions();
    const std::pair<const char*, const char*> expected[] = {
        {"OpenBaseTexture1", "Open Base Texture "},
        {"OpenDot3Texture1", "Open Dot3 Texture"},
        {"N1", ""},
        {"Exit1", "Exit"},
    };
    ASSERT_EQ(items.size(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(items[i]->objectName(), expected[i].first);
        EXPECT_EQ(items[i]->text(), expected[i].second);
        EXPECT_EQ(items[i]->isSeparator(), i == 2);
    }
}

TEST(Form1Controls, CheckBoxSetsBumpEnabled) {
    EXPECT_EQ(BumpEnabled, 0);
    QTest::mouseClick(Form1->CheckBox1, Qt::LeftButton);
    EXPECT_EQ(BumpEnabled, 1);
    QTest::mouseClick(Form1->CheckBox1, Qt::LeftButton);
    EXPECT_EQ(BumpEnabled, 0);
}

TEST(Form1Controls, EditTextSetsLightZOrZero) {
    EXPECT_FLOAT_EQ(LightZ, 0.5f);
    const std::pair<const char*, float> cases[] = {
        {"abc", 0.0f}, {"0.50", 0.5f}, {"", 0.0f}, {"-", 0.0f}, {"1.25", 1.25f}, {" 0.3 ", 0.3f}, {"0.5x", 0.0f},
    };
    for (const auto& [text, value] : cases) {
        Form1->Edit1->setText(text);
        EXPECT_FLOAT_EQ(LightZ, value) << '"' << text << '"';
    }
}

TEST(Form1Controls, EveryIntermediateTextCounts) {
    Form1->Edit1->clear();
    Form1->Edit1->setFocus();
    const std::pair<char, float> keys[] = {{'-', 0.0f}, {'0', 0.0f}, {'.', 0.0f}, {'2', -0.2f}, {'5', -0.25f}};
    for (const auto& [key, value] : keys) {
        QTest::keyClick(Form1->Edit1, key);
        EXPECT_FLOAT_EQ(LightZ, value) << Form1->Edit1->text().toStdString();
    }
}

TEST(Form1Controls, EditUsesTheLocaleDecimalSeparator) {
    QTemporaryDir folder;
    ASSERT_TRUE(UseCommaLocale(folder.path().toStdString()))
        << "no comma locale: localedef and the locales package are needed";
    Form1->Edit1->setText("0,75");
    EXPECT_FLOAT_EQ(LightZ, 0.75f);
    Form1->Edit1->setText("0.75");
    EXPECT_FLOAT_EQ(LightZ, 0.0f);
    std::setlocale(LC_NUMERIC, "C");
}

TEST(Form1Mouse, LeftAndMiddleTogetherPanThenZoomThenUpdate) {
    MoveOverPanel(100, 100, Qt::NoButton);
    EXPECT_EQ(MouseCamera->LastX, 100);
    EXPECT_EQ(MouseCamera->LastY, 100);
    MoveOverPanel(110, 120, Qt::LeftButton | Qt::MiddleButton);
    // Both steps saw the same last position, and the update came after them.
    EXPECT_FLOAT_EQ(MouseCamera->PanX, -20.0f);
    EXPECT_FLOAT_EQ(MouseCamera->PanY, 40.0f);
    EXPECT_FLOAT_EQ(MouseCamera->Dolly, 10.0f);
    EXPECT_EQ(MouseCamera->LastX, 110);
    EXPECT_EQ(MouseCamera->LastY, 120);
    EXPECT_FLOAT_EQ(Camera->Position.x, -20.0f);
    EXPECT_FLOAT_EQ(Camera->Position.y, 40.0f);
    EXPECT_FLOAT_EQ(Camera->Position.z, -38.0f);
    EXPECT_FLOAT_EQ(Camera->Target.z, -37.0f);
}

TEST(Form1Mouse, RightButtonRotatesAndWithShiftPans) {
    MoveOverPanel(100, 100, Qt::NoButton);
    MoveOverPanel(190, 100, Qt::RightButton);
    EXPECT_FLOAT_EQ(MouseCamera->Yaw, 90.0f);
    EXPECT_NEAR(Camera->Position.x, -48.0f, 1e-4f);
    EXPECT_NEAR(Camera->Position.z, 0.0f, 1e-4f);
    MoveOverPanel(200, 100, Qt::RightButton, Qt::ShiftModifier);
    EXPECT_FLOAT_EQ(MouseCamera->Yaw, 90.0f);
    EXPECT_FLOAT_EQ(MouseCamera->PanX, -20.0f);
}

TEST(Form1Scene, StartCameraGivesZeroLightAndTheMiddleSpecular) {
    Viewport->RenderFrame();
    EXPECT_EQ(Form1->windowTitle(), "0  0  0");
    ASSERT_EQ(Viewport->Triangles.Count, 2);
    for (int i = 0; i < 2; ++i) {
        const ttriangle_record& record = Viewport->Triangles.Records[i];
        EXPECT_EQ(record.Texture0, BaseTextureId);
        EXPECT_EQ(record.Texture1, Dot3TextureId);
        EXPECT_EQ(record.BumpMap, 0);
        EXPECT_EQ(record.Layers, 0);
        for (const tvertex_3d& v : Viewport->Triangles.Vertices[i]) {
            EXPECT_EQ(v.Specular, 0xFF8080BFu);
            EXPECT_EQ(v.Diffuse, 0xFF0E0E0Eu);
        }
    }
}

TEST(Form1Scene, SidewaysViewIsClampedAndShownInTheCaption) {
    QTest::mouseClick(Form1->CheckBox1, Qt::LeftButton);
    Form1->Edit1->setText("0.25");
    MoveOverPanel(100, 100, Qt::NoButton);
    MoveOverPanel(190, 100, Qt::RightButton);  // yaw 90: looking along +x
    Viewport->RenderFrame();
    EXPECT_EQ(Form1->windowTitle(), "0  -0.75  0");
    ASSERT_EQ(Viewport->Triangles.Count, 2);
    EXPECT_EQ(Viewport->Triangles.Records[0].BumpMap, 1);
    // (L.y, L.x, LightZ) = (-0.75, 0, 0.25).
    EXPECT_EQ(Viewport->Triangles.Vertices[0][0].Specular, 0xFF20809Fu);
}

class Form1Files : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder_.isValid()); }

    QString WriteBitmap(const QString& name, TColor color) {
        TBitmap bitmap;
        bitmap.SetSize(16, 16);
        bitmap.Canvas().FillRect(Rect(0, 0, 16, 16), color);
        const QString path = folder_.filePath(name);
        bitmap.SaveToFile(path.toStdString());
        return path;
    }

    QTemporaryDir folder_;
};

TEST_F(Form1Files, BothMenuItemsLoadThroughTheFirstDialog) {
    AnswerFileDialog(WriteBitmap("base.bmp", RGB(200, 0, 0)));
    Form1->OpenBaseTexture1->trigger();
    IDirect3DTexture8* base = TextureOf(BaseTextureId);
    ASSERT_NE(base, nullptr);

    AnswerFileDialog(WriteBitmap("normal.bmp", RGB(128, 128, 255)));
    Form1->OpenDot3Texture1->trigger();
    EXPECT_NE(TextureOf(Dot3TextureId), nullptr);
    EXPECT_EQ(TextureOf(BaseTextureId), base);
    EXPECT_EQ(QString::fromStdString(Form1->OpenPictureDialog1->FileName), folder_.filePath("normal.bmp"));
    EXPECT_TRUE(Form1->OpenPictureDialog2->FileName.empty());
}

TEST_F(Form1Files, CancelledDialogChangesNothing) {
    AnswerFileDialog(WriteBitmap("base.bmp", RGB(200, 0, 0)));
    Form1->OpenBaseTexture1->trigger();
    IDirect3DTexture8* base = TextureOf(BaseTextureId);
    ASSERT_NE(base, nullptr);
    const int records = TextureBuffer->Textures.Count();

    AnswerFileDialog({});
    Form1->OpenBaseTexture1->trigger();
    AnswerFileDialog({});
    Form1->OpenDot3Texture1->trigger();
    EXPECT_EQ(TextureOf(BaseTextureId), base);
    EXPECT_EQ(TextureOf(Dot3TextureId), nullptr);
    EXPECT_EQ(TextureBuffer->Textures.Count(), records);
}

TEST_F(Form1Files, CorruptFileShowsItsErrorAndKeepsTheTexture) {
    AnswerFileDialog(WriteBitmap("base.bmp", RGB(200, 0, 0)));
    Form1->OpenBaseTexture1->trigger();
    IDirect3DTexture8* base = TextureOf(BaseTextureId);
    ASSERT_NE(base, nullptr);

    const QString corrupt = folder_.filePath("corrupt.tga");
    QFile file(corrupt);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("\x00\x00\x63\x00", 4));
    file.close();

    ClearMessageBoxLog();
    AnswerFileDialog(corrupt);
    Form1->OpenBaseTexture1->trigger();
    ASSERT_EQ(MessageBoxLog().size(), 1u);
    EXPECT_FALSE(MessageBoxLog()[0].Text.empty());
    EXPECT_EQ(MessageBoxLog()[0].Type & 0xF0, MB_ICONERROR);
    EXPECT_EQ(TextureOf(BaseTextureId), base);

    // The window carries on drawing.
    const int frames = Form1->Panel1->Frames();
    Viewport->RenderFrame();
    EXPECT_GT(Form1->Panel1->Frames(), frames);
}

TEST(Form1Idle, NoFrameWhileInactiveFramesOnceActive) {
    ASSERT_FALSE(Application()->Active());
    QTest::qWait(100);
    EXPECT_EQ(Form1->Panel1->Frames(), 0);

    Form1->show();
    Form1->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form1));
    EXPECT_TRUE(QTest::qWaitFor([] { return Form1->Panel1->Frames() >= 3; }, 2000));
    EXPECT_EQ(Form1->windowTitle(), "0  0  0");
}

TEST(Form1Exit, ExitClosesTheWindow) {
    Form1->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form1));
    Form1->Exit1->trigger();
    EXPECT_FALSE(Form1->isVisible());
}

TEST(ProgramUnits, StartBeforeTheWindowAndEndInReverse) {
    // Started by the program entry before the form was made.
    ASSERT_NE(FileFormatList, nullptr);
    ASSERT_NE(TextureBuffer, nullptr);
    ASSERT_NE(Direct3D.get(), nullptr);
    ASSERT_NE(Device.get(), nullptr);
    EXPECT_NE(TPicture::FindGraphicClass("tga"), nullptr);
    EXPECT_EQ(DInput8Module, nullptr);  // there is no DirectInput runtime here

    FinalizeUnits();
    EXPECT_EQ(TextureBuffer, nullptr);
    EXPECT_EQ(Device.get(), nullptr);
    EXPECT_EQ(Direct3D.get(), nullptr);
    EXPECT_EQ(FileFormatList, nullptr);
    EXPECT_EQ(TPicture::FindGraphicClass("tga"), nullptr);
}

// Without Direct3D the program says so and, once the message is dismissed,
// ends with a failure status; the units' end steps still run.
TEST(ProgramUnits, WithoutDirect3DTheProgramSaysSoAndFails) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            FinalizeUnits();  // the runtime is unloaded: Direct3D cannot start
            InitializeUnit("Probe", {}, [] { std::fputs("end steps ran\n", stderr); });
            new TForm1;
        },
        ::testing::ExitedWithCode(1), "There is not DX8.1 support in your videocard.*end steps ran");
}

void StartProgram() {
    StartProgramUnits();
    Form1 = new TForm1;
}

}  // namespace

DOT3_QT_TEST_MAIN(StartProgram)
