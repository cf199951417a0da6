#pragma once
// TAboutBox: the program's About window, shown without blocking the main window.
#include <QDialog>

class QPushButton;

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

    // Shows the window centred on the screen, or brings it up again when it is already open.
    void ShowNonModal();

    QPushButton* OKButton = nullptr;

private:
    void OKButtonClick();
    bool FPlaced = false;
};
