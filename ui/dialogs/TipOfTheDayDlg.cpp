#include "ui/dialogs/TipOfTheDayDlg.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/Product.h"
#include "ui/Text.h"
#include "ui/dialogs/Named.h"

namespace brevanto::ui {

namespace {

const char* const kTips[] = {
    "\nTo Add/Edit/Delete a MySQL server information you should choose menu \"Tools\"->\"MySQL "
    "Servers...\".",
    "\nTo protect your settings about the tasks you should set username and password at "
    "Options dialog from menu \"Tools\"->\"Options...\".",
    "\nTo get more detailed information about the task click twice on the task list.",
    "\nTo start all tasks you should choose menu \"Run\"->\"Start All\".",
    "\nTo stop all tasks you should choose menu \"Run\"->\"Stop All\".",
    "\nYou can set date and time format at Options dialog from menu \"Tools\"->\"Options...\".",
    "\nTo rename a task you should press \"F2\" on keyboard.",
    "\nTo restore MySQL databases you should create a scheduled task of Restore.",
};

// A light bulb beside the tip.
QPixmap TipPicture() {
  QPixmap pixmap(48, 64);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(150, 120, 0), 1.5));
  p.setBrush(QColor(255, 230, 90));
  p.drawEllipse(QRectF(6, 6, 36, 36));
  p.setBrush(QColor(170, 170, 170));
  p.setPen(QPen(QColor(90, 90, 90), 1.5));
  p.drawRect(QRectF(16, 42, 16, 12));
  p.drawLine(QPointF(16, 46), QPointF(32, 46));
  p.drawLine(QPointF(16, 50), QPointF(32, 50));
  return pixmap;
}

}  // namespace

int TipCount() {
  return static_cast<int>(std::size(kTips)) + 1;
}

std::string TipText(int index) {
  if (index == 0) {
    return std::string(
               "\nWelcome to the Brevanto Standard Edition 2.0!\nTo get more information "
               "about the software, please visit our web site.\n\n") +
           kWebSiteUrl + "\nSupport Email: " + kSupportEmail;
  }
  if (index < 0 || index >= TipCount()) return std::string();
  return kTips[index - 1];
}

CTipOfTheDayDlg::CTipOfTheDayDlg(int lastTipIndex, bool showAtStart, QWidget* parent)
    : QDialog(parent),
      m_showAtStart(showAtStart),
      m_tip(Named(new QLabel(this), "tipText")),
      m_counter(Named(new QLabel(this), "tipCounter")),
      m_check(Named(new QCheckBox(tr("&Show tips on start up"), this), "showTips")) {
  setObjectName("tipOfTheDay");
  setWindowTitle(tr("Tip of the Day"));

  auto* picture = new QLabel(this);
  picture->setPixmap(TipPicture());
  picture->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  picture->setContentsMargins(10, 10, 10, 10);
  picture->setAutoFillBackground(true);
  picture->setStyleSheet(QStringLiteral("background-color: #808080;"));

  auto* heading = new QLabel(QStringLiteral("\n") + tr("Did you know..."), this);
  QFont bold = heading->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.4);
  heading->setFont(bold);
  m_tip->setWordWrap(true);
  m_tip->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_tip->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* area = new QFrame(this);
  area->setFrameShape(QFrame::StyledPanel);
  area->setAutoFillBackground(true);
  area->setStyleSheet(QStringLiteral("QFrame { background-color: white; }"));
  auto* text = new QVBoxLayout;
  text->addWidget(heading);
  text->addWidget(m_tip, 1);
  auto* areaLayout = new QHBoxLayout(area);
  areaLayout->setContentsMargins(0, 0, 8, 8);
  areaLayout->addWidget(picture);
  areaLayout->addLayout(text, 1);

  auto* previous = Named(new QPushButton(tr("&Previous Tip"), this), "previousTip");
  auto* next = Named(new QPushButton(tr("&Next Tip"), this), "nextTip");
  auto* close = Named(new QPushButton(tr("&Close"), this), "closeTip");
  close->setDefault(true);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(m_check);
  bottom->addStretch(1);
  bottom->addWidget(m_counter);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(previous);
  buttons->addWidget(next);
  buttons->addWidget(close);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(area, 1);
  layout->addLayout(bottom);
  layout->addLayout(buttons);
  resize(460, 280);

  m_check->setChecked(showAtStart);
  const int count = TipCount();
  // Anything out of range (a damaged options file) starts over at the first tip.
  ShowTip(lastTipIndex >= 0 && lastTipIndex < count - 1 ? lastTipIndex + 1 : 0);

  connect(previous, &QPushButton::clicked, this, &CTipOfTheDayDlg::PreviousTip);
  connect(next, &QPushButton::clicked, this, &CTipOfTheDayDlg::NextTip);
  connect(close, &QPushButton::clicked, this, &CTipOfTheDayDlg::accept);
  connect(m_check, &QCheckBox::toggled, this, &CTipOfTheDayDlg::ReadCheckBox);
}

void CTipOfTheDayDlg::ShowTip(int index) {
  m_index = index;
  m_tip->setText(ToQt(TipText(index)));
  m_counter->setText(tr("Tip %1 of %2").arg(index + 1).arg(TipCount()));
}

void CTipOfTheDayDlg::ReadCheckBox() {
  m_showAtStart = m_check->isChecked();
}

void CTipOfTheDayDlg::NextTip() {
  ReadCheckBox();
  ShowTip((m_index + 1) % TipCount());
}

void CTipOfTheDayDlg::PreviousTip() {
  ReadCheckBox();
  ShowTip((m_index + TipCount() - 1) % TipCount());
}

}  // namespace brevanto::ui
