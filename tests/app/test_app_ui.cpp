#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <Graphics.h>
#include <SysUtils.h>
#include <Windows.h>

#include "Dialogs.h"
#include "ExtCtrls.h"
#include "ExtDlgs.h"
#include "PictureRegistrations.h"
#include "QtTestMain.h"

namespace {

TEST(ShiftState, CombinesButtonsAndModifiers) {
    struct Case {
        Qt::MouseButtons buttons;
        Qt::KeyboardModifiers modifiers;
        TShiftState expected;
    };
    const Case cases[] = {
        {Qt::NoButton, Qt::NoModifier, 0},
        {Qt::LeftButton, Qt::NoModifier, ssLeft},
        {Qt::RightButton, Qt::ShiftModifier, TShiftState(ssRight | ssShift)},
        {Qt::LeftButton | Qt::MiddleButton, Qt::NoModifier, TShiftState(ssLeft | ssMiddle)},
        {Qt::NoButton, Qt::ControlModifier | Qt::AltModifier, TShiftState(ssCtrl | ssAlt)},
    };
    for (const Case& c : cases) EXPECT_EQ(ShiftStateOf(c.buttons, c.modifiers), c.expected);
}

TEST(MessageBoxes, IconsFollowTheTypeBits) {
    EXPECT_EQ(MessageBoxIcon(MB_OK), QMessageBox::NoIcon);
    EXPECT_EQ(MessageBoxIcon(MB_OK | MB_ICONERROR), QMessageBox::Critical);
    EXPECT_EQ(MessageBoxIcon(MB_OK | MB_ICONWARNING), QMessageBox::Warning);
    EXPECT_EQ(MessageBoxIcon(MB_ICONQUESTION), QMessageBox::Question);
    EXPECT_EQ(MessageBoxIcon(MB_ICONINFORMATION), QMessageBox::Information);
}

TEST(MessageBoxes, HandlerShowsCaptionTextAndIcon) {
    InstallMessageBoxHandler();
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        box->accept();
    });
    EXPECT_EQ(MessageBoxA(nullptr, "Error trying to setup Direct3d", "Error", MB_OK | MB_ICONERROR), IDOK);
    SetMessageBoxHandler({});
    EXPECT_EQ(title, "Error");
    EXPECT_EQ(text, "Error trying to setup Direct3d");
    EXPECT_EQ(icon, QMessageBox::Critical);
}

TEST(Application, EscapedErrorIsShownAndTheProgramGoesOn) {
    ClearMessageBoxLog();
    bool after = false;
    Application()->HandleEvent([] { throw EInvalidGraphic("Unknown picture file extension (.xyz)"); });
    Application()->HandleEvent([&] { after = true; });
    EXPECT_TRUE(after);
    ASSERT_EQ(MessageBoxLog().size(), 1u);
    EXPECT_EQ(MessageBoxLog()[0].Text, "Unknown picture file extension (.xyz)");
    EXPECT_EQ(MessageBoxLog()[0].Caption, "dot3demo");
    EXPECT_EQ(MessageBoxLog()[0].Type & 0xF0, MB_ICONERROR);
}

TEST(Application, IdleHandlerKeepsRunningUntilRemoved) {
    int turns = 0;
    Application()->SetOnIdle([&](QObject* sender, bool& done) {
        EXPECT_EQ(sender, Application());
        ++turns;
        done = false;
    });
    QTest::qWait(50);
    Application()->SetOnIdle({});
    const int seen = turns;
    EXPECT_GT(seen, 1);
    QTest::qWait(30);
    EXPECT_EQ(turns, seen);
}

TEST(Application, IdleHandlerIsNotEnteredFromItsOwnNestedLoop) {
    // A handler that shows a modal box spins a nested event loop.
    int depth = 0, deepest = 0, turns = 0;
    Application()->SetOnIdle([&](QObject*, bool& done) {
        ++depth, ++turns;
        deepest = std::max(deepest, depth);
        if (turns == 1) QTest::qWait(50);
        --depth;
        done = false;
    });
    QTest::qWait(100);
    Application()->SetOnIdle({});
    EXPECT_GT(turns, 1);
    EXPECT_EQ(deepest, 1);
}

TEST(Panel, IsAPresentationTargetWhileItLives) {
    HWND handle;
    {
        TPanel panel(nullptr);
        panel.resize(40, 30);
        handle = panel.Handle();
        EXPECT_EQ(FindWindowTarget(handle), &panel);
        RECT rect{};
        ASSERT_TRUE(GetClientRect(handle, &rect));
        EXPECT_EQ(rect.right - rect.left, 40);
        EXPECT_EQ(rect.bottom - rect.top, 30);
    }
    EXPECT_EQ(FindWindowTarget(handle), nullptr);
}

