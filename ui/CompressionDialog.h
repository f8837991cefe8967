#pragma once
// The compression options of an AVI export, in the skin of the program's
// windows: the compressors on offer, their quality, the key-frame interval
// and the data rate, each enabled only where the chosen compressor takes it.
#include <optional>

#include "ui/SkinWindow.h"
#include "platform/Dialogs.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;

namespace tarnel {

class CompressionDialog : public SkinWindow {
    Q_OBJECT
public:
    static constexpr int kFaceWidth = 300;
    static constexpr int kFaceHeight = 196;

    explicit CompressionDialog(const CompressionDialogRequest& request, QWidget* parent = nullptr);

    // What the controls hold now.
    AviCompressOptions options() const;

    QComboBox* lst_Codec = nullptr;  // "圧縮ﾌﾟﾛｸﾞﾗﾑ"
    QSlider* HS_Quality = nullptr;   // "品質" 1..100
    QLabel* lbl_Quality = nullptr;
    QCheckBox* chk_KeyFrame = nullptr;  // "ｷｰﾌﾚｰﾑ" every N frames
    QSpinBox* txt_KeyFrame = nullptr;
    QCheckBox* chk_DataRate = nullptr;  // "ﾃﾞｰﾀ ﾚｰﾄ" in KB/s
    QSpinBox* txt_DataRate = nullptr;
    QPushButton* cmd_OK = nullptr;
    QPushButton* Cmd_Can = nullptr;

    void lst_Codec_Click(int index);

private:
    void buildControls();
    void applyInitial(const AviCompressOptions& initial);
    void updateEnabled();

    std::vector<AviCodecInfo> codecs_;
};

// Shows the dialog modally; the confirmed options, or nothing when cancelled.
std::optional<AviCompressOptions> ShowCompressionDialog(const CompressionDialogRequest& request);

}  // namespace tarnel
