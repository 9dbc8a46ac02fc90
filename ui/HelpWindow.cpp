#include "ui/HelpWindow.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QKeySequence>
#include <QPointer>
#include <QScreen>
#include <QShortcut>
#include <QTextBrowser>
#include <QToolBar>
#include <QUrl>

#include "ui/Icons.h"
#include "ui/Product.h"

// The topics are compiled into this static library; its resources must be registered by
// hand or the linker drops them (Q_INIT_RESOURCE works only outside a namespace).
static void RegisterHelpTopics() {
  Q_INIT_RESOURCE(help);
}

namespace brevanto::ui {

namespace {

constexpr const char* kContents = "index.html";

QPointer<HelpWindow>& Instance() {
  static QPointer<HelpWindow> window;
  return window;
}

}  // namespace

QUrl HelpWindow::TopicUrl(const QString& topic) {
  static const bool registered = (RegisterHelpTopics(), true);
  (void)registered;
  QString path = topic;
  const qsizetype separator = path.indexOf(QLatin1String("::"));
  if (separator >= 0) path = path.mid(separator + 2);
  while (path.startsWith('/')) path.remove(0, 1);
  if (path.isEmpty()) path = QString::fromLatin1(kContents);
  const QString resource = QStringLiteral(":/help/") + path;
  if (path.contains(QLatin1String("..")) || !QFile::exists(resource)) return QUrl();
  return QUrl(QStringLiteral("qrc") + resource);
}

HelpWindow* HelpWindow::Open(const QString& topic) {
  QPointer<HelpWindow>& window = Instance();
  if (window.isNull()) window = new HelpWindow();
  // Opened from a modal window (the log viewer), a window of its own would take no input
  // until that one closed: the manual then belongs to the modal window and closes with it.
  QWidget* modal = QApplication::activeModalWidget();
  if (modal != nullptr && modal != window && window->parentWidget() != modal) {
    window->setParent(modal, window->windowFlags() | Qt::Window);
    window->PlaceOver(modal);
  }
  QUrl url = TopicUrl(topic);
  if (url.isEmpty()) url = TopicUrl(QString());
  window->m_browser->setSource(url);
  window->show();
  window->raise();
  window->activateWindow();
  return window;
}

HelpWindow::HelpWindow() : m_browser(new QTextBrowser(this)) {
  setObjectName("helpWindow");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowIcon(MakeIcon(IconRole::Program));
  m_browser->setObjectName("helpBrowser");
  m_browser->setOpenExternalLinks(true);
  setCentralWidget(m_browser);
  resize(760, 560);
  // A reading window goes away as other viewers do.
  for (const QKeySequence& keys :
       {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
    connect(new QShortcut(keys, this), &QShortcut::activated, this, &QWidget::close);
  }

  QToolBar* bar = addToolBar(tr("Navigation"));
  bar->setObjectName("helpToolBar");
  bar->setMovable(false);
  QAction* back = bar->addAction(QIcon::fromTheme("go-previous"), tr("&Back"), m_browser,
                                 &QTextBrowser::backward);
  back->setShortcut(QKeySequence::Back);
  QAction* forward = bar->addAction(QIcon::fromTheme("go-next"), tr("&Forward"), m_browser,
                                    &QTextBrowser::forward);
  forward->setShortcut(QKeySequence::Forward);
  bar->addAction(QIcon::fromTheme("go-home"), tr("&Contents"), m_browser, &QTextBrowser::home);
  back->setEnabled(false);
  forward->setEnabled(false);
  connect(m_browser, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
  connect(m_browser, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
  connect(m_browser, &QTextBrowser::sourceChanged, this, [this] {
    const QString title = m_browser->documentTitle();
    const QString help = tr("%1 Help").arg(QString::fromLatin1(kWindowTitle));
    // The contents page is titled like the manual itself: name it once.
    setWindowTitle(title.isEmpty() || title == help ? help : tr("%1 - %2").arg(title, help));
  });
}

HelpWindow::~HelpWindow() = default;

void HelpWindow::PlaceOver(const QWidget* owner) {
  // A window given a parent keeps its old position, now read relative to the parent; put
  // it over its owner instead, wholly on the owner's screen.
  const QScreen* screen = owner->screen();
  if (screen == nullptr) return;
  const QRect available = screen->availableGeometry();
  QRect frame(QPoint(), size().boundedTo(available.size()));
  frame.moveCenter(owner->frameGeometry().center());
  frame.moveLeft(std::clamp(frame.left(), available.left(), available.right() - frame.width()));
  frame.moveTop(std::clamp(frame.top(), available.top(), available.bottom() - frame.height()));
  resize(frame.size());
  move(frame.topLeft());
}

}  // namespace brevanto::ui
