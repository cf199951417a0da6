#include "app/window/AboutBox.h"

#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About"));
    setModal(false);
    // A plain dialog frame: no help or size buttons.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setFrameShadow(QFrame::Sunken);

    auto* icon = new QLabel(panel);
    icon->setObjectName(QStringLiteral("ProgramIcon"));
    icon->setPixmap(QIcon(QStringLiteral(":/folianto/folianto.png")).pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto* product = new QLabel(QStringLiteral("Folianto"), panel);
    product->setObjectName(QStringLiteral("ProductName"));
    QFont big = product->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.4);
    product->setFont(big);
    auto* version = new QLabel(QStringLiteral("Version 1.0"), panel);
    version->setObjectName(QStringLiteral("Version"));
    auto* copyright = new QLabel(QStringLiteral("Copyright (C) 2026 Quorvant"), panel);
    copyright->setObjectName(QStringLiteral("Copyright"));
    auto* comments =
        new QLabel(QStringLiteral("Turns a list of image files into one multi-page PDF document."), panel);
    comments->setObjectName(QStringLiteral("Comments"));
    comments->setWordWrap(true);

    auto* texts = new QVBoxLayout;
    texts->addWidget(product);
    texts->addWidget(version);
    texts->addSpacing(6);
    texts->addWidget(copyright);
    texts->addSpacing(6);
    texts->addWidget(comments);
    texts->addStretch(1);
    auto* panelLayout = new QHBoxLayout(panel);
    panelLayout->addWidget(icon);
    panelLayout->addLayout(texts, 1);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &TAboutBox::OKButtonClick);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKButton);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(panel, 1);
    layout->addLayout(buttons);

    setFixedSize(298, 198);
}

void TAboutBox::ShowNonModal() {
    if (!FPlaced) {
        // Centred on the screen once; afterwards it keeps wherever the user moved it.
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame(QPoint(0, 0), size());
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
        FPlaced = true;
    }
    show();
    raise();
    activateWindow();
}

void TAboutBox::OKButtonClick() {
    close();
}
