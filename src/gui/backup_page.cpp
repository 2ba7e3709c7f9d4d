#include "gui/backup_page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimeEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include "gui/entry_list_widget.h"
#include "gui/gui_support.h"

namespace kzb::gui {

namespace {

template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(name);
  return widget;
}

QSpinBox* SpinBox(QWidget* parent, const char* name, int low, int high) {
  auto* spin = Named(new QSpinBox(parent), name);
  spin->setRange(low, high);
  return spin;
}

}  // namespace

BackupPage::BackupPage(app::Application& app, QWidget* parent) : QWidget(parent), app_(&app) {
  setObjectName("TabBackup");
  BuildSource();
  BuildDestination();
  BuildOptions();
  BuildSchedule();
  auto* right = new QVBoxLayout;
  right->addWidget(group_destination_);
  right->addWidget(group_options_);
  right->addWidget(group_schedule_);
  right->addStretch();
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(group_source_, 1);
  layout->addLayout(right, 0);
  SetGroupsEnabled(false);
}

void BackupPage::BuildSource() {
  group_source_ = Named(new QGroupBox("Source", this), "GroupSource");
  app::UserInterface& ui = app_->Ui();
  include_ = new EntryListWidget("Select files to backup", "ListboxBackup",
                                 {"Button1", "Button2", "Button4", "SpeedButton1"}, ui, group_source_);
  exclude_ = new EntryListWidget("Select files to exclude", "ListBoxNobackup",
                                 {"Button6", "Button3", "Button5", "SpeedButton2"}, ui, group_source_);
  const int char_width = fontMetrics().averageCharWidth();
  include_->List()->setMinimumSize(char_width * 48, fontMetrics().height() * 8);
  exclude_->List()->setMinimumSize(char_width * 48, fontMetrics().height() * 6);

  add_newer_ = Named(new QCheckBox("Only files newer than", group_source_), "CheckBoxAddNewer");
  threshold_date_ = Named(NewDateEdit(group_source_), "DateTimePickerToday");
  threshold_time_ = Named(new QTimeEdit(group_source_), "DateTimePickerTime");
  threshold_time_->setDisplayFormat("HH:mm:ss");
  use_last_backup_ = Named(new QCheckBox("Use last backup date", group_source_), "CheckBoxToday");
  recurse_ = Named(new QCheckBox("Include Subdirectories ( if checked, it will also look for the files in subfolders )",
                                 group_source_),
                   "radioyes");

  connect(include_, &EntryListWidget::Changed, this, &BackupPage::Changed);
  connect(exclude_, &EntryListWidget::Changed, this, &BackupPage::Changed);
  connect(add_newer_, &QCheckBox::toggled, this, [this](bool on) {
    Fields().newer_than = on;
    UpdateInnerStates();
  });
  connect(use_last_backup_, &QCheckBox::toggled, this, [this](bool on) {
    Fields().threshold_follows_last_backup = on;
    UpdateInnerStates();
  });
  connect(threshold_date_, &QDateEdit::dateChanged, this,
          [this](const QDate& date) { Fields().threshold_date = FromQDate(date); });
  connect(threshold_time_, &QTimeEdit::timeChanged, this,
          [this](const QTime& time) { Fields().threshold_time = FromQTime(time); });
  connect(recurse_, &QCheckBox::toggled, this, [this](bool on) { Fields().recurse = on; });

  auto* newer_row = new QHBoxLayout;
  newer_row->addWidget(add_newer_);
  newer_row->addWidget(threshold_date_);
  newer_row->addWidget(threshold_time_);
  newer_row->addSpacing(char_width * 2);
  newer_row->addWidget(use_last_backup_);
  newer_row->addStretch();
  auto* layout = new QVBoxLayout(group_source_);
  layout->addWidget(include_, 3);
  layout->addWidget(exclude_, 2);
  layout->addLayout(newer_row);
  layout->addWidget(recurse_);
}

