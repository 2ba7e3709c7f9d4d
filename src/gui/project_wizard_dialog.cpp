#include "gui/project_wizard_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFont>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTimeEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/common/text_utils.h"
#include "gui/entry_list_widget.h"
#include "gui/gui_support.h"

namespace kzb::gui {

namespace {

template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(name);
  return widget;
}

}  // namespace

ProjectWizardDialog::ProjectWizardDialog(app::ProjectWizard& wizard, app::UserInterface& ui, QWidget* parent)
    : QDialog(parent), wizard_(&wizard), ui_(&ui) {
  setObjectName("TFormProjectName");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  pages_ = Named(new QStackedWidget(this), "Pages");
  pages_->addWidget(NamePage());
  pages_->addWidget(IncludePage());
  pages_->addWidget(ExcludePage());
  pages_->addWidget(DestinationPage());
  pages_->addWidget(OptionsPage());
  pages_->addWidget(SchedulePage());

  help_ = Named(new QPushButton("Help", this), "ButtonHelp");
  back_ = Named(new QPushButton("Back", this), "ButtonBack");
  next_ = Named(new QPushButton("Next", this), "ButtonNext");
  cancel_ = Named(new QPushButton("Cancel", this), "ButtonCancel");
  next_->setDefault(true);
  for (QPushButton* b : {help_, back_, cancel_}) b->setAutoDefault(false);
  connect(help_, &QPushButton::clicked, this, [this] { OpenHelpTopic(wizard_->HelpContext()); });
  auto* f1 = new QShortcut(QKeySequence::HelpContents, this);
  connect(f1, &QShortcut::activated, this, [this] { OpenHelpTopic(wizard_->HelpContext()); });
  connect(back_, &QPushButton::clicked, this, &ProjectWizardDialog::BackClicked);
  connect(next_, &QPushButton::clicked, this, &ProjectWizardDialog::NextClicked);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

  auto* line = new QFrame(this);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(help_);
  buttons->addStretch();
  buttons->addWidget(back_);
  buttons->addWidget(next_);
  buttons->addSpacing(fontMetrics().averageCharWidth() * 2);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pages_);
  layout->addWidget(line);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  ShowModel();
}

void ProjectWizardDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CenterOnScreen(this);
}

QWidget* ProjectWizardDialog::Page(const QString& heading, const QString& subheading) {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  auto* title = new QLabel(heading, page);
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  layout->addWidget(title);
  if (!subheading.isEmpty()) {
    auto* sub = new QLabel(Q(app::CarriageReturnsToNewlines(S(subheading))), page);
    sub->setContentsMargins(fontMetrics().averageCharWidth() * 2, 0, 0, 0);
    layout->addWidget(sub);
  }
  auto* line = new QFrame(page);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  layout->addWidget(line);
  page->setMinimumSize(fontMetrics().averageCharWidth() * 78, fontMetrics().height() * 22);
  return page;
}

QWidget* ProjectWizardDialog::NamePage() {
  QWidget* page = Page("Please enter new project name:", "");
  auto* label = new QLabel("Project name", page);
  name_ = Named(new QLineEdit(page), "EditName");
  label->setBuddy(name_);
  connect(name_, &QLineEdit::textEdited, this, [this](const QString& text) { wizard_->SetName(S(text)); });
  auto* row = new QHBoxLayout;
  row->addWidget(label);
  row->addWidget(name_, 1);
  auto* layout = static_cast<QVBoxLayout*>(page->layout());
  layout->addSpacing(fontMetrics().height());
  layout->addLayout(row);
  layout->addStretch();
  return page;
}

