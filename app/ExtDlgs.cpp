#include "ExtDlgs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QStylePainter>
#include <QVBoxLayout>

#include <Graphics.h>
#include <SysUtils.h>

#include <algorithm>

namespace {

constexpr int kPreviewSide = 160;
// The dialog's own size, where the screen has room for it.
constexpr QSize kDialogSize(640, 400);
// How long the selection must rest before its picture is read.
constexpr int kPreviewDelayMs = 150;
// The type box shows about this many characters of its entries and elides
// the rest; the "All" entry lists every pattern and would otherwise make the
// dialog wider than most screens.
constexpr int kTypeBoxCharacters = 28;

// Qt reads a filter's patterns from its last parentheses, separated by
// blanks; the registrations list them separated by semicolons.
QString NameFilter(const TPicture::Filter& filter) {
    QString label = QString::fromStdString(filter.Description);
    const qsizetype open = label.lastIndexOf(QLatin1String(" ("));
    if (open > 0 && label.endsWith(QLatin1Char(')'))) label.truncate(open);
    QString patterns = QString::fromStdString(filter.Patterns);
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    return label + QLatin1String(" (") + patterns + QLatin1Char(')');
}

// A type box that shows the end of a long entry as an ellipsis instead of
// cutting it off.
class TElidingComboBox : public QComboBox {
public:
    using QComboBox::QComboBox;

protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        QStyleOptionComboBox option;
        initStyleOption(&option);
        painter.drawComplexControl(QStyle::CC_ComboBox, option);
        const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
        option.currentText = fontMetrics().elidedText(option.currentText, Qt::ElideRight, field.width());
        painter.drawControl(QStyle::CE_ComboBoxLabel, option);
    }
};

}  // namespace

QStringList PictureNameFilters() {
    QStringList filters;
    for (const TPicture::Filter& filter : TPicture::GraphicFilters()) filters << NameFilter(filter);
    return filters;
}

QImage PreviewImage(const QString& fileName, int maxWidth, int maxHeight, int& width, int& height) {
    TPicture picture;
    picture.LoadFromFile(fileName.toStdString());
    width = picture.Width();
    height = picture.Height();
    if (width <= 0 || height <= 0) return {};
    const double scale = std::min({1.0, double(maxWidth) / width, double(maxHeight) / height});
    const int w = std::max(1, int(width * scale));
    const int h = std::max(1, int(height * scale));

    TBitmap bitmap;
    bitmap.SetPixelFormat(pf32bit);
    bitmap.SetSize(w, h);
    bitmap.Canvas().StretchDraw(Rect(0, 0, w, h), *picture.Graphic());
    // 32-bit rows are blue, green, red, unused: the byte order of RGB32.
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        std::copy_n(bitmap.ScanLine(y), size_t(w) * 4, image.scanLine(y));
    return image;
}

TPicturePreview::TPicturePreview(QWidget* parent)
    : QWidget(parent), image_(new QLabel(this)), dimensions_(new QLabel(this)) {
    setObjectName(QStringLiteral("PicturePreview"));
    image_->setAlignment(Qt::AlignCenter);
    image_->setFrameShape(QFrame::StyledPanel);
    image_->setWordWrap(true);
    image_->setMargin(4);
    // The frame and the margin lie around the whole picture.
    const int border = 2 * (image_->frameWidth() + image_->margin());
    image_->setFixedSize(kPreviewSide + border, kPreviewSide + border);
    dimensions_->setAlignment(Qt::AlignCenter);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(image_);
    layout->addWidget(dimensions_);
    layout->addStretch();
    ShowFile({});
}

void TPicturePreview::ShowFile(const QString& fileName) {
    image_->clear();
    dimensions_->setText(QStringLiteral("(None)"));
    if (fileName.isEmpty() || !QFileInfo(fileName).isFile()) return;
    int width = 0, height = 0;
    try {
        const QImage image = PreviewImage(fileName, kPreviewSide, kPreviewSide, width, height);
        if (image.isNull()) return;
        image_->setPixmap(QPixmap::fromImage(image));
        dimensions_->setText(QStringLiteral("%1 x %2").arg(width).arg(height));
    } catch (const std::exception& error) {
        image_->setText(QString::fromLocal8Bit(error.what()));
    }
}

