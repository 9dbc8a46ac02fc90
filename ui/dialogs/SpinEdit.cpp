#include "ui/dialogs/SpinEdit.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QVBoxLayout>

namespace brevanto::ui {

CSpinEdit::CSpinEdit(int minimum, int maximum, int maxLength, QWidget* parent)
    : QWidget(parent),
      m_edit(new QLineEdit(this)),
      m_up(new QToolButton(this)),
      m_down(new QToolButton(this)),
      m_minimum(minimum),
      m_maximum(maximum) {
  m_edit->setMaxLength(maxLength);
  m_edit->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_edit));
  m_up->setArrowType(Qt::UpArrow);
  m_down->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {m_up, m_down}) {
    b->setAutoRepeat(true);
    b->setFixedSize(16, 11);
    b->setFocusPolicy(Qt::NoFocus);
  }
  auto* arrows = new QVBoxLayout;
  arrows->setContentsMargins(0, 0, 0, 0);
  arrows->setSpacing(0);
  arrows->addWidget(m_up);
  arrows->addWidget(m_down);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(1);
  layout->addWidget(m_edit, 1);
  layout->addLayout(arrows);
  setFocusProxy(m_edit);
  m_edit->installEventFilter(this);
  connect(m_up, &QToolButton::clicked, this, [this] { Step(1); });
  connect(m_down, &QToolButton::clicked, this, [this] { Step(-1); });
}

QString CSpinEdit::text() const {
  return m_edit->text();
}

void CSpinEdit::setText(const QString& text) {
  m_edit->setText(text);
}

bool CSpinEdit::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_edit && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      Step(key == Qt::Key_Up ? 1 : -1);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void CSpinEdit::Step(int delta) {
  bool ok = false;
  const qlonglong current = m_edit->text().toLongLong(&ok);
  const qlonglong next = ok ? current + delta : m_minimum;
  m_edit->setText(QString::number(std::clamp<qlonglong>(next, m_minimum, m_maximum)));
}

}  // namespace brevanto::ui
