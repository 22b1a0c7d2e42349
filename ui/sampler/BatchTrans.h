#pragma once
// TBatchTrans, the "Batch sample transfer" dialog: the list of files to send (the session's
// batch list: "Name", "Size" and the key columns), Add, Remove, Clear All, Sort, drag one entry
// onto another to swap them, files dropped from the desktop, Play/Stop to audition the selected
// file, Set Mapping (the key map in batch mode), Edit (the profile manager), Batch Send and Abort
// dump. Double-clicking an entry opens it in the editor and closes the dialog.
//
// Threads: main thread only.
#include "ui/sampler/TransferDialog.h"

#include <QStringList>

#include <functional>

class QCheckBox;
class QTreeWidget;

namespace cleavix::ui {

class TBatchTrans final : public TransferDialogBase {
    Q_OBJECT
public:
    TBatchTrans(session::Session& session, SamplerHost& host, QWidget* parent = nullptr);

    QTreeWidget* fileList() const { return list_; }
    QCheckBox* autoMapBox() const { return autoMap_; }
    QPushButton* addButton() const { return add_; }
    QPushButton* removeButton() const { return remove_; }
    QPushButton* clearButton() const { return clear_; }
    QPushButton* sortButton() const { return sort_; }
    QPushButton* playButton() const { return play_; }
    QPushButton* mappingButton() const { return mapping_; }
    QPushButton* sendButton() const { return send_; }

    // The file dialog of "Add"; tests replace it.
    std::function<QStringList()> chooseFiles;
    // Adds files as "Add" does (each refusal shown); a drop takes the first file only.
    void addFiles(const QStringList& files);
    void dropFiles(const QStringList& files);
    void swapEntries(int a, int b);
    void batchSend();
    // Fills the list from the session's batch list.
    void refill();

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;
    void restoreControls() override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void playClicked();
    void stopAudition();
    void showRefusal(const std::string& refusal);

    QTreeWidget* list_;
    QCheckBox* autoMap_;
    QPushButton* clear_;
    QPushButton* play_;
    QPushButton* add_;
    QPushButton* remove_;
    QPushButton* mapping_;
    QPushButton* send_;
    QPushButton* sort_;
};

} // namespace cleavix::ui