TEST(Panel, KeepsThePresentedFrameStretchedToItsSize) {
    TPanel panel(nullptr);
    panel.resize(4, 2);
    // A 2 x 1 frame: left half red, right half blue.
    const uint32_t pixels[2] = {0xFFFF0000, 0xFF0000FF};
    panel.PresentFrame(pixels, 2, 1, 8);
    ASSERT_EQ(panel.Frames(), 1);
    ASSERT_EQ(panel.Frame().size(), QSize(4, 2));
    EXPECT_EQ(panel.Frame().pixel(0, 0), 0xFFFF0000u);
    EXPECT_EQ(panel.Frame().pixel(1, 1), 0xFFFF0000u);
    EXPECT_EQ(panel.Frame().pixel(2, 0), 0xFF0000FFu);
    EXPECT_EQ(panel.Frame().pixel(3, 1), 0xFF0000FFu);
}

TEST(Panel, ForwardsMotionWithButtonsAndShift) {
    TPanel panel(nullptr);
    panel.resize(100, 100);
    std::vector<std::tuple<TShiftState, int, int>> moves;
    panel.OnMouseMove = [&](QObject* sender, TShiftState shift, int x, int y) {
        EXPECT_EQ(sender, &panel);
        moves.emplace_back(shift, x, y);
    };
    QMouseEvent plain(QEvent::MouseMove, QPointF(10, 20), QPointF(10, 20), Qt::NoButton, Qt::NoButton,
                      Qt::NoModifier);
    QMouseEvent drag(QEvent::MouseMove, QPointF(30, 40), QPointF(30, 40), Qt::NoButton,
                     Qt::RightButton | Qt::MiddleButton, Qt::ShiftModifier);
    QApplication::sendEvent(&panel, &plain);
    QApplication::sendEvent(&panel, &drag);
    ASSERT_EQ(moves.size(), 2u);
    EXPECT_EQ(moves[0], std::make_tuple(TShiftState(0), 10, 20));
    EXPECT_EQ(moves[1], std::make_tuple(TShiftState(ssRight | ssMiddle | ssShift), 30, 40));
}

// Graphic classes that only serve as registrations.
const TGraphicClassDesc FakeA{"TFakeA", nullptr, nullptr, TBitmap::StaticClass()};
const TGraphicClassDesc FakeB{"TFakeB", nullptr, nullptr, TBitmap::StaticClass()};

TEST(PictureDialog, FiltersListAllFirstOnlyWhenThereAreSeveral) {
    const TPictureRegistrationsScope registrations;
    TPicture::RegisterFileFormat("tga", "Truevision images", &FakeA);
    EXPECT_EQ(PictureNameFilters(), QStringList{"Truevision images (*.tga)"});
    TPicture::RegisterFileFormat("pcx", "PC Paintbrush images", &FakeB);
    const QStringList expected{"All (*.pcx *.tga)", "PC Paintbrush images (*.pcx)", "Truevision images (*.tga)"};
    EXPECT_EQ(PictureNameFilters(), expected);
}

// Answers the next picture dialog with fileName, after checking that it has
// its preview pane.
void AnswerPictureDialog(const QString& fileName) {
    QTimer::singleShot(0, [fileName] {
        auto* dialog = qobject_cast<TPictureFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_NE(dialog->findChild<TPicturePreview*>(), nullptr);
        dialog->SelectFile(fileName);
        QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
    });
}

class PicturePreviewTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        TPicture::RegisterFileFormat("bmp", "Bitmaps", TBitmap::StaticClass());
    }

    QString WriteBitmap(const QString& name, int width, int height, TColor color) {
        TBitmap bitmap;
        bitmap.SetSize(width, height);
        bitmap.Canvas().FillRect(Rect(0, 0, width, height), color);
        const QString path = folder_.filePath(name);
        bitmap.SaveToFile(path.toStdString());
        return path;
    }
    QString WriteBytes(const QString& name, const QByteArray& bytes) {
        const QString path = folder_.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    QTemporaryDir folder_;
    const TPictureRegistrationsScope registrations_;
};

TEST_F(PicturePreviewTest, ShowsThePictureScaledToFitAndItsSize) {
    TPicturePreview preview;
    preview.ShowFile(WriteBitmap("wide.bmp", 320, 80, RGB(0, 255, 0)));
    EXPECT_EQ(preview.Dimensions(), "320 x 80");
    const QImage image = preview.Image();
    EXPECT_EQ(image.size(), QSize(160, 40));
    EXPECT_EQ(image.pixel(80, 20) & 0xFFFFFF, 0x00FF00u);

    preview.ShowFile(WriteBitmap("small.bmp", 10, 6, RGB(0, 0, 255)));
    EXPECT_EQ(preview.Dimensions(), "10 x 6");
    EXPECT_EQ(preview.Image().size(), QSize(10, 6));
}

