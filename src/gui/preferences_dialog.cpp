#include "gui/preferences_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include "gui/gui_support.h"

namespace kzb::gui {

namespace {

constexpr int kPreferencesHelp = 601;

template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(name);
  return widget;
}

}  // namespace

PreferencesDialog::PreferencesDialog(app::Preferences& preferences, app::UserInterface& ui, QWidget* parent)
    : QDialog(parent), preferences_(&preferences), ui_(&ui) {
  setObjectName("TFormPreferences");
  setWindowTitle("Preferences");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  auto* f1 = new QShortcut(QKeySequence::HelpContents, this);
  connect(f1, &QShortcut::activated, this, [] { OpenHelpTopic(kPreferencesHelp); });

  tabs_ = Named(new QTabWidget(this), "PageControl1");
  // General
  auto* general = new QWidget(tabs_);
  auto* run_group = new QGroupBox("Run", general);
  run_ = Named(new QCheckBox("Run  ZIP Backup when windows starts", run_group), "cbRun");
  minimized_ = Named(new QCheckBox("Run Minimized", run_group), "cbMini");
  minimized_->hide();  // kept in the model, not offered (the stored choice is written back unchanged)
  auto* run_layout = new QVBoxLayout(run_group);
  run_layout->addWidget(run_);
  run_layout->addWidget(minimized_);
  auto* log_group = new QGroupBox("Log", general);
  log_count_ = Named(new QSpinBox(log_group), "LogSpinEdit");
  log_count_->setRange(app::kMinLogCount, app::kMaxLogCount);
  auto* log_row = new QHBoxLayout;
  log_row->addWidget(new QLabel("When the log items exceed", log_group));
  log_row->addWidget(log_count_);
  log_row->addWidget(new QLabel(",the log", log_group));
  log_row->addStretch();
  auto* log_layout = new QVBoxLayout(log_group);
  log_layout->addLayout(log_row);
  log_layout->addWidget(new QLabel("will be cleared except for the last 5 items.", log_group));
  auto* general_layout = new QVBoxLayout(general);
  general_layout->addWidget(run_group);
  general_layout->addWidget(log_group);
  general_layout->addStretch();
  tabs_->addTab(general, "General");

  // Backup
  auto* backup = new QWidget(tabs_);
  pad_ = Named(new QCheckBox("If filename suffix is number,when number width", backup), "cbWidth");
  width_ = Named(new QSpinBox(backup), "SpinEdit1");
  width_->setRange(app::kMinNumberWidth, app::kMaxNumberWidth);
  auto* width_row = new QHBoxLayout;
  width_row->addSpacing(pad_->style()->pixelMetric(QStyle::PM_IndicatorWidth) + 6);
  width_row->addWidget(new QLabel("is less than", backup));
  width_row->addWidget(width_);
  width_row->addWidget(new QLabel(", append 0 before number", backup));
  width_row->addStretch();
  prompt_ = Named(new QCheckBox("Prompt before start backup a project", backup), "cbprompt");
  auto* exists_group = new QGroupBox("When  backup, if  filename exists:", backup);
  overwrite_ = Named(new QRadioButton("Overwrite", exists_group), "rbOverwrite");
  skip_ = Named(new QRadioButton("Skip", exists_group), "rbSkip");
  skip_->setChecked(true);
  auto* exists_layout = new QHBoxLayout(exists_group);
  exists_layout->addWidget(overwrite_);
  exists_layout->addWidget(skip_);
  exists_layout->addStretch();
  auto* backup_layout = new QVBoxLayout(backup);
  backup_layout->addWidget(pad_);
  backup_layout->addLayout(width_row);
  backup_layout->addSpacing(fontMetrics().height() / 2);
  backup_layout->addWidget(prompt_);
  backup_layout->addSpacing(fontMetrics().height() / 2);
  backup_layout->addWidget(exists_group);
  backup_layout->addStretch();
  tabs_->addTab(backup, "Backup");

  auto* close = Named(new QPushButton("Clo&se", this), "btnClose");
  close->setDefault(true);
  auto* apply = Named(new QPushButton("&Apply", this), "btnApply");
  apply->setAutoDefault(false);
  auto* help = Named(new QPushButton("H&elp", this), "Button1");
  help->setAutoDefault(false);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  connect(apply, &QPushButton::clicked, this, &PreferencesDialog::Apply);
  connect(help, &QPushButton::clicked, this, [] { OpenHelpTopic(kPreferencesHelp); });
  connect(run_, &QCheckBox::toggled, minimized_, &QCheckBox::setEnabled);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(close);
  buttons->addWidget(apply);
  buttons->addWidget(help);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  // FormCreate: the first tab, the start-up choices from the file, the rest from memory.
  app::PreferenceValues v;
  Guarded(*ui_, [&] { v = preferences_->Load(); });
  tabs_->setCurrentIndex(0);
  run_->setChecked(v.run_at_startup);
  minimized_->setChecked(v.run_minimized);
  minimized_->setEnabled(app::Preferences::RunMinimizedEnabled(v));
  log_count_->setValue(v.log_count);
  pad_->setChecked(v.pad_number);
  width_->setValue(v.number_width);
  prompt_->setChecked(v.prompt_before_backup);
  if (v.overwrite_existing) overwrite_->setChecked(true);
}

void PreferencesDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CenterOnScreen(this);
}

app::PreferenceValues PreferencesDialog::Values() const {
  app::PreferenceValues v;
  v.run_at_startup = run_->isChecked();
  v.run_minimized = minimized_->isChecked();
  v.log_count = log_count_->value();
  v.pad_number = pad_->isChecked();
  v.number_width = width_->value();
  v.prompt_before_backup = prompt_->isChecked();
  v.overwrite_existing = overwrite_->isChecked();
  return v;
}

void PreferencesDialog::Apply() {
  // The dialog closes as applied even when the autostart entry could not be set (its message is shown).
  if (Guarded(*ui_, [this] { preferences_->Apply(Values()); })) accept();
}

}  // namespace kzb::gui
