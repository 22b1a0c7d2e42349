#include "ui/dialogs/OptionsForm.h"

#include "jobs/Prompter.h"
#include "plugins/ExternalEdit.h"
#include "ui/platform/QtPrompter.h"
#include "ui/view/WaveBox.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QStorageInfo>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cmath>

namespace cleavix::ui {

namespace {

constexpr const char* kMsgTempPath =
    "You have changed the temporary directory path;\r\n\r\nVantrel will only recognise the new path on restart.";

QSlider* makeSlider(QWidget* parent, int value) {
    auto* s = new QSlider(Qt::Horizontal, parent);
    s->setRange(1, 10);
    s->setPageStep(1);
    s->setTickPosition(QSlider::TicksBelow);
    s->setValue(value);
    return s;
}

void fillDevices(QComboBox* list, const std::vector<std::string>& names, int device) {
    list->clear();
    if (names.empty()) {
        list->addItem("No devices found");
        list->setEnabled(false);
        return;
    }
    for (const auto& name : names) {
        list->addItem(QString::fromStdString(name));
    }
    // List index i is device i - 1.
    list->setCurrentIndex(std::clamp(device + 1, 0, list->count() - 1));
}

} // namespace

TForm4::TForm4(Config& config, TransportControl& transport, session::Session& session, QWidget* parent)
    : QDialog(parent, Qt::Tool), config_(config), transport_(transport), session_(session),
      colours_(config.colours), pages_(new QTabWidget(this)) {
    setObjectName("TForm4");
    setWindowTitle("Preferences");
    pages_->addTab(generalPage(), "General");
    pages_->addTab(locationsPage(), "File Locations");
    pages_->addTab(coloursPage(), "Colours");
    pages_->addTab(devicesPage(), "Devices");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &TForm4::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* column = new QVBoxLayout(this);
    column->addWidget(pages_);
    column->addWidget(buttons);
}

QCheckBox* TForm4::box(const QString& text) const {
    for (QCheckBox* b : boxes_) {
        if (b->text() == text) {
            return b;
        }
    }
    return nullptr;
}

QWidget* TForm4::generalPage() {
    auto* page = new QWidget(this);
    auto* grid = new QVBoxLayout(page);
    auto add = [&](const QString& text, bool on, bool visible = true) {
        auto* b = new QCheckBox(text, page);
        b->setChecked(on);
        b->setVisible(visible);
        boxes_ << b;
        if (visible) {
            grid->addWidget(b);
        }
        return b;
    };
    add("Enable undo buffer", config_.enableUndo);
    add("Use old right mouse menu", config_.oldRMB);
    add("Prompt when closing unsaved file", config_.prompt);
    add("Default to 1 bar on loading", config_.setOneBar);
    add("Save SoundFont filter enable in *.mid", config_.filterEnable);
    add("Show open dialog on startup", config_.showOpenDialog);
    add("Scan sample when loading", config_.scanWaveOnLoad);
    add("Show legend on transport controls", config_.showButtonText, false);
    auto* form = new QFormLayout;
    blockSize_ = new QComboBox(page);
    blockSize_->addItems({"64", "128", "256", "512"});
    blockSize_->setCurrentText(QString::number(config_.waveCacheSize));
    form->addRow("Peak sample block size:", blockSize_);
    defaultTool_ = new QComboBox(page);
    defaultTool_->addItems({"Segment", "Region"});
    defaultTool_->setCurrentIndex(config_.toolDefault);
    defaultTool_->setVisible(false);
    grid->addLayout(form);
    grid->addStretch();
    return page;
}

QWidget* TForm4::locationsPage() {
    auto* page = new QWidget(this);
    auto* grid = new QGridLayout(page);
    int row = 0;
    // commandWord: the field holds a command line, so a chosen program with blanks is quoted.
    auto pathRow = [&](const QString& caption, const QString& value, bool folder, QLabel** labelOut = nullptr,
                       bool commandWord = false) {
        auto* label = new QLabel(caption, page);
        auto* edit = new QLineEdit(value, page);
        auto* browse = new QPushButton("Browse...", page);
        grid->addWidget(label, row++, 0, 1, 2);
        grid->addWidget(edit, row, 0);
        grid->addWidget(browse, row++, 1);
        connect(browse, &QPushButton::clicked, this, [this, edit, folder, commandWord] {
            const QString chosen = folder ? QFileDialog::getExistingDirectory(this, "Select temporary path:", edit->text())
                                          : QFileDialog::getOpenFileName(this, QString(), edit->text());
            if (!chosen.isEmpty()) {
                edit->setText(commandWord ? QString::fromStdString(plugins::quoteCommandWord(chosen.toStdString()))
                                          : chosen);
            }
        });
        if (labelOut != nullptr) {
            *labelOut = label;
        }
        return edit;
    };
    controlPanel_ = pathRow("Sound settings program location:", config_.cpLoc, false);
    editor_ = pathRow("Sample editor location:", config_.editLoc, false, nullptr, true);
    editor_->setToolTip("The wave editor's command: a program, optionally with arguments (\"flatpak run ...\")");
    tempPath_ = pathRow("Temporary file path:", config_.tempPath, true, &tempLabel_);
    connect(tempPath_, &QLineEdit::textChanged, this, [this] { updateFreeSpace(); });
    grid->setRowStretch(row, 1);
    updateFreeSpace();
    return page;
}

void TForm4::updateFreeSpace() {
    const QString path = tempPath_->text().isEmpty() || !QFileInfo(tempPath_->text()).isDir()
                             ? QString::fromStdString(session_.workingDirectory())
                             : tempPath_->text();
    const QStorageInfo storage(path);
    const double megabytes = double(storage.bytesAvailable()) / (1024.0 * 1024.0);
    tempLabel_->setText(QString("Temporary File Path (%1MB Free):").arg(megabytes, 0, 'f', 1));
}

QWidget* TForm4::coloursPage() {
    auto* page = new QWidget(this);
    auto* grid = new QGridLayout(page);
    grid->addWidget(new QLabel("Select:", page), 0, 0);
    colourItems_ = new QListWidget(page);
    for (const char* item : kColourItemNames) {
        colourItems_->addItem(item);
    }
    colourItems_->setCurrentRow(0);
    colourItems_->setMaximumWidth(170);
    grid->addWidget(colourItems_, 1, 0);
    auto* change = new QPushButton("&Change", page);
    grid->addWidget(change, 2, 0);
    preview_ = new TWaveBox(page);
    preview_->setObjectName("ColourPreview");
    preview_->setMinimumSize(456, 140);
    preview_->onPaint = [this](TWaveBox& box, QPainter& p) { paintPreview(p, box.width(), box.height()); };
    grid->addWidget(preview_, 0, 1, 3, 1);
    connect(change, &QPushButton::clicked, this, [this] {
        const int index = colourItems_->currentRow();
        if (index < 0) {
            return;
        }
        const QColor chosen = QColorDialog::getColor(colours_[size_t(index)], this);
        if (chosen.isValid()) {
            setWorkingColour(index, chosen);
        }
    });
    return page;
}

void TForm4::setWorkingColour(int index, const QColor& colour) {
    if (index >= 0 && index < kColourCount) {
        colours_[size_t(index)] = colour;
        preview_->update();
    }
}

void TForm4::paintPreview(QPainter& p, int width, int height) const {
    p.fillRect(0, 0, width, height, colours_[ColBackground]);
    p.setPen(colours_[ColZeroLine]);
    p.drawLine(0, height / 2, width, height / 2);
    p.setPen(colours_[ColWaveform]);
    QPoint previous;
    for (int x = 0; x < width; ++x) {
        const QPoint point(x, int(std::sin((x + 24) / 20.0) * height / 2.2 + height / 2.0));
        if (x > 0) {
            p.drawLine(previous, point);
        }
        previous = point;
    }
    p.setPen(colours_[ColCutLine]);
    for (int x : {39, 165, 291, 417}) {
        p.drawLine(x, 0, x, height);
    }
}

QWidget* TForm4::devicesPage() {
    auto* page = new QWidget(this);
    auto* form = new QFormLayout(page);
    output_ = new QComboBox(page);
    fillDevices(output_, transport_.outputNames(), transport_.device());
    form->addRow(" Wave output:", output_);
    bufferSize_ = makeSlider(page, config_.seconds);
    form->addRow(" Buffer size:", bufferSize_);
    buffers_ = makeSlider(page, config_.buffers);
    form->addRow(" Buffers:", buffers_);
    input_ = new QComboBox(page);
    fillDevices(input_, transport_.inputNames(), -1);
    input_->setVisible(false); // recording has its own dialog
    return page;
}

void TForm4::accept() {
    QtPrompter prompter;
    prompter.setParent(this);
    config_.colours = colours_;
    config_.cpLoc = controlPanel_->text();
    config_.editLoc = editor_->text();
    if (tempPath_->text() != config_.tempPath) {
        prompter.ask(jobs::MessageKind::Warning, kMsgTempPath, "", jobs::Buttons::Ok);
        config_.tempPath = tempPath_->text(); // taken at the next start
    }
    config_.waveCacheSize = blockSize_->currentText().toInt();
    config_.showButtonText = box("Show legend on transport controls")->isChecked();
    config_.setOneBar = box("Default to 1 bar on loading")->isChecked();
    config_.showOpenDialog = box("Show open dialog on startup")->isChecked();
    const bool buffersChanged = bufferSize_->value() != config_.seconds || buffers_->value() != config_.buffers;
    const int device = output_->isEnabled() ? output_->currentIndex() - 1 : config_.waveId;
    if (buffersChanged || device != transport_.device()) {
        transport_.closeOutput();
        config_.seconds = bufferSize_->value();
        config_.buffers = buffers_->value();
        config_.waveId = device;
        transport_.setBuffers(config_.seconds, config_.buffers);
        transport_.setDevice(device);
        if (session_.loaded()) {
            transport_.openOutput();
        }
    }
    config_.filterEnable = box("Save SoundFont filter enable in *.mid")->isChecked();
    config_.prompt = box("Prompt when closing unsaved file")->isChecked();
    config_.enableUndo = box("Enable undo buffer")->isChecked();
    config_.oldRMB = box("Use old right mouse menu")->isChecked();
    config_.scanWaveOnLoad = box("Scan sample when loading")->isChecked();
    config_.toolDefault = defaultTool_->currentIndex();
    QDialog::accept();
}

} // namespace cleavix::ui
