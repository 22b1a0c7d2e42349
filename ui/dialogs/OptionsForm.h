#pragma once
// TForm4, the "Preferences" dialog: pages "General", "File Locations", "Colours" and "Devices".
// It edits working copies; "OK" writes them into the configuration values (and the player's
// settings), "Cancel" discards them.
#include "session/Session.h"
#include "ui/platform/Config.h"
#include "ui/commands/TransportControl.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QSlider;
class QTabWidget;

namespace cleavix::ui {

class TWaveBox;

class TForm4 final : public QDialog {
    Q_OBJECT
public:
    TForm4(Config& config, TransportControl& transport, session::Session& session, QWidget* parent);

    QTabWidget* pages() const { return pages_; }
    QCheckBox* box(const QString& text) const;
    QComboBox* blockSizeList() const { return blockSize_; }
    QComboBox* outputList() const { return output_; }
    QListWidget* colourItems() const { return colourItems_; }
    QLineEdit* tempPathEdit() const { return tempPath_; }
    // The working colour set; "&Change" sets the selected item's colour in it.
    ColourSet& workingColours() { return colours_; }
    void setWorkingColour(int index, const QColor& colour);

    void accept() override;

private:
    QWidget* generalPage();
    QWidget* locationsPage();
    QWidget* coloursPage();
    QWidget* devicesPage();
    void paintPreview(QPainter& painter, int width, int height) const;
    void updateFreeSpace();

    Config& config_;
    TransportControl& transport_;
    session::Session& session_;
    ColourSet colours_;
    QTabWidget* pages_;
    QList<QCheckBox*> boxes_;
    QComboBox* blockSize_ = nullptr;
    QComboBox* defaultTool_ = nullptr;
    QLineEdit* controlPanel_ = nullptr;
    QLineEdit* editor_ = nullptr;
    QLineEdit* tempPath_ = nullptr;
    QLabel* tempLabel_ = nullptr;
    QListWidget* colourItems_ = nullptr;
    TWaveBox* preview_ = nullptr;
    QComboBox* output_ = nullptr;
    QSlider* bufferSize_ = nullptr;
    QSlider* buffers_ = nullptr;
    QComboBox* input_ = nullptr;
};

} // namespace cleavix::ui