void BackupPage::BuildDestination() {
  group_destination_ = Named(new QGroupBox("Destination", this), "GroupDes");
  QWidget* g = group_destination_;
  auto* prefix_label = new QLabel("Prefix:", g);
  prefix_ = Named(new QLineEdit(g), "EditPrefix");
  prefix_label->setBuddy(prefix_);
  auto* suffix_label = new QLabel("Suffix:", g);
  suffix_none_ = Named(new QRadioButton("None", g), "RadioUseNone");
  suffix_date_ = Named(new QRadioButton("Date", g), "RadioUseDate");
  suffix_number_ = Named(new QRadioButton("Number", g), "RadioUserNumber");
  next_number_ = SpinBox(g, "rxSpinvalue", app::kMinNumber, app::kMaxNumber);
  step_label_ = new QLabel("Next increase:", g);
  number_step_ = SpinBox(g, "RxSpinIncrease", app::kMinNumber, app::kMaxNumber);
  step_label_->setBuddy(number_step_);
  auto* name_label = new QLabel("Filename:", g);
  archive_name_ = Named(new QLineEdit(g), "EditFilename");
  name_label->setBuddy(archive_name_);
  select_directory_ = Named(new QToolButton(g), "SpSelectDirectory");
  select_directory_->setIcon(ProgramIcon("folder"));
  select_directory_->setToolTip("Select directory to save");
  auto* suffix_group = new QButtonGroup(g);
  suffix_group->addButton(suffix_none_);
  suffix_group->addButton(suffix_date_);
  suffix_group->addButton(suffix_number_);

  ConnectDestination(
      this, {prefix_, suffix_none_, suffix_date_, suffix_number_, next_number_, number_step_, archive_name_},
      app_->Panel(), [this] { ShowArchiveName(); },
      [this] {
        ShowArchiveName();
        UpdateInnerStates();
      });
  connect(select_directory_, &QToolButton::clicked, this, [this] {
    Guarded(app_->Ui(), [this] { app_->ChooseSaveFolder(); });
    ShowArchiveName();
  });

  auto* suffix_row = new QHBoxLayout;
  suffix_row->addWidget(suffix_none_);
  suffix_row->addWidget(suffix_date_);
  suffix_row->addWidget(suffix_number_);
  suffix_row->addWidget(next_number_);
  suffix_row->addWidget(step_label_);
  suffix_row->addWidget(number_step_);
  suffix_row->addStretch();
  auto* name_row = new QHBoxLayout;
  name_row->addWidget(archive_name_, 1);
  name_row->addWidget(select_directory_);
  auto* grid = new QGridLayout(g);
  grid->addWidget(prefix_label, 0, 0);
  grid->addWidget(prefix_, 0, 1);
  grid->addWidget(suffix_label, 1, 0);
  grid->addLayout(suffix_row, 1, 1);
  grid->addWidget(name_label, 2, 0);
  grid->addLayout(name_row, 2, 1);
  archive_name_->setMinimumWidth(fontMetrics().averageCharWidth() * 44);
}

void BackupPage::BuildOptions() {
  group_options_ = Named(new QGroupBox("Options", this), "GroupOption");
  QWidget* g = group_options_;
  use_password_ = Named(new QCheckBox("Use password protect Zip file:", g), "CheckBoxPassword");
  password_label_ = new QLabel("Enter Password:", g);
  password_ = Named(new QLineEdit(g), "EditPassword");
  UseStarPasswordCharacter(password_);
  password_label_->setBuddy(password_);
  confirm_label_ = new QLabel("Retype Password:", g);
  confirm_password_ = Named(new QLineEdit(g), "EditConfirmPassword");
  UseStarPasswordCharacter(confirm_password_);
  confirm_label_->setBuddy(confirm_password_);
  encryption_label_ = new QLabel("Encryption:", g);
  encryption_aes_ = Named(new QRadioButton("AES-256", g), "RadioAes256");
  encryption_zipcrypto_ = Named(new QRadioButton("Traditional", g), "RadioZipCrypto");
  auto* ciphers = new QButtonGroup(g);
  ciphers->addButton(encryption_aes_);
  ciphers->addButton(encryption_zipcrypto_);
  store_paths_ = Named(new QCheckBox("Save full path information to Zip", g), "CheckBoxpath");
  use_comment_ = Named(new QCheckBox("Add comment:", g), "CheckBoxcomment");
  comment_ = Named(new QLineEdit(g), "Editcomment");
  auto* level_label = new QLabel("Compression ratio:", g);
  pack_level_ = SpinBox(g, "Trackbar1", app::kMinPackLevel, app::kMaxPackLevel);
  pack_level_->setToolTip("A value of 9 has the highest compression ratio");
  level_label->setBuddy(pack_level_);
  auto* keep_label = new QLabel("Only keep the last ", g);
  keep_count_ = SpinBox(g, "spStore", app::kMinKeepCount, app::kMaxKeepCount);
  keep_label->setBuddy(keep_count_);
  auto* keep_tail = new QLabel("backups", g);

  connect(use_password_, &QCheckBox::toggled, this, [this](bool on) {
    Fields().use_password = on;
    UpdateInnerStates();
  });
  connect(password_, &QLineEdit::textEdited, this, [this](const QString& text) { Fields().password = S(text); });
  connect(confirm_password_, &QLineEdit::textEdited, this,
          [this](const QString& text) { Fields().confirm_password = S(text); });
  connect(encryption_aes_, &QRadioButton::clicked, this,
          [this] { Fields().encryption = app::EncryptionKind::kAes256; });
  connect(encryption_zipcrypto_, &QRadioButton::clicked, this,
          [this] { Fields().encryption = app::EncryptionKind::kZipCrypto; });
  connect(store_paths_, &QCheckBox::toggled, this, [this](bool on) { Fields().store_paths = on; });
  connect(use_comment_, &QCheckBox::toggled, this, [this](bool on) {
    Fields().use_comment = on;
    UpdateInnerStates();
  });
  connect(comment_, &QLineEdit::textEdited, this, [this](const QString& text) { Fields().comment = S(text); });
  connect(pack_level_, &QSpinBox::valueChanged, this, [this](int value) { Fields().pack_level = value; });
  connect(keep_count_, &QSpinBox::valueChanged, this, [this](int value) { Fields().keep_count = value; });

  auto* grid = new QGridLayout(g);
  grid->addWidget(use_password_, 0, 0, 1, 4);
  grid->addWidget(password_label_, 1, 0);
  grid->addWidget(password_, 1, 1);
  grid->addWidget(confirm_label_, 1, 2);
  grid->addWidget(confirm_password_, 1, 3);
  auto* cipher_row = new QHBoxLayout;
  cipher_row->addWidget(encryption_aes_);
  cipher_row->addWidget(encryption_zipcrypto_);
  cipher_row->addStretch();
  grid->addWidget(encryption_label_, 2, 0);
  grid->addLayout(cipher_row, 2, 1, 1, 3);
  grid->addWidget(store_paths_, 3, 0, 1, 4);
  grid->addWidget(use_comment_, 4, 0);
  grid->addWidget(comment_, 4, 1, 1, 3);
  auto* level_row = new QHBoxLayout;
  level_row->addWidget(level_label);
  level_row->addWidget(pack_level_);
  level_row->addSpacing(fontMetrics().averageCharWidth() * 3);
  level_row->addWidget(keep_label);
  level_row->addWidget(keep_count_);
  level_row->addWidget(keep_tail);
  level_row->addStretch();
  grid->addLayout(level_row, 5, 0, 1, 4);
}