TPictureFileDialog::TPictureFileDialog(QWidget* parent, const QString& directory, const QStringList& nameFilters)
    : QDialog(parent),
      model_(new QFileSystemModel(this)),
      folder_(new QLabel(this)),
      files_(new QListView(this)),
      name_(new QLineEdit(this)),
      types_(new TElidingComboBox(this)),
      preview_(new TPicturePreview(this)) {
    setWindowTitle(QStringLiteral("Open"));
    model_->setFilter(QDir::AllDirs | QDir::Files | QDir::NoDotAndDotDot);
    model_->setNameFilterDisables(false);
    files_->setModel(model_);
    types_->addItems(nameFilters);
    types_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    types_->setMinimumContentsLength(kTypeBoxCharacters);
    for (int i = 0; i < types_->count(); ++i) types_->setItemData(i, nameFilters[i], Qt::ToolTipRole);
    // A deep folder's path must not widen the dialog either.
    folder_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    previewDelay_.setSingleShot(true);
    previewDelay_.setInterval(kPreviewDelayMs);

    auto* up = new QPushButton(QStringLiteral("Up"), this);
    auto* open = new QPushButton(QStringLiteral("Open"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    open->setDefault(true);
    auto* grid = new QGridLayout(this);
    grid->addWidget(folder_, 0, 0, 1, 2);
    grid->addWidget(up, 0, 2);
    grid->addWidget(files_, 1, 0, 1, 3);
    grid->addWidget(preview_, 0, 3, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("File name:"), this), 2, 0);
    grid->addWidget(name_, 2, 1, 1, 2);
    grid->addWidget(open, 2, 3);
    grid->addWidget(new QLabel(QStringLiteral("Files of type:"), this), 3, 0);
    grid->addWidget(types_, 3, 1, 1, 2);
    grid->addWidget(cancel, 3, 3);
    grid->setColumnStretch(1, 1);
    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    resize(screen ? kDialogSize.boundedTo(screen->availableGeometry().size()) : kDialogSize);

    connect(up, &QPushButton::clicked, this, [this] { SetDirectory(QFileInfo(directory_).absolutePath()); });
    connect(open, &QPushButton::clicked, this, &TPictureFileDialog::OpenTypedName);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(types_, &QComboBox::currentIndexChanged, this, &TPictureFileDialog::SetNameFilter);
    connect(files_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &TPictureFileDialog::CurrentChanged);
    connect(files_, &QListView::activated, this, &TPictureFileDialog::Activated);
    connect(&previewDelay_, &QTimer::timeout, this, [this] { preview_->ShowFile(pending_); });
    connect(name_, &QLineEdit::textEdited, this, [this](const QString& typed) {
        const QFileInfo target(QDir(directory_), typed.trimmed());
        PreviewLater(target.isFile() ? target.absoluteFilePath() : QString());
    });

    SetNameFilter(0);
    SetDirectory(directory.isEmpty() ? QDir::currentPath() : directory);
    name_->setFocus();
}

void TPictureFileDialog::SelectFile(const QString& fileName) {
    const QFileInfo file(QDir(directory_), fileName);
    SetDirectory(file.absolutePath());
    name_->setText(file.fileName());
}

void TPictureFileDialog::SetDirectory(const QString& path) {
    directory_ = QDir(path).absolutePath();
    folder_->setText(QDir::toNativeSeparators(directory_));
    files_->setRootIndex(model_->setRootPath(directory_));
    PreviewLater({});
}

void TPictureFileDialog::PreviewLater(const QString& fileName) {
    pending_ = fileName;
    if (fileName.isEmpty()) {
        previewDelay_.stop();
        preview_->ShowFile({});
    } else {
        previewDelay_.start();
    }
}

// Qt's filter text ends with its patterns in parentheses, blank-separated.
void TPictureFileDialog::SetNameFilter(int index) {
    const QString filter = types_->itemText(index);
    const qsizetype open = filter.lastIndexOf(QLatin1Char('(')), close = filter.lastIndexOf(QLatin1Char(')'));
    model_->setNameFilters(open >= 0 && close > open
                               ? filter.mid(open + 1, close - open - 1).split(QLatin1Char(' '), Qt::SkipEmptyParts)
                               : QStringList());
}

void TPictureFileDialog::CurrentChanged(const QModelIndex& index) {
    if (!index.isValid() || model_->isDir(index)) {
        PreviewLater({});
        return;
    }
    name_->setText(model_->fileName(index));
    PreviewLater(model_->filePath(index));
}

void TPictureFileDialog::Activated(const QModelIndex& index) {
    if (model_->isDir(index)) {
        SetDirectory(model_->filePath(index));
        return;
    }
    name_->setText(model_->fileName(index));
    OpenTypedName();
}

void TPictureFileDialog::OpenTypedName() {
    const QString typed = name_->text().trimmed();
    if (typed.isEmpty()) return;
    const QFileInfo target(QDir(directory_), typed);
    if (target.isDir()) {
        SetDirectory(target.absoluteFilePath());
        name_->clear();
    } else if (target.isFile()) {
        selected_ = target.absoluteFilePath();
        accept();
    }
}

TOpenPictureDialog::TOpenPictureDialog(QWidget* owner) : QObject(owner), owner_(owner) {
    // An installed program keeps its sample textures in a folder beside its
    // own; the first dialog shows them.
    const QDir samples(QCoreApplication::applicationDirPath() + QStringLiteral("/" DOT3_SAMPLES_FROM_PROGRAM));
    if (samples.exists()) directory_ = samples.absolutePath();
}

bool TOpenPictureDialog::Execute() {
    TPictureFileDialog dialog(owner_, directory_, PictureNameFilters());
    dialog.setObjectName(objectName());
    if (dialog.exec() != QDialog::Accepted) return false;
    directory_ = QFileInfo(dialog.SelectedFile()).absolutePath();
    FileName = dialog.SelectedFile().toStdString();
    return true;
}
