#include "ui/full_backup_view.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QScreen>
#include <QThread>
#include <QVBoxLayout>
#include <ctime>

#include "platform/machine/local_time.h"
#include "ui/ansi_text.h"

namespace hivewise::ui {
BackupProgressView::BackupProgressView(BackupProgressDialog& logic, QWidget* parent)
    : QDialog(parent), logic_(logic) {
    setWindowTitle(QString());
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Backing up"), this));
    bar_ = new QProgressBar(this);
    bar_->setRange(0, BackupProgressDialog::kBarRange);
    bar_->setTextVisible(false);
    layout->addWidget(bar_);
    resize(300, 80);
    if (QScreen* screen = QApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
    connect(&timer_, &QTimer::timeout, this, [this] {
        bool finished = logic_.Tick();
        bar_->setValue(logic_.Position());
        if (finished) {
            timer_.stop();
            accept();
        }
    });
    logic_.Open(LocalNow());
    timer_.start(BackupProgressDialog::kTimerMs);
}

FullBackupView::FullBackupView(FullBackupDialog& logic, Machine& machine, UserPrompts& prompts,
                               std::function<bool()> saveRestored, QWidget* parent)
    : QDialog(parent),
      logic_(logic),
      machine_(machine),
      prompts_(prompts),
      saveRestored_(std::move(saveRestored)) {
    setWindowTitle(FromAnsi(kFullBackupTitle));
    auto* layout = new QVBoxLayout(this);
    text_ = new QLabel(FromAnsi(FullBackupDialog::Introduction()), this);
    text_->setWordWrap(true);
    layout->addWidget(text_);
    create_ = new QRadioButton(QStringLiteral("Create a new backup"), this);
    restore_ = new QRadioButton(QStringLiteral("Restore a previous backup"), this);
    layout->addWidget(create_);
    layout->addWidget(restore_);
    listLabel_ = new QLabel(FromAnsi(kSelectDateLabel), this);
    list_ = new QListWidget(this);
    layout->addWidget(listLabel_);
    layout->addWidget(list_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    next_ = new QPushButton(this);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    buttons->addWidget(next_);
    buttons->addWidget(cancel_);
    layout->addLayout(buttons);
    connect(next_, &QPushButton::clicked, this, [this] { PressNext(); });
    connect(cancel_, &QPushButton::clicked, this, [this] {
        if (!running_) reject();
    });
    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) { logic_.Select(row); });
    resize(460, 340);
    ShowStep();
}

void FullBackupView::ShowStep() {
    bool choosing = logic_.CurrentStep() == FullBackupDialog::Step::Choose;
    create_->setVisible(choosing);
    restore_->setVisible(choosing);
    listLabel_->setVisible(!choosing);
    list_->setVisible(!choosing);
    next_->setText(FromAnsi(logic_.NextButtonText()));
    if (choosing) return;
    text_->setText(FromAnsi(kRestoreIntro));
    list_->clear();
    for (const BackupArchive& entry : logic_.Backups())
        list_->addItem(FromAnsi(entry.text));
    list_->setCurrentRow(-1);
}

void FullBackupView::PressNext() {
    if (running_) return;
    if (logic_.CurrentStep() == FullBackupDialog::Step::Choose) {
        logic_.Choose(create_->isChecked()    ? FullBackupDialog::Option::Create
                      : restore_->isChecked() ? FullBackupDialog::Option::Restore
                                              : FullBackupDialog::Option::None);
    }
    switch (logic_.PressNext()) {
        case FullBackupDialog::Next::RunBackup:
            RunBackup();
            break;
        case FullBackupDialog::Next::RunRestore:
            RunRestore();
            break;
        case FullBackupDialog::Next::Stay:
            ShowStep();
            break;
        case FullBackupDialog::Next::Close:
            accept();
            break;
    }
}

void FullBackupView::RunBackup() {
    BackupProgressDialog progress(machine_, prompts_);
    BackupProgressView window(progress, this);
    window.exec();
    accept();
}

void FullBackupView::RunRestore() {
    running_ = true;
    QDialog window(this);
    window.setWindowTitle(QString());
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("Restoring..."), &window));
    auto* bar = new QProgressBar(&window);
    bar->setRange(0, 10);
    bar->setTextVisible(false);
    layout->addWidget(bar);
    QTimer cycle;
    connect(&cycle, &QTimer::timeout, &window,
            [bar] { bar->setValue(bar->value() >= 10 ? 0 : bar->value() + 1); });
    window.show();
    cycle.start(200);
    logic_.StartRestore();
    while (logic_.RestoreRunning()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(20);
    }
    cycle.stop();
    window.close();
    logic_.FinishRestore(saveRestored_);
    running_ = false;
    accept();
}

}  // namespace hivewise::ui
