#include "ExtDlgs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QVBoxLayout>

#include <Graphics.h>
#include <SysUtils.h>

#include <algorithm>

namespace {

constexpr int kPreviewSide = 160;

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
    image_->setFixedSize(kPreviewSide, kPreviewSide);
    image_->setAlignment(Qt::AlignCenter);
    image_->setFrameShape(QFrame::StyledPanel);
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
    } catch (const std::exception&) {
        // A file the readers reject simply has no preview; choosing it
        // reports the error when the program loads it.
    }
}

TOpenPictureDialog::TOpenPictureDialog(QWidget* owner) : QObject(owner), owner_(owner) {}

bool TOpenPictureDialog::Execute() {
    QFileDialog dialog(owner_, QStringLiteral("Open"), directory_);
    dialog.setObjectName(objectName());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(PictureNameFilters());

    auto* preview = new TPicturePreview(&dialog);
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
        grid->addWidget(preview, 0, grid->columnCount(), grid->rowCount(), 1);
    connect(&dialog, &QFileDialog::currentChanged, preview, &TPicturePreview::ShowFile);

    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    const QString chosen = dialog.selectedFiles().constFirst();
    directory_ = QFileInfo(chosen).absolutePath();
    FileName = chosen.toStdString();
    return true;
}