QWidget* ProjectWizardDialog::IncludePage() {
  QWidget* page = Page("Select files to backup", "You can select files by filename or wildcard");
  include_ =
      new EntryListWidget("", "ListBackup", {"WizButton1", "WizButton2", "WizButton4", "WizSpeedButton1"}, *ui_, page);
  include_->SetEntries(&Fields().include_entries);
  recurse_ = Named(new QCheckBox("Include Subfolders (if checked,it will also look for files in subfolders)", page),
                   "CheckBoxSubfolders");
  add_newer_ = Named(new QCheckBox("Add only files newer than", page), "CheckBoxAddNewer");
  threshold_date_ = Named(NewDateEdit(page), "DateNewer");
  threshold_time_ = Named(new QTimeEdit(page), "TimeNewer");
  threshold_time_->setDisplayFormat("HH:mm:ss");
  use_last_backup_ = Named(new QCheckBox("Next use the last backup date-time", page), "CheckBoxToday");
  connect(recurse_, &QCheckBox::toggled, this, [this](bool on) {
    Fields().recurse = on;
    ShowModel();
  });
  connect(add_newer_, &QCheckBox::toggled, this, [this](bool on) {
    Fields().newer_than = on;
    ShowModel();
  });
  connect(use_last_backup_, &QCheckBox::toggled, this, [this](bool on) {
    Fields().threshold_follows_last_backup = on;
    ShowModel();
  });
  connect(threshold_date_, &QDateEdit::dateChanged, this,
          [this](const QDate& date) { Fields().threshold_date = FromQDate(date); });
  connect(threshold_time_, &QTimeEdit::timeChanged, this,
          [this](const QTime& time) { Fields().threshold_time = FromQTime(time); });
  auto* newer = new QHBoxLayout;
  newer->addWidget(add_newer_);
  newer->addWidget(threshold_date_);
  newer->addWidget(threshold_time_);
  newer->addStretch();
  auto* layout = static_cast<QVBoxLayout*>(page->layout());
  layout->addWidget(include_, 1);
  layout->addWidget(recurse_);
  layout->addLayout(newer);
  layout->addWidget(use_last_backup_);
  return page;
}

QWidget* ProjectWizardDialog::ExcludePage() {
  QWidget* page = Page("Select files to exclude", "You can select files by filename or wildcard  ( Option )");
  exclude_ = new EntryListWidget("", "ListNoBackup", {"WizButton6", "WizButton3", "WizButton5", "WizSpeedButton2"},
                                 *ui_, page);
  exclude_->SetEntries(&Fields().exclude_entries);
  recurse_line_ = Named(new QLabel(page), "LabelSubfolders");
  auto* layout = static_cast<QVBoxLayout*>(page->layout());
  layout->addWidget(exclude_, 1);
  layout->addWidget(recurse_line_);
  return page;
}

QWidget* ProjectWizardDialog::DestinationPage() {
  QWidget* page =
      Page("Select location to store backup", "Backup filename can be auto created based on prefix and suffix ");
  auto* prefix_group = new QGroupBox("Prefix", page);
  prefix_ = Named(new QLineEdit(prefix_group), "EditPrefix");
  (new QVBoxLayout(prefix_group))->addWidget(prefix_);

  auto* suffix_group = new QGroupBox("Suffix", page);
  suffix_none_ = Named(new QRadioButton("None", suffix_group), "RadioUseNone");
  suffix_date_ = Named(new QRadioButton("Date", suffix_group), "RadioUseDate");
  suffix_number_ = Named(new QRadioButton("Number", suffix_group), "RadioUserNumber");
  next_number_ = Named(new QSpinBox(suffix_group), "SpinValue");
  next_number_->setRange(app::kMinNumber, app::kMaxNumber);
  step_label_ = new QLabel("Next increase:", suffix_group);
  number_step_ = Named(new QSpinBox(suffix_group), "SpinIncrease");
  number_step_->setRange(app::kMinNumber, app::kMaxNumber);
  step_label_->setBuddy(number_step_);
  auto* kinds = new QButtonGroup(suffix_group);
  for (QRadioButton* r : {suffix_none_, suffix_date_, suffix_number_}) kinds->addButton(r);
  auto* suffix_row = new QHBoxLayout(suffix_group);
  for (QWidget* w : std::initializer_list<QWidget*>{suffix_none_, suffix_date_, suffix_number_, next_number_,
                                                    step_label_, number_step_}) {
    suffix_row->addWidget(w);
  }
  suffix_row->addStretch();

  auto* name_group = new QGroupBox("Filename", page);
  archive_name_ = Named(new QLineEdit(name_group), "EditFilename");
  auto* select = Named(new QToolButton(name_group), "SpSelectDirectory");
  select->setIcon(ProgramIcon("folder"));
  select->setToolTip("Select directory to save");
  auto* name_row = new QHBoxLayout(name_group);
  name_row->addWidget(archive_name_, 1);
  name_row->addWidget(select);

  ConnectDestination(
      this, {prefix_, suffix_none_, suffix_date_, suffix_number_, next_number_, number_step_, archive_name_},
      wizard_->Panel(), [this] { ShowArchiveName(); }, [this] { ShowModel(); });
  connect(select, &QToolButton::clicked, this, [this] {
    Guarded(*ui_, [this] { wizard_->ChooseSaveFolder(); });
    ShowArchiveName();
  });

  auto* layout = static_cast<QVBoxLayout*>(page->layout());
  layout->addWidget(prefix_group);
  layout->addWidget(suffix_group);
  layout->addWidget(name_group);
  layout->addStretch();
  return page;
}

