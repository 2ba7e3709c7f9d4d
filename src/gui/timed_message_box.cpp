#include "gui/timed_message_box.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include "app/common/text_utils.h"
#include "gui/gui_support.h"

namespace kzb::gui {

QString TimedMessageBox::TitleOf(app::MessageKind kind) {
  switch (kind) {
    case app::MessageKind::kWarning:
      return "Warning";
    case app::MessageKind::kError:
      return "Error";
    case app::MessageKind::kInformation:
      return "Information";
    case app::MessageKind::kConfirm:
      return "Confirm";
    case app::MessageKind::kCustom:
      break;
  }
  return kProgramName;
}

namespace {

QStyle::StandardPixmap IconOf(app::MessageKind kind, bool& has_icon) {
  has_icon = true;
  switch (kind) {
    case app::MessageKind::kWarning:
      return QStyle::SP_MessageBoxWarning;
    case app::MessageKind::kError:
      return QStyle::SP_MessageBoxCritical;
    case app::MessageKind::kInformation:
      return QStyle::SP_MessageBoxInformation;
    case app::MessageKind::kConfirm:
      return QStyle::SP_MessageBoxQuestion;
    case app::MessageKind::kCustom:
      break;
  }
  has_icon = false;
  return QStyle::SP_MessageBoxInformation;
}

}  // namespace

TimedMessageBox::TimedMessageBox(const QString& text, app::MessageKind kind, int seconds, QWidget* parent)
    : QDialog(parent) {
  setObjectName("TMsgForm");
  setWindowTitle(TitleOf(kind));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setModal(true);

  const QString shown = Q(app::CarriageReturnsToNewlines(S(text)));
  text_label_ = new QLabel(shown, this);
  text_label_->setObjectName("labelText");
  text_label_->setTextFormat(Qt::PlainText);
  text_label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  // Wrapped at half the screen's width: the label is as wide as its longest line, up to that limit.
  QScreen* screen =
      parent != nullptr && parent->screen() != nullptr ? parent->screen() : QGuiApplication::primaryScreen();
  const int limit = screen != nullptr ? screen->availableGeometry().width() / 2 : 640;
  const QFontMetrics metrics(text_label_->font());
  int widest = 0;
  for (const QString& line : shown.split('\n')) widest = std::max(widest, metrics.horizontalAdvance(line));
  text_label_->setWordWrap(widest > limit);
  text_label_->setFixedWidth(std::min(widest + 2, limit));
  text_label_->setMinimumHeight(32);
  text_label_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

  icon_label_ = new QLabel(this);
  icon_label_->setObjectName("labelIcon");
  bool has_icon = false;
  const QStyle::StandardPixmap pixmap = IconOf(kind, has_icon);
  if (has_icon) {
    icon_label_->setPixmap(style()->standardIcon(pixmap, nullptr, this).pixmap(32, 32));
    icon_label_->setAlignment(Qt::AlignTop);
  } else {
    icon_label_->hide();
  }

  ok_button_ = new QPushButton("OK", this);
  ok_button_->setObjectName("buttonOk");
  ok_button_->setDefault(true);
  ok_button_->setAutoDefault(true);
  ok_button_->setMinimumWidth(std::max(ok_button_->sizeHint().width(), metrics.averageCharWidth() * 12));
  connect(ok_button_, &QPushButton::clicked, this, &QDialog::accept);

  auto* top = new QHBoxLayout;
  top->setSpacing(metrics.averageCharWidth() * 2);
  top->addWidget(icon_label_, 0, Qt::AlignTop);
  top->addWidget(text_label_, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch();
  bottom->addWidget(ok_button_);
  bottom->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(metrics.averageCharWidth() * 2, metrics.height(), metrics.averageCharWidth() * 2,
                             metrics.height() / 2);
  layout->setSpacing(metrics.height());
  layout->addLayout(top);
  layout->addLayout(bottom);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  // The countdown starts now, before the window is shown, and nothing restarts it.
  close_timer_ = new QTimer(this);
  close_timer_->setObjectName("closeTimer");
  close_timer_->setSingleShot(true);
  close_timer_->setInterval(std::max(0, seconds) * 1000);
  connect(close_timer_, &QTimer::timeout, this, &QDialog::accept);
  close_timer_->start();
}

void TimedMessageBox::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CenterOnScreen(this);
  ok_button_->setFocus();
}

void TimedMessageBox::Show(const QString& text, app::MessageKind kind, int seconds, QWidget* parent) {
  TimedMessageBox box(text, kind, seconds, parent);
  box.exec();
}

}  // namespace kzb::gui