void BackupPage::BuildSchedule() {
  group_schedule_ = Named(new QGroupBox("Schedule", this), "GroupSche");
  QWidget* g = group_schedule_;
  schedule_none_ = Named(new QRadioButton("None", g), "radioNone");
  schedule_once_ = Named(new QRadioButton("Daily once at", g), "radioOnce");
  schedule_daily_ = Named(new QRadioButton("Daily every", g), "radioDaily");
  schedule_weekly_ = Named(new QRadioButton("Weekly every on", g), "radioWeekly");
  auto* kinds = new QButtonGroup(g);
  for (QRadioButton* radio : {schedule_none_, schedule_once_, schedule_daily_, schedule_weekly_})
    kinds->addButton(radio);
  schedule_time_ = Named(new QTimeEdit(g), "DateTimePicker1");
  schedule_time_->setDisplayFormat("HH:mm:ss");
  schedule_minutes_ = SpinBox(g, "SpinEditNumber", app::kMinMinutes, app::kMaxMinutes);
  minutes_label_ = Named(new QLabel("minutes", g), "cbhour");
  schedule_weekday_ = Named(new QComboBox(g), "cbWeekly");
  for (std::string_view day : app::kWeekdayNames) schedule_weekday_->addItem(QString::fromUtf8(day.data(), day.size()));

  auto kind = [this](app::ScheduleKind k) {
    app_->Panel().SetScheduleKind(k);
    Load();
  };
  connect(schedule_none_, &QRadioButton::clicked, this, [kind] { kind(app::ScheduleKind::kNone); });
  connect(schedule_once_, &QRadioButton::clicked, this, [kind] { kind(app::ScheduleKind::kDailyOnce); });
  connect(schedule_daily_, &QRadioButton::clicked, this, [kind] { kind(app::ScheduleKind::kEveryMinutes); });
  connect(schedule_weekly_, &QRadioButton::clicked, this, [kind] { kind(app::ScheduleKind::kWeekly); });
  connect(schedule_time_, &QTimeEdit::timeChanged, this,
          [this](const QTime& time) { Fields().schedule_time = FromQTime(time); });
  connect(schedule_minutes_, &QSpinBox::valueChanged, this, [this](int value) { Fields().schedule_minutes = value; });
  connect(schedule_weekday_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index >= 0) Fields().schedule_weekday = index;
  });

  auto* grid = new QGridLayout(g);
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
  grid->addWidget(schedule_weekday_, 3, 1);
  grid->setColumnStretch(2, 1);
}

