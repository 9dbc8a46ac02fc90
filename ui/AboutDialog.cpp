#include "ui/AboutDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/Icons.h"
#include "ui/Product.h"

namespace brevanto::ui {

namespace {

QLabel* Link(QWidget* parent, const char* name, const QString& href, const QString& text) {
  auto* label = new QLabel(QStringLiteral("<a style=\"color:#0000ff\" href=\"%1\">%2</a>")
                               .arg(href.toHtmlEscaped(), text.toHtmlEscaped()),
                           parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::RichText);
  label->setTextInteractionFlags(Qt::TextBrowserInteraction);
  label->setOpenExternalLinks(true);
  label->setCursor(Qt::PointingHandCursor);
  return label;
}

}  // namespace

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("aboutDialog");
  setWindowTitle(tr("About Brevanto"));

  auto* icon = new QLabel(this);
  icon->setPixmap(MakeIcon(IconRole::Program).pixmap(48, 48));
  icon->setAlignment(Qt::AlignTop);

  auto* name = new QLabel(QString::fromLatin1(kAboutVersion), this);
  name->setObjectName("aboutVersion");
  QFont bold = name->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.2);
  name->setFont(bold);

  auto* text = new QVBoxLayout;
  text->addWidget(name);
  text->addSpacing(8);
  text->addWidget(Link(this, "aboutWebSite", QString::fromLatin1(kWebSiteUrl),
                       QString::fromLatin1(kWebSiteUrl)));
  text->addWidget(Link(this, "aboutEmail",
                       QStringLiteral("mailto:") + QString::fromLatin1(kSupportEmail),
                       QString::fromLatin1(kSupportEmail)));
  text->addWidget(Link(this, "aboutMaker", QString::fromLatin1(kMakerSiteUrl),
                       QString::fromLatin1(kMakerSiteUrl)));

  auto* top = new QHBoxLayout;
  top->addWidget(icon);
  top->addSpacing(12);
  top->addLayout(text, 1);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace brevanto::ui
