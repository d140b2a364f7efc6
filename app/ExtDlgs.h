// The open-picture dialog: a file dialog whose side pane previews the
// selected picture, read through the registered picture formats.
#pragma once

#include <QImage>
#include <QLabel>
#include <QObject>
#include <QStringList>
#include <QWidget>

#include <string>

// The pane beside the file list: the picture scaled to fit and its size.
class TPicturePreview : public QWidget {
    Q_OBJECT
public:
    explicit TPicturePreview(QWidget* parent = nullptr);

    // Shows the picture in fileName, or "(None)" when it cannot be read.
    void ShowFile(const QString& fileName);

    QImage Image() const { return image_->pixmap().toImage(); }
    QString Dimensions() const { return dimensions_->text(); }

private:
    QLabel* image_;
    QLabel* dimensions_;
};

class TOpenPictureDialog : public QObject {
    Q_OBJECT
public:
    explicit TOpenPictureDialog(QWidget* owner);

    // Runs the dialog; true when the user chose a file (then in FileName).
    bool Execute();

    std::string FileName;

private:
    QWidget* owner_;
    QString directory_;
};

// The dialog's filters from the picture registrations: "All" first when
// there is more than one, then one per registration, most recent first.
QStringList PictureNameFilters();

// The picture scaled to fit into maxWidth x maxHeight, keeping its shape;
// throws what the reader throws.
QImage PreviewImage(const QString& fileName, int maxWidth, int maxHeight, int& width, int& height);
