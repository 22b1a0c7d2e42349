#include "ui/view/SegmentDrag.h"

#include "session/Session.h"
#include "slicing/SegmentExport.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>

namespace cleavix::ui {

SegmentDragOut::SegmentDragOut(session::Session& session) : session_(session) {}

SegmentDragOut::~SegmentDragOut() = default;

QString SegmentDragOut::folder() {
    if (!folder_) {
        const QString base = QString::fromStdString(session_.workingDirectory());
        folder_ = std::make_unique<QTemporaryDir>(QDir(base.isEmpty() ? QDir::tempPath() : base)
                                                      .filePath("cleavix-drag-XXXXXX"));
    }
    return folder_->isValid() ? folder_->path() : QString();
}

bool SegmentDragOut::holds(const QString& path) const {
    if (!folder_ || !folder_->isValid()) {
        return false;
    }
    const QString ours = QFileInfo(folder_->path()).canonicalFilePath();
    const QString parent = QFileInfo(QFileInfo(path).absolutePath()).canonicalFilePath();
    return !ours.isEmpty() && parent == ours;
}

QString SegmentDragOut::fileNameFor(int index) const {
    auto& slicer = session_.slicer();
    const auto& list = slicer.slicePoints();
    const bool unlinked = session_.format().channels == 2 && !slicer.linked();
    // Unlinked stereo numbers each channel's segments on their own, as the export does.
    const int code = unlinked ? list.at(index).channel : 0;
    int number = 1;
    for (int k = 1; k <= index; ++k) {
        const auto& p = list.at(k);
        if (p.position > 0 && (code == 0 || p.channel == code)) {
            ++number;
        }
    }
    QString base = QFileInfo(QString::fromStdString(session_.fileName())).completeBaseName();
    if (base.isEmpty()) {
        base = "Untitled";
    }
    const std::string suffix = !unlinked ? "" : code == slicing::kCodeFirst ? "L" : "R";
    return QString::fromStdString(
        slicing::segmentFileName(base.toStdString() + ".wav", number, list.count(), suffix));
}

std::unique_ptr<QMimeData> SegmentDragOut::prepare(int index, QString* error) {
    auto fail = [error](const QString& why) {
        if (error != nullptr) {
            *error = why;
        }
        return std::unique_ptr<QMimeData>();
    };
    auto& slicer = session_.slicer();
    const auto& list = slicer.slicePoints();
    if (!session_.loaded() || session_.busy() || index < 0 || index > list.count()) {
        return fail("No segment to drag");
    }
    const QString dir = folder();
    if (dir.isEmpty()) {
        return fail("Cannot create a folder for the dragged segment");
    }
    const QString path = QDir(dir).filePath(fileNameFor(index));
    const slicing::ExportFile file =
        slicing::planSegmentAt(list, index, session_.format(), slicer.channelMode(), path.toStdString());
    if (file.length == 0) {
        return fail("The segment is empty");
    }
    if (file.length > kMaxDragBytes) {
        return fail("Segment too long to drag out; use Save Selected Segment");
    }
    const auto result = slicing::writeExportFile(session_.store(), file, 16, 0);
    if (!result.ok) {
        return fail(QString("Cannot write %1: %2").arg(path, QString::fromStdString(result.error)));
    }
    auto data = std::make_unique<QMimeData>();
    data->setUrls({QUrl::fromLocalFile(path)});
    return data;
}

} // namespace cleavix::ui