QWidget* ProjectWizardDialog::OptionsPage() {
  QWidget* page = Page("Options", "");
  auto* keep_label = new QLabel("Keep the last ", page);
  keep_count_ = Named(new QSpinBox(page), "SpinStore");
  keep_count_->setRange(app::kMinKeepCount, app::kMaxKeepCount);
  keep_label->setBuddy(keep_count_);
  auto* keep_tail = new QLabel("backups (if exceeds, the oldest backups deleted)", page);
  auto* level_label = new QLabel("Compression ratio:", page);
  pack_level_ = Named(new QSlider(Qt::Horizontal, page), "TrackBarLevel");
  pack_level_->setRange(app::kMinPackLevel, app::kMaxPackLevel);
  pack_level_->setTickPosition(QSlider::TicksBelow);
  pack_level_->setTickInterval(1);
  pack_level_->setPageStep(1);
  pack_level_->setMinimumWidth(fontMetrics().averageCharWidth() * 30);
  level_label->setBuddy(pack_level_);
  use_password_ = Named(new QCheckBox("Use password protect Zip file", page), "CheckBoxPassword");
  password_label_ = new QLabel("Enter password:", page);
  password_ = Named(new QLineEdit(page), "EditPassword");
  UseStarPasswordCharacter(password_);
  password_label_->setBuddy(password_);
  confirm_label_ = new QLabel("Retype password:", page);
  confirm_password_ = Named(new QLineEdit(page), "EditConfirmPassword");
  UseStarPasswordCharacter(confirm_password_);
  confirm_label_->setBuddy(confirm_password_);
  encryption_label_ = new QLabel("Encryption:", page);
  encryption_aes_ = Named(new QRadioButton("AES-256", page), "RadioAes256");
  encryption_zipcrypto_ = Named(new QRadioButton("Traditional", page), "RadioZipCrypto");
  auto* ciphers = new QButtonGroup(page);
  ciphers->addButton(encryption_aes_);
  ciphers->addButton(encryption_zipcrypto_);
  connect(encryption_aes_, &QRadioButton::clicked, this,
          [this] { Fields().encryption = app::EncryptionKind::kAes256; });
  connect(encryption_zipcrypto_, &QRadioButton::clicked, this,
          [this] { Fields().encryption = app::EncryptionKind::kZipCrypto; });
  use_comment_ = Named(new QCheckBox("Add comment to Zip file:", page), "CheckBoxComment");
  comment_ = Named(new QLineEdit(page), "EditComment");
  store_paths_ = Named(new QCheckBox("Store full path information (from the root folder) with all files added", page),
                       "CheckBoxPath");

  connect(keep_count_, &QSpinBox::valueChanged, this, [this](int v) { Fields().keep_count = v; });
  connect(pack_level_, &QSlider::valueChanged, this, [this](int v) { Fields().pack_level = v; });
  connect(use_password_, &QCheckBox::toggled, this, [this](bool on) {
    Fields().use_password = on;
    ShowModel();
  });
  connect(password_, &QLineEdit::textEdited, this, [this](const QString& t) { Fields().password = S(t); });
  connect(confirm_password_, &QLineEdit::textEdited, this,
          [this](const QString& t) { Fields().confirm_password = S(t); });
  connect(use_comment_, &QCheckBox::toggled, this, [this](bool on) {
    Fields().use_comment = on;
    ShowModel();
  });
  connect(comment_, &QLineEdit::textEdited, this, [this](const QString& t) { Fields().comment = S(t); });
  connect(store_paths_, &QCheckBox::toggled, this, [this](bool on) { Fields().store_paths = on; });

  auto* keep_row = new QHBoxLayout;
  keep_row->addWidget(keep_label);
  keep_row->addWidget(keep_count_);
  keep_row->addWidget(keep_tail);
  keep_row->addStretch();
  auto* level_row = new QHBoxLayout;
  level_row->addWidget(level_label);
  level_row->addWidget(new QLabel("(None)", page));
  level_row->addWidget(pack_level_);
  level_row->addWidget(new QLabel("(Max)", page));
  level_row->addStretch();
  auto* grid = new QGridLayout;
  grid->setColumnMinimumWidth(0, fontMetrics().averageCharWidth() * 3);
  grid->addWidget(password_label_, 0, 1);
  grid->addWidget(password_, 0, 2);
  grid->addWidget(confirm_label_, 1, 1);
  grid->addWidget(confirm_password_, 1, 2);
  auto* cipher_row = new QHBoxLayout;
  cipher_row->addWidget(encryption_aes_);
  cipher_row->addWidget(encryption_zipcrypto_);
  cipher_row->addStretch();
  grid->addWidget(encryption_label_, 2, 1);
  grid->addLayout(cipher_row, 2, 2, 1, 2);
  grid->setColumnStretch(3, 1);
  auto* comment_row = new QHBoxLayout;
  comment_row->addSpacing(fontMetrics().averageCharWidth() * 3);
  comment_row->addWidget(comment_, 1);
  auto* layout = static_cast<QVBoxLayout*>(page->layout());
  layout->addLayout(keep_row);
  layout->addLayout(level_row);
  layout->addWidget(use_password_);
  layout->addLayout(grid);
  layout->addWidget(use_comment_);
  layout->addLayout(comment_row);
  layout->addWidget(store_paths_);
  layout->addStretch();
  return page;
}

