#include "dialog/AboutDlg.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QStyle>

#include "dialog/DialogUnits.h"
#include "run/AppText.h"

CAboutDlg::CAboutDlg(const QIcon& icon, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromWCharArray(AppText::kAboutCaption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(CDialogUnits::DialogFont());
    setModal(true);
    const CDialogUnits units(font());

    m_iconLabel = new QLabel(this);
    const int iconSize = style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, this);
    m_iconLabel->setPixmap(icon.pixmap(iconSize, iconSize));
    m_iconLabel->setGeometry(units.X(14), units.Y(14), iconSize, iconSize);

    m_versionLabel = new QLabel(QString::fromWCharArray(AppText::kAboutVersion), this);
    m_versionLabel->setGeometry(units.Rect(41, 14, 119, 8));

    m_okButton = new QPushButton(QString::fromWCharArray(AppText::kAboutOk), this);
    m_okButton->setGeometry(units.Rect(115, 40, 50, 14));
    m_okButton->setDefault(true);
    connect(m_okButton, &QPushButton::clicked, this, &QDialog::accept);

    setFixedSize(units.Size(170, 62));
}

namespace {

QPixmap DrawIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;

    // Camera body.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x2b, 0x4a, 0x6f));
    painter.drawRoundedRect(QRectF(s * 0.06, s * 0.22, s * 0.88, s * 0.66), s * 0.12, s * 0.12);
    painter.drawRect(QRectF(s * 0.30, s * 0.12, s * 0.28, s * 0.14));

    // Lens.
    painter.setBrush(QColor(0xe8, 0xee, 0xf4));
    painter.drawEllipse(QPointF(s * 0.50, s * 0.55), s * 0.25, s * 0.25);
    painter.setBrush(QColor(0x16, 0x26, 0x3a));
    painter.drawEllipse(QPointF(s * 0.50, s * 0.55), s * 0.17, s * 0.17);

    // Flash bolt across the lens.
    QPainterPath bolt;
    bolt.moveTo(s * 0.55, s * 0.34);
    bolt.lineTo(s * 0.40, s * 0.58);
    bolt.lineTo(s * 0.50, s * 0.58);
    bolt.lineTo(s * 0.44, s * 0.78);
    bolt.lineTo(s * 0.62, s * 0.50);
    bolt.lineTo(s * 0.52, s * 0.50);
    bolt.closeSubpath();
    painter.setBrush(QColor(0xf5, 0xa6, 0x23));
    painter.drawPath(bolt);
    return pixmap;
}

}  // namespace

QIcon LoadApplicationIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128}) icon.addPixmap(DrawIcon(size));
    return icon;
}
