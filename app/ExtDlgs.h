// The open-picture dialog: a file dialog whose side pane previews the
// selected picture, read through the registered picture formats.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QFileSystemModel>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <string>

// The pane beside the file list: the picture scaled to fit and its size.
class TPicturePreview : public QWidget {
    Q_OBJECT
public:
    explicit TPicturePreview(QWidget* parent = nullptr);

    // Shows the picture in fileName, or "(None)" when there is none; a file
    // the readers refuse shows their message in place of the picture.
    void ShowFile(const QString& fileName);

    QImage Image() const { return image_->pixmap().toImage(); }
    QString Dimensions() const { return dimensions_->text(); }
    QString Message() const { return image_->text(); }

private:
    QLabel* image_;
    QLabel* dimensions_;
};

// The open dialog itself: the pictures of one folder (as the chosen type
// selects them) with their subfolders, a name box that also takes a folder
// or a whole path, and the preview pane. It keeps no history and writes no
// settings, as the program keeps none.
class TPictureFileDialog : public QDialog {
    Q_OBJECT
public:
    TPictureFileDialog(QWidget* parent, const QString& directory, const QStringList& nameFilters);

    // Shows fileName's folder with fileName chosen in the name box.
    void SelectFile(const QString& fileName);
    // The chosen file once the dialog was accepted.
    QString SelectedFile() const { return selected_; }
    QString Directory() const { return directory_; }

private:
    void SetDirectory(const QString& path);
    void SetNameFilter(int index);
    void CurrentChanged(const QModelIndex& index);
    void Activated(const QModelIndex& index);
    // Opens what the name box names: a folder is entered, a file accepted.
    void OpenTypedName();
    // Previews fileName once the selection has rested a moment, so that
    // moving through a list of large pictures does not read each of them.
    void PreviewLater(const QString& fileName);

    QFileSystemModel* model_;
    QLabel* folder_;
    QListView* files_;
    QLineEdit* name_;
    QComboBox* types_;
    TPicturePreview* preview_;
    QTimer previewDelay_;
    QString directory_, selected_, pending_;
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
