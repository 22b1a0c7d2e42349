#include "ui/dialogs/ConvertForm.h"

#include "ui/dialogs/FormButtons.h"

#include <QComboBox>
#include <QGroupBox>
#include <QVBoxLayout>

namespace cleavix::ui {

TConvertForm::TConvertForm(int channels, QWidget* parent) : QDialog(parent), list_(new QComboBox(this)) {
    setObjectName("TConvertForm");
    list_->setObjectName("ChannelList");
    if (channels == 2) {
        setWindowTitle("Convert to mono");
        list_->addItems({"Use Left Channel", "Use Right Channel", "Mix Channels"});
        list_->setCurrentIndex(2);
    } else {
        setWindowTitle("Convert to stereo");
        list_->addItem("Mono to stereo");
        list_->setCurrentIndex(0);
    }
    auto* group = new QGroupBox("Select channel:", this);
    auto* inner = new QVBoxLayout(group);
    inner->addWidget(list_);
    auto* buttons = okCancelButtons(*this, "Convert sample");
    auto* column = new QVBoxLayout(this);
    column->addWidget(group);
    column->addWidget(buttons);
    fitTitle(*this);
}

int TConvertForm::choice() const { return list_->count() == 3 ? list_->currentIndex() : 0; }

} // namespace cleavix::ui
