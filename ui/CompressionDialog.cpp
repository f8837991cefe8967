#include "ui/CompressionDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>

#include "ui/Skin.h"

namespace tarnel {

namespace {

constexpr int kMaxKeyFrameInterval = 999;
constexpr int kMaxDataRate = 100000;  // KB/s
constexpr int kDefaultDataRate = 300;


const char* kControlStyle =
    "QComboBox, QSpinBox { color: rgb(24, 30, 64); background: white;"
    "  border: 1px solid rgb(66, 72, 132); border-radius: 2px; padding: 0px 3px; }"
    "QComboBox:disabled, QSpinBox:disabled { color: rgb(124, 128, 156); background: rgb(214, 216, 230);"
    "  border-color: rgb(146, 150, 176); }"
    "QComboBox QAbstractItemView { selection-background-color: rgb(52, 64, 132); selection-color: white; }"
    "QLabel, QCheckBox { color: rgb(24, 30, 64); }"
    "QLabel:disabled, QCheckBox:disabled { color: rgb(124, 128, 156); }"
    "QSlider::groove:horizontal { height: 4px; background: rgb(66, 72, 132); border-radius: 2px; }"
    "QSlider::groove:horizontal:disabled { background: rgb(146, 150, 176); }"
    "QSlider::handle:horizontal { width: 10px; margin: -6px 0; border-radius: 3px;"
    "  background: rgb(192, 192, 255); border: 1px solid rgb(66, 72, 132); }"
    "QSlider::handle:horizontal:disabled { background: rgb(202, 204, 222); border-color: rgb(146, 150, 176); }";

}  // namespace

CompressionDialog::CompressionDialog(const CompressionDialogRequest& request, QWidget* parent)
    : SkinWindow(kFaceWidth, kFaceHeight, QStringLiteral("ﾋﾞﾃﾞｵの圧縮"), parent), codecs_(request.codecs) {
    setModal(true);
    buildControls();
    applyInitial(request.initial);
}

void CompressionDialog::buildControls() {
    QWidget* face = this->face();
    face->setStyleSheet(kControlStyle);
    const QCursor cursor = Skin::get().cursor;

    SkinLabel(face, QStringLiteral("圧縮ﾌﾟﾛｸﾞﾗﾑ"), QRect(12, 10, 276, 18));
    lst_Codec = new QComboBox(face);
    lst_Codec->setGeometry(12, 30, 276, 24);
    lst_Codec->setFont(Skin::font(12));
    lst_Codec->setCursor(cursor);
    for (const AviCodecInfo& c : codecs_) lst_Codec->addItem(QString::fromStdString(c.label));
    connect(lst_Codec, &QComboBox::currentIndexChanged, this, [this](int i) { lst_Codec_Click(i); });

    SkinLabel(face, QStringLiteral("品質"), QRect(12, 66, 80, 20));
    HS_Quality = new QSlider(Qt::Horizontal, face);
    HS_Quality->setGeometry(96, 66, 150, 20);
    HS_Quality->setRange(1, 100);
    HS_Quality->setCursor(cursor);
    lbl_Quality = SkinLabel(face, QString(), QRect(252, 66, 36, 20));
    lbl_Quality->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    connect(HS_Quality, &QSlider::valueChanged, this, [this](int v) { lbl_Quality->setText(QString::number(v)); });

    chk_KeyFrame = new QCheckBox(QStringLiteral("ｷｰﾌﾚｰﾑ"), face);
    chk_KeyFrame->setGeometry(12, 96, 84, 22);
    chk_KeyFrame->setFont(Skin::font(12));
    chk_KeyFrame->setCursor(cursor);
    txt_KeyFrame = new QSpinBox(face);
    txt_KeyFrame->setGeometry(96, 96, 64, 22);
    txt_KeyFrame->setRange(1, kMaxKeyFrameInterval);
    txt_KeyFrame->setFont(Skin::font(12));
    SkinLabel(face, QStringLiteral("ﾌﾚｰﾑごと"), QRect(166, 96, 80, 22));
    connect(chk_KeyFrame, &QCheckBox::toggled, this, [this] { updateEnabled(); });

    chk_DataRate = new QCheckBox(QStringLiteral("ﾃﾞｰﾀ ﾚｰﾄ"), face);
    chk_DataRate->setGeometry(12, 126, 84, 22);
    chk_DataRate->setFont(Skin::font(12));
    chk_DataRate->setCursor(cursor);
    txt_DataRate = new QSpinBox(face);
    txt_DataRate->setGeometry(96, 126, 64, 22);
    txt_DataRate->setRange(1, kMaxDataRate);
    txt_DataRate->setValue(kDefaultDataRate);
    txt_DataRate->setFont(Skin::font(12));
    SkinLabel(face, QStringLiteral("KB/s"), QRect(166, 126, 60, 22));
    connect(chk_DataRate, &QCheckBox::toggled, this, [this] { updateEnabled(); });

    auto button = [&](const QString& text, int x) {
        auto* b = new QPushButton(text, face);
        b->setProperty("skin", "true");
        b->setGeometry(x, 162, 84, 24);
        b->setFont(Skin::font(12));
        b->setAutoDefault(false);
        b->setCursor(cursor);
        return b;
    };
    cmd_OK = button(QStringLiteral("OK"), 112);
    Cmd_Can = button(QStringLiteral("ｷｬﾝｾﾙ"), 204);
    cmd_OK->setDefault(true);
    connect(cmd_OK, &QPushButton::clicked, this, &QDialog::accept);
    connect(Cmd_Can, &QPushButton::clicked, this, &QDialog::reject);
}

void CompressionDialog::applyInitial(const AviCompressOptions& initial) {
    int index = 0;
    for (size_t i = 0; i < codecs_.size(); ++i)
        if (codecs_[i].codec == initial.codec) index = int(i);
    HS_Quality->setValue(initial.quality);
    lbl_Quality->setText(QString::number(HS_Quality->value()));
    chk_KeyFrame->setChecked(initial.keyFrameEvery >= 1);
    txt_KeyFrame->setValue(initial.keyFrameEvery >= 1 ? initial.keyFrameEvery : 1);
    chk_DataRate->setChecked(initial.dataRateKBps > 0);
    if (initial.dataRateKBps > 0) txt_DataRate->setValue(initial.dataRateKBps);
    lst_Codec->setCurrentIndex(codecs_.empty() ? -1 : index);
    updateEnabled();
}

void CompressionDialog::lst_Codec_Click(int) { updateEnabled(); }

void CompressionDialog::updateEnabled() {
    const int index = lst_Codec->currentIndex();
    const AviCodecInfo* c = index >= 0 && size_t(index) < codecs_.size() ? &codecs_[size_t(index)] : nullptr;
    const bool quality = c && c->takesQuality;
    const bool keyFrames = c && c->takesKeyFrames;
    const bool dataRate = c && c->takesDataRate;
    HS_Quality->setEnabled(quality);
    lbl_Quality->setEnabled(quality);
    chk_KeyFrame->setEnabled(keyFrames);
    txt_KeyFrame->setEnabled(keyFrames && chk_KeyFrame->isChecked());
    chk_DataRate->setEnabled(dataRate);
    txt_DataRate->setEnabled(dataRate && chk_DataRate->isChecked());
    // Nothing to compress with: only cancel is left.
    cmd_OK->setEnabled(c != nullptr);
}

AviCompressOptions CompressionDialog::options() const {
    AviCompressOptions o;
    const int index = lst_Codec->currentIndex();
    if (index < 0 || size_t(index) >= codecs_.size()) return o;
    const AviCodecInfo& c = codecs_[size_t(index)];
    o.codec = c.codec;
    o.quality = HS_Quality->value();
    // Without a forced interval every frame stays a key frame, as the export marks them.
    o.keyFrameEvery = c.takesKeyFrames && chk_KeyFrame->isChecked() ? txt_KeyFrame->value() : 1;
    o.dataRateKBps = c.takesDataRate && chk_DataRate->isChecked() ? txt_DataRate->value() : 0;
    return o;
}

std::optional<AviCompressOptions> ShowCompressionDialog(const CompressionDialogRequest& request) {
    CompressionDialog dialog(request);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.options();
}

}  // namespace tarnel
