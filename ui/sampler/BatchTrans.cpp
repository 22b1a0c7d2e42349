#include "ui/sampler/BatchTrans.h"
#include "session/SamplerTransfer.h"
#include "ui/dialogs/KeymapForm.h"
#include "ui/sampler/SamplerCommands.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QUrl>

namespace cleavix::ui {

namespace {

QString keyText(const std::optional<sampler::KeyRange>& keys, int sampler::KeyRange::*field) {
    return keys ? QString::number((*keys).*field) : QString("None");
}

} // namespace

TBatchTrans::TBatchTrans(session::Session& session, SamplerHost& host, QWidget* parent)
    : TransferDialogBase(session, host, parent), list_(new QTreeWidget(this)), autoMap_(new QCheckBox("Auto map", this)),
      clear_(new QPushButton("Clear All", this)), play_(new QPushButton("Play", this)),
      add_(new QPushButton("Add", this)), remove_(new QPushButton("Remove", this)),
      mapping_(new QPushButton("Set Mapping", this)), send_(new QPushButton("Batch Send", this)),
      sort_(new QPushButton("Sort", this)) {
    setObjectName("TBatchTrans");
    setWindowTitle("Batch sample transfer");
    setAcceptDrops(true);
    list_->setObjectName("FileList");
    list_->setHeaderLabels({"Name", "Size", "Root", "Low", "High"});
    list_->setRootIsDecorated(false);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setToolTip("Samples to be transferred (Double click to open)");
    list_->setDragEnabled(true);
    list_->viewport()->setAcceptDrops(true);
    list_->viewport()->installEventFilter(this);
    list_->setDragDropMode(QAbstractItemView::DragDrop);
    autoMap_->setObjectName("AutoMapBox");
    autoMap_->setChecked(true);
    position_->setToolTip("Select sample position to send first sample to");
    for (auto* b : {clear_, play_, add_, remove_, mapping_, send_, sort_}) {
        b->setObjectName(b->text().remove(' ') + "Button");
    }
    auto* help = new QPushButton("Help", this);
    help->setObjectName("HelpButton");

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel("Profile:", this), 0, 0);
    grid->addWidget(profile_, 0, 1, 1, 2);
    grid->addWidget(edit_, 0, 3);
    grid->addWidget(list_, 1, 0, 1, 4);
    grid->addWidget(new QLabel("Position:", this), 2, 0);
    grid->addWidget(position_, 2, 1);
    grid->addWidget(autoMap_, 2, 2);
    auto* row1 = new QHBoxLayout;
    for (auto* b : {clear_, play_, add_, remove_, sort_}) {
        row1->addWidget(b);
    }
    grid->addLayout(row1, 3, 0, 1, 4);
    auto* row2 = new QHBoxLayout;
    for (auto* b : {mapping_, send_, abort_, ok_, help}) {
        row2->addWidget(b);
    }
    grid->addLayout(row2, 4, 0, 1, 4);
    grid->addWidget(status_, 5, 0, 1, 4);

    chooseFiles = [this] {
        QFileDialog dialog(this, "Select Waveforms");
        dialog.setFileMode(QFileDialog::ExistingFiles);
        dialog.setLabelText(QFileDialog::Accept, "&Add");
        dialog.setNameFilter("Wave and AIFF files (*.wav *.aif *.aiff);;All files (*)");
        return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
    };
    connect(add_, &QPushButton::clicked, this, [this] {
        stopAudition();
        addFiles(chooseFiles());
    });
    connect(remove_, &QPushButton::clicked, this, [this] {
        std::vector<int> rows;
        for (auto* item : list_->selectedItems()) {
            rows.push_back(list_->indexOfTopLevelItem(item));
        }
        session_.sampler().removeBatchEntries(rows);
        refill();
    });
    connect(clear_, &QPushButton::clicked, this, [this] {
        session_.sampler().clearBatch();
        refill();
    });
    connect(sort_, &QPushButton::clicked, this, [this] {
        session_.sampler().sortBatch();
        refill();
    });
    connect(play_, &QPushButton::clicked, this, [this] { playClicked(); });
    connect(send_, &QPushButton::clicked, this, [this] { batchSend(); });
    connect(mapping_, &QPushButton::clicked, this, [this] {
        TForm6 keymap(host_.keymap(), TForm6::Mode::Batch, int(session_.sampler().batchList().size()), this);
        if (keymap.exec() == QDialog::Accepted) {
            host_.setKeymap(keymap.settings());
        }
    });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        if (running()) {
            return;
        }
        stopAudition();
        const QString file = item->text(0);
        accept();
        host_.openFile(file);
    });
    connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] { restoreControls(); });
}