// Files the readers refuse show the refusal; missing files and folders
// show nothing.
TEST_F(PicturePreviewTest, UnreadableOrMissingFilesShowNone) {
    TPicturePreview preview;
    const std::pair<QString, QString> unreadable[] = {
        {WriteBytes("broken.bmp", "BM not really a bitmap"), "Bitmap image is not valid"},
        {WriteBytes("picture.xyz", "whatever"), "Unknown picture file extension (.xyz)"},
        {folder_.filePath("missing.bmp"), ""},
        {folder_.path(), ""},
    };
    for (const auto& [file, message] : unreadable) {
        preview.ShowFile(WriteBitmap("good.bmp", 8, 8, RGB(1, 2, 3)));
        preview.ShowFile(file);
        EXPECT_EQ(preview.Dimensions(), "(None)") << file.toStdString();
        EXPECT_TRUE(preview.Image().isNull()) << file.toStdString();
        EXPECT_TRUE(message.isEmpty() ? preview.Message().isEmpty() : preview.Message().startsWith(message))
            << file.toStdString() << ": " << preview.Message().toStdString();
    }
}

TEST_F(PicturePreviewTest, DialogReturnsTheChosenFileAndForgetsNothingOnCancel) {
    const QString chosen = WriteBitmap("chosen.bmp", 4, 4, RGB(9, 9, 9));
    TOpenPictureDialog dialog(nullptr);
    dialog.FileName = "before";

    QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(dialog.FileName, "before");

    AnswerPictureDialog(chosen);
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(QString::fromStdString(dialog.FileName), chosen);
}

// The list shows the folders and the files of the chosen type; the name box
// enters a folder it names and accepts only a file that exists.
TEST_F(PicturePreviewTest, DialogListsTheChosenTypeAndEntersTypedFolders) {
    WriteBitmap("a.bmp", 2, 2, RGB(1, 2, 3));
    WriteBytes("b.txt", "text");
    ASSERT_TRUE(QDir(folder_.path()).mkdir("sub"));
    TPictureFileDialog dialog(nullptr, folder_.path(), {"Bitmaps (*.bmp)", "All (*.bmp *.txt)"});
    dialog.show();
    auto* list = dialog.findChild<QListView*>();
    ASSERT_NE(list, nullptr);
    const auto shown = [list] {
        QStringList names;
        for (int row = 0; row < list->model()->rowCount(list->rootIndex()); ++row)
            names << list->model()->index(row, 0, list->rootIndex()).data().toString();
        names.sort();
        return names;
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown() == QStringList{"a.bmp", "sub"}; }, 2000))
        << shown().join(' ').toStdString();
    dialog.findChild<QComboBox*>()->setCurrentIndex(1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown() == QStringList{"a.bmp", "b.txt", "sub"}; }, 2000));

    auto* name = dialog.findChild<QLineEdit*>();
    for (const QString& typed : {QString("missing.bmp"), QString("sub")}) {
        name->setText(typed);
        QTest::keyClick(name, Qt::Key_Return);
    }
    EXPECT_EQ(dialog.result(), QDialog::Rejected) << "nothing was chosen";
    EXPECT_EQ(dialog.Directory().toStdString(), QDir(folder_.filePath("sub")).absolutePath().toStdString());
    EXPECT_TRUE(name->text().isEmpty());
}

// The program keeps no settings: choosing a picture and cancelling the
// dialog leave nothing in the configuration folder.
TEST_F(PicturePreviewTest, DialogWritesNoSettings) {
    QDir configuration(qEnvironmentVariable("XDG_CONFIG_HOME"));
    ASSERT_TRUE(configuration.exists());
    ASSERT_TRUE(configuration.removeRecursively() && configuration.mkpath("."));
    const QString chosen = WriteBitmap("chosen.bmp", 4, 4, RGB(9, 9, 9));
    {
        TOpenPictureDialog dialog(nullptr);
        QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
        EXPECT_FALSE(dialog.Execute());
        AnswerPictureDialog(chosen);
        EXPECT_TRUE(dialog.Execute());
    }
    QApplication::processEvents();
    EXPECT_TRUE(configuration.isEmpty()) << configuration.entryList().join(' ').toStdString();
}

}  // namespace

DOT3_QT_TEST_MAIN([] {})
