// The open-picture dialog on a 1024 x 768 screen, with every registered
// format in its type box: it opens at its own size with every control and
// the preview on the screen, and reads the selected picture only once the
// selection rests.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <GraphicFormats.h>
#include <Graphics.h>
#include <System.h>

#include "ExtDlgs.h"
#include "Forms.h"

namespace {

TEST(PictureDialogOnScreen, FitsTheScreenWithEveryControlAndThePreview) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_EQ(screen.size(), QSize(1024, 768));
    const QStringList filters = PictureNameFilters();
    ASSERT_GT(filters.front().size(), 200) << "the All entry lists every pattern";

    QTemporaryDir folder;
    ASSERT_TRUE(QFile::copy(QStringLiteral(DOT3_ASSETS "/bricks.bmp"), folder.filePath("bricks.bmp")));
    QFile broken(folder.filePath("broken.png"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly) && broken.write("\x89PNG\r\n\x1a\n", 8) == 8);
    broken.close();

    TPictureFileDialog dialog(nullptr, folder.path(), filters);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_EQ(dialog.size(), QSize(640, 400));
    EXPECT_TRUE(screen.contains(dialog.frameGeometry())) << dialog.frameGeometry().width();
    QList<QWidget*> controls{dialog.findChild<QComboBox*>(), dialog.findChild<QListView*>(),
                             dialog.findChild<TPicturePreview*>()};
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) controls << button;
    ASSERT_EQ(controls.size(), 6);
    for (const QWidget* control : controls) {
        ASSERT_NE(control, nullptr);
        const QRect onScreen(control->mapToGlobal(QPoint(0, 0)), control->size());
        EXPECT_TRUE(control->isVisible() && screen.contains(onScreen) && dialog.geometry().contains(onScreen))
            << control->metaObject()->className() << " " << onScreen.x() << "," << onScreen.y();
    }

    // Moving through the list reads nothing until the selection rests.
    auto* list = dialog.findChild<QListView*>();
    auto* preview = dialog.findChild<TPicturePreview*>();
    const auto select = [&](const QString& name) {
        const auto* model = list->model();
        for (int row = 0; row < model->rowCount(list->rootIndex()); ++row)
            if (model->index(row, 0, list->rootIndex()).data().toString() == name) {
                list->setCurrentIndex(model->index(row, 0, list->rootIndex()));
                return true;
            }
        return false;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return select("bricks.bmp"); }, 3000));
    EXPECT_EQ(preview->Dimensions(), "(None)");
    ASSERT_TRUE(QTest::qWaitFor([&] { return preview->Dimensions() == "256 x 256"; }, 2000));
    EXPECT_EQ(preview->Image().size(), QSize(160, 160));

    // A picture its reader refuses shows the reader's message instead.
    ASSERT_TRUE(select("broken.png"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return preview->Image().isNull(); }, 2000));
    EXPECT_EQ(preview->Dimensions(), "(None)");
    std::string refusal;
    try {
        TPicture().LoadFromFile(broken.fileName().toStdString());
    } catch (const std::exception& error) {
        refusal = error.what();
    }
    EXPECT_FALSE(refusal.empty());
    EXPECT_EQ(preview->Message().toStdString(), refusal);
}

}  // namespace

// The offscreen platform's one screen, 1024 x 768 at 96 dots per inch,
// described in a file the platform reads at start.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir settings;
    QFile screens(settings.filePath("screens.json"));
    if (!screens.open(QIODevice::WriteOnly)) return 2;
    screens.write(R"({"screens": [{"name": "Desktop", "x": 0, "y": 0, "width": 1024, "height": 768,
                      "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    screens.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + screens.fileName().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
    TApplication application(argc, argv);
    InitializeUnit("Graphics", InitializeFrameworkGraphics, nullptr);
    InitializeUnit("GraphicFormats", GraphicFormatsInitialization, GraphicFormatsFinalization);
    const int status = RUN_ALL_TESTS();
    FinalizeUnits();
    return status;
}
