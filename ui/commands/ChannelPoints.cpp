#include "ui/commands/ChannelPoints.h"

#include "ui/commands/EditCommands.h"
#include "ui/window/MainFormParts.h"
#include "ui/window/StartForm.h"

#include <QAction>
#include <QMenu>
#include <QSignalBlocker>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

namespace cleavix::ui {

namespace {
constexpr const char* kShared = "L + R";
constexpr const char* kSeparate = "L / R";
} // namespace

ChannelPoints::ChannelPoints(TMainForm& form) : QObject(&form), form_(form) {}

void ChannelPoints::buildActions() {
    action_ = new QAction("Separate Channel Points", &form_);
    action_->setObjectName("SeparatePoints1");
    action_->setCheckable(true);
    mainform::setHint(action_, "Separate channel points|Give each channel of a stereo sample its own slice points "
                               "(L / R), or share them between both (L + R)");
    connect(action_, &QAction::triggered, this, [this](bool separate) {
        if (!setShared(!separate)) {
            updateEnabling(); // the tick goes back to the mode in force
        }
    });
}

void ChannelPoints::fillViewMenu(QMenu& view) {
    const auto items = view.actions();
    const auto right = items.indexOf(form_.action("RightChannel1"));
    view.insertAction(right >= 0 && right + 1 < items.size() ? items[right + 1] : nullptr, action_);
}

void ChannelPoints::fillToolbar(QToolBar& bar) {
    button_ = new QToolButton(&bar);
    button_->setObjectName("PointsButton");
    button_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button_->setAutoRaise(true);
    // As wide as the wider text, so the toolbar does not change size with the mode.
    button_->setText(kSeparate);
    const int separateWidth = button_->sizeHint().width();
    button_->setText(kShared);
    button_->setFixedWidth(std::max(separateWidth, button_->sizeHint().width()));
    mainform::setHint(button_, "Channel points|Slice points shared by both channels (L + R) or each channel's own "
                               "(L / R); click to switch");
    connect(button_, &QToolButton::clicked, this, [this] {
        if (!setShared(!form_.session().pointsShared())) {
            updateEnabling();
        }
    });
    bar.addWidget(button_);
}

void ChannelPoints::updateEnabling() {
    auto& session = form_.session();
    const bool stereo = session.loaded() && session.format().channels == 2;
    const bool shared = !stereo || session.pointsShared();
    const bool on = stereo && !session.busy();
    if (action_ != nullptr) {
        const QSignalBlocker block(action_);
        action_->setChecked(!shared);
        action_->setEnabled(on);
    }
    if (button_ != nullptr) {
        button_->setText(shared ? kShared : kSeparate);
        button_->setEnabled(on);
    }
}

bool ChannelPoints::setShared(bool shared) {
    EditCommands* edits = form_.editCommands();
    if (edits == nullptr || !edits->canEdit()) {
        return false;
    }
    form_.transport()->stop(); // the segment playing belongs to the old points
    const bool started = form_.session().setPointsShared(shared, [edits](bool) { edits->finished(); });
    updateEnabling();
    return started;
}

} // namespace cleavix::ui
