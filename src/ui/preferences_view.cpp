#include "ui/preferences_view.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/ansi_text.h"

namespace hivewise::ui {

namespace {

QString Q(std::string_view text) {
    return FromAnsi(text);
}

}  // namespace

PreferencesDialogView::PreferencesDialogView(PreferencesDialog& logic, QWidget* parent)
    : QDialog(parent), logic_(logic) {
    setWindowTitle(Q(kPreferencesTitle));
    setModal(true);
    auto* layout = new QVBoxLayout(this);

    auto* choose = new QGroupBox(Q(kChooseOptionsCaption), this);
    auto* groups = new QVBoxLayout(choose);
    groups->setSpacing(8);

    auto* schedule = new QGroupBox(Q(kScheduleOptionsCaption), choose);
    auto* scheduleLayout = new QVBoxLayout(schedule);
    runAtStartup_ = new QCheckBox(Q(kRunAtStartupText), schedule);
    runAtStartup_->setToolTip(Q(kRunAtStartupNote));
    scheduleLayout->addWidget(runAtStartup_);
    auto* startupNote = new QLabel(Q(kRunAtStartupNote), schedule);
    startupNote->setWordWrap(true);
    startupNote->setForegroundRole(QPalette::PlaceholderText);
    scheduleLayout->addWidget(startupNote);
    groups->addWidget(schedule);

    auto* removal = new QGroupBox(Q(kRemovalOptionsCaption), choose);
    auto* removalLayout = new QVBoxLayout(removal);
    noAutoBackup_ = new QCheckBox(Q(kNoAutoBackupText), removal);
    checkItems_ = new QCheckBox(Q(kCheckItemsText), removal);
    removalLayout->addWidget(noAutoBackup_);
    removalLayout->addWidget(checkItems_);
    groups->addWidget(removal);

    auto* logs = new QGroupBox(Q(kLogManagementCaption), choose);
    auto* logsLayout = new QVBoxLayout(logs);
    generateLog_ = new QCheckBox(Q(kGenerateLogText), logs);
    logsLayout->addWidget(generateLog_);
    auto* pathRow = new QHBoxLayout;
    auto* pathLabel = new QLabel(Q(kLogFilePathText), logs);
    pathField_ = new QLineEdit(logs);
    pathLabel->setBuddy(pathField_);
    browseButton_ = new QPushButton(Q(kBrowseButtonText), logs);
    browseButton_->setFixedWidth(32);
    browseButton_->setAutoDefault(false);
    pathRow->addWidget(pathLabel);
    pathRow->addWidget(pathField_, 1);
    pathRow->addWidget(browseButton_);
    logsLayout->addLayout(pathRow);
    groups->addWidget(logs);

    auto* ignore = new QGroupBox(Q(kIgnoreListCaption), choose);
    auto* ignoreLayout = new QHBoxLayout(ignore);
    ignoreListButton_ = new QPushButton(Q(kShowIgnoreListText), ignore);
    ignoreListButton_->setAutoDefault(false);
    ignoreLayout->addWidget(ignoreListButton_);
    ignoreLayout->addStretch(1);
    groups->addWidget(ignore);
    layout->addWidget(choose);

    auto* buttons = new QHBoxLayout;
    updatesButton_ = new QPushButton(Q(kCheckForUpdatesText), this);
    updatesButton_->setVisible(logic_.CheckForUpdatesVisible());
    connect(updatesButton_, &QPushButton::clicked, this, [this] { logic_.CheckForUpdates(); });
    buttons->addWidget(updatesButton_);
    buttons->addStretch(1);
    okButton_ = new QPushButton(Q(kOkText), this);
    okButton_->setDefault(true);
    cancelButton_ = new QPushButton(Q(kCancelText), this);
    cancelButton_->setAutoDefault(false);
    buttons->addWidget(okButton_);
    buttons->addWidget(cancelButton_);
    layout->addLayout(buttons);

    // Every change goes straight into the logic's controls.
    connect(runAtStartup_, &QCheckBox::toggled, this,
            [this](bool on) { logic_.Controls().runAtStartup = on; });
    connect(noAutoBackup_, &QCheckBox::toggled, this,
            [this](bool on) { logic_.Controls().noAutoBackup = on; });
    connect(checkItems_, &QCheckBox::toggled, this,
            [this](bool on) { logic_.Controls().checkItems = on; });
    connect(generateLog_, &QCheckBox::toggled, this,
            [this](bool on) { logic_.Controls().generateLog = on; });
    connect(pathField_, &QLineEdit::textEdited, this,
            [this](const QString& text) { logic_.Controls().logPath = ToAnsi(text); });
    connect(browseButton_, &QPushButton::clicked, this, [this] {
        logic_.Browse();
        pathField_->setText(FromAnsi(logic_.Controls().logPath));
    });
    connect(ignoreListButton_, &QPushButton::clicked, this, [this] { logic_.ShowIgnoreList(); });
    connect(okButton_, &QPushButton::clicked, this, &PreferencesDialogView::accept);
    connect(cancelButton_, &QPushButton::clicked, this, &PreferencesDialogView::reject);

    logic_.Open();
    ShowControls();
}

void PreferencesDialogView::ShowControls() {
    const PreferencesControls& controls = logic_.Controls();
    for (auto [box, on] : {std::pair{runAtStartup_, controls.runAtStartup},
                           std::pair{noAutoBackup_, controls.noAutoBackup},
                           std::pair{checkItems_, controls.checkItems},
                           std::pair{generateLog_, controls.generateLog}}) {
        QSignalBlocker block(box);
        box->setChecked(on);
    }
    pathField_->setText(FromAnsi(controls.logPath));
    // Fixed for this opening: ticking the box later does not enable them.
    pathField_->setEnabled(logic_.PathFieldEnabled());
    browseButton_->setEnabled(logic_.PathFieldEnabled());
}

void PreferencesDialogView::accept() {
    if (!logic_.Ok()) return;  // told the user; the dialog stays
    QDialog::accept();
}

void PreferencesDialogView::reject() {
    logic_.Cancel();
    QDialog::reject();
}

}  // namespace hivewise::ui