void TBatchTrans::showRefusal(const std::string& refusal) {
    if (!refusal.empty()) {
        session_.prompter().ask(jobs::MessageKind::Error, refusal, "", jobs::Buttons::Ok);
    }
}

void TBatchTrans::addFiles(const QStringList& files) {
    for (const auto& file : files) {
        showRefusal(session_.sampler().addBatchFile(file.toStdString(), session::BatchOrigin::Add));
    }
    refill();
}

void TBatchTrans::dropFiles(const QStringList& files) {
    if (files.isEmpty() || running()) {
        return;
    }
    showRefusal(session_.sampler().addBatchFile(files.front().toStdString(), session::BatchOrigin::Drop));
    refill();
}

void TBatchTrans::swapEntries(int a, int b) {
    session_.sampler().swapBatchEntries(a, b);
    refill();
}

void TBatchTrans::refill() {
    list_->clear();
    for (const auto& entry : session_.sampler().batchList()) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, QString::fromStdString(entry.path));
        item->setText(1, QString::fromStdString(entry.sizeText));
        item->setText(2, keyText(entry.keys, &sampler::KeyRange::root));
        item->setText(3, keyText(entry.keys, &sampler::KeyRange::low));
        item->setText(4, keyText(entry.keys, &sampler::KeyRange::high));
    }
    restoreControls();
}

void TBatchTrans::showEvent(QShowEvent* event) {
    if (session_.loaded()) {
        host_.closeOutput();
    }
    refreshProfiles();
    refill();
    TransferDialogBase::showEvent(event);
}

void TBatchTrans::done(int result) {
    if (running()) {
        return;
    }
    stopAudition();
    QDialog::done(result);
    if (session_.loaded()) {
        host_.reopenOutput();
    }
}

void TBatchTrans::restoreControls() {
    TransferDialogBase::restoreControls();
    const bool idle = !running();
    const bool any = list_->topLevelItemCount() > 0;
    for (auto* b : {clear_, add_, sort_, mapping_}) {
        b->setEnabled(idle);
    }
    autoMap_->setEnabled(idle);
    remove_->setEnabled(idle && any);
    send_->setEnabled(idle && any);
    play_->setEnabled(idle && (host_.playingFile() || list_->currentItem() != nullptr));
}

void TBatchTrans::playClicked() {
    if (host_.playingFile()) {
        stopAudition();
        return;
    }
    if (auto* item = list_->currentItem(); item != nullptr && host_.playFile(item->text(0))) {
        play_->setText("Stop");
    }
}

void TBatchTrans::stopAudition() {
    if (host_.playingFile()) {
        host_.stopPlaying();
    }
    play_->setText("Play");
}

void TBatchTrans::batchSend() {
    stopAudition();
    // The key map the batch reads is the window's, as "Set Mapping" left it.
    const KeymapSettings k = host_.keymap();
    auto& map = session_.sampler().keyMap;
    map.bankName = k.bankName.toStdString();
    map.noteIndex = k.noteIndex;
    map.octave = k.octave;
    map.interval = k.interval;
    map.whiteKeys = k.whiteKeys;
    map.smoothBatch = k.smoothBatch;
    map.smoothLevel = k.smoothLevel;
    list_->clearSelection();
    session_.sampler().batchSend(position_->value(), autoMap_->isChecked(), [this](const session::TransferEnd& end) {
        transferEnded(end);
        refill();
    });
}

void TBatchTrans::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && !running()) {
        event->acceptProposedAction();
    }
}

void TBatchTrans::dropEvent(QDropEvent* event) {
    QStringList files;
    for (const auto& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            files << url.toLocalFile();
        }
    }
    dropFiles(files);
    event->acceptProposedAction();
}

bool TBatchTrans::eventFilter(QObject* watched, QEvent* event) {
    // An entry dragged onto another swaps with it; files from the desktop are added.
    if (watched == list_->viewport() && event->type() == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(event);
        if (drop->mimeData()->hasUrls()) {
            dropEvent(drop);
            return true;
        }
        auto* target = list_->itemAt(drop->position().toPoint());
        auto* source = list_->currentItem();
        if (target != nullptr && source != nullptr && target != source && !running()) {
            swapEntries(list_->indexOfTopLevelItem(source), list_->indexOfTopLevelItem(target));
        }
        drop->setDropAction(Qt::IgnoreAction);
        drop->accept();
        return true;
    }
    return TransferDialogBase::eventFilter(watched, event);
}

} // namespace cleavix::ui