QWidget* ProjectWizardDialog::SchedulePage() {
  QWidget* page = Page("Schedule",
                       "You can customize a schedule for project to launch the\r\nbackup operation within a specified "
                       "time automatically.");
  schedule_none_ = Named(new QRadioButton("None", page), "RadioNone");
  schedule_once_ = Named(new QRadioButton("Occurs daily once at", page), "RadioOnce");
  schedule_daily_ = Named(new QRadioButton("Occurs daily every", page), "RadioDaily");
  schedule_weekly_ = Named(new QRadioButton("Occurs weekly every on", page), "RadioWeekly");
  auto* kinds = new QButtonGroup(page);
  for (QRadioButton* r : {schedule_none_, schedule_once_, schedule_daily_, schedule_weekly_}) kinds->addButton(r);
  schedule_time_ = Named(new QTimeEdit(page), "TimeOnce");
  schedule_time_->setDisplayFormat("HH:mm:ss");
  schedule_minutes_ = Named(new QSpinBox(page), "SpinMinutes");
  schedule_minutes_->setRange(app::kMinMinutes, app::kMaxMinutes);
  minutes_label_ = new QLabel("minutes", page);
  schedule_weekday_ = Named(new QComboBox(page), "ComboWeekly");
  for (std::string_view day : app::kWeekdayNames) schedule_weekday_->addItem(QString::fromUtf8(day.data(), day.size()));
  auto* noon = new QLabel("12:00:00", page);

  auto kind = [this](app::ScheduleKind k) {
    wizard_->Panel().SetScheduleKind(k);
    ShowModel();
  };
  connect(schedule_none_, &QRadioButton::clicked, this, [kind] { kind(app::ScheduleKind::kNone); });
  connect(schedule_once_, &QRadioButton::clicked, this, [kind] { kind(app::ScheduleKind::kDailyOnce); });
  connect(schedule_daily_, &QRadioButton::clicked, this, [kind] { kind(app::ScheduleKind::kEveryMinutes); });
  connect(schedule_weekly_, &QRadioButton::clicked, this, [kind] { kind(app::ScheduleKind::kWeekly); });
  connect(schedule_time_, &QTimeEdit::timeChanged, this,
          [this](const QTime& t) { Fields().schedule_time = FromQTime(t); });
  connect(schedule_minutes_, &QSpinBox::valueChanged, this, [this](int v) { Fields().schedule_minutes = v; });
  connect(schedule_weekday_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index >= 0) Fields().schedule_weekday = index;
  });

  auto* grid = new QGridLayout;
  grid->addWidget(schedule_none_, 0, 0);
  grid->addWidget(schedule_once_, 1, 0);
  grid->addWidget(schedule_time_, 1, 1);
  grid->addWidget(schedule_daily_, 2, 0);
  auto* minutes_row = new QHBoxLayout;
  minutes_row->addWidget(schedule_minutes_);
  minutes_row->addWidget(minutes_label_);
  minutes_row->addStretch();
  grid->addLayout(minutes_row, 2, 1);
  grid->addWidget(schedule_weekly_, 3, 0);
  auto* weekly_row = new QHBoxLayout;
  weekly_row->addWidget(schedule_weekday_);
  weekly_row->addWidget(noon);
  weekly_row->addStretch();
  grid->addLayout(weekly_row, 3, 1);
  grid->setColumnStretch(2, 1);
  grid->setVerticalSpacing(fontMetrics().height() / 2);
  auto* layout = static_cast<QVBoxLayout*>(page->layout());
  layout->addLayout(grid);
  layout->addStretch();
  return page;
}

void ProjectWizardDialog::NextClicked() {
  const int before = wizard_->PageIndex();
  bool passed = false;
  if (!Guarded(*ui_, [&] { passed = wizard_->Next(); }) || !passed) return;
  if (wizard_->Finished()) {
    accept();
    return;
  }
  ShowModel();
  if (before != wizard_->PageIndex() && wizard_->PageIndex() == app::ProjectWizard::kDestinationPage) {
    prefix_->setFocus();
  }
}

