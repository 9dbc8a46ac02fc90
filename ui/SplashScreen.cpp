#include "ui/SplashScreen.h"

#include <QDateTime>
#include <QEventLoop>
#include <QLinearGradient>
#include <QPainter>
#include <QTimer>

#include "ui/Icons.h"
#include "ui/Product.h"

namespace brevanto::ui {

namespace {

constexpr int kLongestMs = 3000;

QPixmap DrawSplash() {
  QPixmap pixmap(420, 200);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient background(0, 0, 0, 200);
  background.setColorAt(0, QColor(34, 92, 160));
  background.setColorAt(1, QColor(18, 50, 96));
  p.fillRect(pixmap.rect(), background);
  p.drawPixmap(28, 52, MakeIcon(IconRole::Program).pixmap(96, 96));
  QFont title;
  title.setPixelSize(30);
  title.setBold(true);
  p.setFont(title);
  p.setPen(Qt::white);
  p.drawText(QRect(140, 58, 270, 40), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Brevanto"));
  QFont subtitle;
  subtitle.setPixelSize(15);
  p.setFont(subtitle);
  p.setPen(QColor(205, 222, 245));
  p.drawText(QRect(140, 98, 270, 24), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("Standard Edition 2.0"));
  p.drawText(QRect(140, 124, 270, 24), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("Scheduled MySQL backups, copies and exports"));
  p.end();
  return pixmap;
}

}  // namespace

SplashScreen::SplashScreen()
    : QSplashScreen(DrawSplash(), Qt::WindowStaysOnTopHint),
      m_shownAt(QDateTime::currentMSecsSinceEpoch()) {
  setObjectName("splash");
  QTimer::singleShot(kLongestMs, this, &QWidget::close);
}

void SplashScreen::FinishAfter(int minimumMs) {
  const qint64 left = minimumMs - (QDateTime::currentMSecsSinceEpoch() - m_shownAt);
  if (left > 0 && isVisible()) {
    QEventLoop wait;
    QTimer::singleShot(left, &wait, &QEventLoop::quit);
    wait.exec();
  }
  close();
}

}  // namespace brevanto::ui