void BackupPage::Load() {
  const app::ProjectFields& f = app_->Panel().Fields();
  const QList<QWidget*> inputs = findChildren<QWidget*>();
  std::vector<std::unique_ptr<QSignalBlocker>> blocks;
  for (QWidget* w : inputs) blocks.push_back(std::make_unique<QSignalBlocker>(w));

  include_->SetEntries(&app_->Panel().MutableFields().include_entries);
  exclude_->SetEntries(&app_->Panel().MutableFields().exclude_entries);
  add_newer_->setChecked(f.newer_than);
  threshold_date_->setDate(ToQDate(f.threshold_date));
  threshold_time_->setTime(ToQTime(f.threshold_time));
  use_last_backup_->setChecked(f.threshold_follows_last_backup);
  recurse_->setChecked(f.recurse);

  if (prefix_->text() != Q(f.prefix)) prefix_->setText(Q(f.prefix));
  suffix_none_->setChecked(f.suffix_kind == app::SuffixKind::kNone);
  suffix_date_->setChecked(f.suffix_kind == app::SuffixKind::kDate);
  suffix_number_->setChecked(f.suffix_kind == app::SuffixKind::kNumber);
  next_number_->setValue(f.next_number);
  number_step_->setValue(f.number_step);
  ShowArchiveName();

  use_password_->setChecked(f.use_password);
  if (password_->text() != Q(f.password)) password_->setText(Q(f.password));
  if (confirm_password_->text() != Q(f.confirm_password)) confirm_password_->setText(Q(f.confirm_password));
  encryption_aes_->setChecked(f.encryption == app::EncryptionKind::kAes256);
  encryption_zipcrypto_->setChecked(f.encryption == app::EncryptionKind::kZipCrypto);
  store_paths_->setChecked(f.store_paths);
  use_comment_->setChecked(f.use_comment);
  if (comment_->text() != Q(f.comment)) comment_->setText(Q(f.comment));
  pack_level_->setValue(f.pack_level);
  keep_count_->setValue(f.keep_count);

  schedule_none_->setChecked(f.schedule_kind == app::ScheduleKind::kNone);
  schedule_once_->setChecked(f.schedule_kind == app::ScheduleKind::kDailyOnce);
  schedule_daily_->setChecked(f.schedule_kind == app::ScheduleKind::kEveryMinutes);
  schedule_weekly_->setChecked(f.schedule_kind == app::ScheduleKind::kWeekly);
  schedule_time_->setTime(ToQTime(f.schedule_time));
  schedule_minutes_->setValue(f.schedule_minutes);
  schedule_weekday_->setCurrentIndex(f.schedule_weekday ? *f.schedule_weekday : -1);
  UpdateInnerStates();
}

void BackupPage::ShowArchiveName() {
  const QString name = Q(app_->Panel().Fields().archive_name);
  if (archive_name_->text() != name) {
    const QSignalBlocker block(archive_name_);
    archive_name_->setText(name);
  }
}

void BackupPage::SetGroupsEnabled(bool enabled) {
  groups_enabled_ = enabled;
  for (QGroupBox* group : {group_source_, group_destination_, group_options_, group_schedule_}) {
    group->setEnabled(enabled);
  }
  UpdateInnerStates();
}

void BackupPage::UpdateInnerStates() {
  const app::ProjectPanel& panel = app_->Panel();
  next_number_->setEnabled(panel.NumberFieldsEnabled());
  step_label_->setEnabled(panel.NumberFieldsEnabled());
  number_step_->setEnabled(panel.NumberFieldsEnabled());
  password_label_->setEnabled(panel.PasswordFieldsEnabled());
  password_->setEnabled(panel.PasswordFieldsEnabled());
  confirm_label_->setEnabled(panel.PasswordFieldsEnabled());
  confirm_password_->setEnabled(panel.PasswordFieldsEnabled());
  encryption_label_->setEnabled(panel.PasswordFieldsEnabled());
  encryption_aes_->setEnabled(panel.PasswordFieldsEnabled());
  encryption_zipcrypto_->setEnabled(panel.PasswordFieldsEnabled());
  comment_->setEnabled(panel.CommentFieldEnabled());
  use_last_backup_->setEnabled(panel.UseLastBackupEnabled());
  threshold_date_->setEnabled(panel.ThresholdFieldsEnabled());
  threshold_time_->setEnabled(panel.ThresholdFieldsEnabled());
  schedule_time_->setEnabled(panel.ScheduleTimeEnabled());
  schedule_minutes_->setEnabled(panel.ScheduleMinutesEnabled());
  minutes_label_->setEnabled(panel.ScheduleMinutesEnabled());
  schedule_weekday_->setEnabled(panel.ScheduleWeekdayEnabled());
}

void BackupPage::FocusIncludeList() {
  if (include_->List()->count() == 0) return;
  include_->List()->setFocus();
  include_->Select(0);
}

}  // namespace kzb::gui