void ProjectWizardDialog::BackClicked() {
  wizard_->Back();
  ShowModel();
}

void ProjectWizardDialog::ShowArchiveName() {
  const QString name = Q(wizard_->Panel().Fields().archive_name);
  if (archive_name_->text() != name) {
    const QSignalBlocker block(archive_name_);
    archive_name_->setText(name);
  }
}

void ProjectWizardDialog::ShowModel() {
  const app::ProjectPanel& panel = wizard_->Panel();
  const app::ProjectFields& f = panel.Fields();
  std::vector<std::unique_ptr<QSignalBlocker>> blocks;
  for (QWidget* w : findChildren<QWidget*>()) blocks.push_back(std::make_unique<QSignalBlocker>(w));

  setWindowTitle(Q(wizard_->Caption()));
  pages_->setCurrentIndex(wizard_->PageIndex());
  back_->setEnabled(wizard_->BackEnabled());
  next_->setText(Q(wizard_->NextButtonText()));

  if (name_->text() != Q(wizard_->Name())) name_->setText(Q(wizard_->Name()));
  include_->Refresh();
  recurse_->setChecked(f.recurse);
  add_newer_->setChecked(f.newer_than);
  threshold_date_->setDate(ToQDate(f.threshold_date));
  threshold_time_->setTime(ToQTime(f.threshold_time));
  use_last_backup_->setChecked(f.threshold_follows_last_backup);
  use_last_backup_->setEnabled(panel.UseLastBackupEnabled());
  threshold_date_->setEnabled(panel.ThresholdFieldsEnabled());
  threshold_time_->setEnabled(panel.ThresholdFieldsEnabled());
  exclude_->Refresh();
  recurse_line_->setText(Q(wizard_->RecurseLine()));

  if (prefix_->text() != Q(f.prefix)) prefix_->setText(Q(f.prefix));
  suffix_none_->setChecked(f.suffix_kind == app::SuffixKind::kNone);
  suffix_date_->setChecked(f.suffix_kind == app::SuffixKind::kDate);
  suffix_number_->setChecked(f.suffix_kind == app::SuffixKind::kNumber);
  next_number_->setValue(f.next_number);
  number_step_->setValue(f.number_step);
  next_number_->setEnabled(panel.NumberFieldsEnabled());
  step_label_->setEnabled(panel.NumberFieldsEnabled());
  number_step_->setEnabled(panel.NumberFieldsEnabled());
  ShowArchiveName();

  keep_count_->setValue(f.keep_count);
  pack_level_->setValue(f.pack_level);
  use_password_->setChecked(f.use_password);
  if (password_->text() != Q(f.password)) password_->setText(Q(f.password));
  if (confirm_password_->text() != Q(f.confirm_password)) confirm_password_->setText(Q(f.confirm_password));
  encryption_aes_->setChecked(f.encryption == app::EncryptionKind::kAes256);
  encryption_zipcrypto_->setChecked(f.encryption == app::EncryptionKind::kZipCrypto);
  for (QWidget* w : std::initializer_list<QWidget*>{password_label_, password_, confirm_label_, confirm_password_,
                                                    encryption_label_, encryption_aes_, encryption_zipcrypto_}) {
    w->setEnabled(panel.PasswordFieldsEnabled());
  }
  use_comment_->setChecked(f.use_comment);
  if (comment_->text() != Q(f.comment)) comment_->setText(Q(f.comment));
  comment_->setEnabled(panel.CommentFieldEnabled());
  store_paths_->setChecked(f.store_paths);

  schedule_none_->setChecked(f.schedule_kind == app::ScheduleKind::kNone);
  schedule_once_->setChecked(f.schedule_kind == app::ScheduleKind::kDailyOnce);
  schedule_daily_->setChecked(f.schedule_kind == app::ScheduleKind::kEveryMinutes);
  schedule_weekly_->setChecked(f.schedule_kind == app::ScheduleKind::kWeekly);
  schedule_time_->setTime(ToQTime(f.schedule_time));
  schedule_minutes_->setValue(f.schedule_minutes);
  schedule_weekday_->setCurrentIndex(f.schedule_weekday ? *f.schedule_weekday : -1);
  schedule_time_->setEnabled(panel.ScheduleTimeEnabled());
  schedule_minutes_->setEnabled(panel.ScheduleMinutesEnabled());
  minutes_label_->setEnabled(panel.ScheduleMinutesEnabled());
  schedule_weekday_->setEnabled(panel.ScheduleWeekdayEnabled());
}

}  // namespace kzb::gui
