#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>

#include "ui/QtDialogs.h"
#include "ui/CompressionDialog.h"

using namespace tarnel;

namespace {

std::vector<AviCodecInfo> codecs() {
    return {{AviCodec::Raw, "raw", "非圧縮", false, false, false},
            {AviCodec::MJpeg, "mjpeg", "Motion JPEG", true, false, false},
            {AviCodec::Mpeg4, "mpeg4", "MPEG-4", true, true, true}};
}

CompressionDialogRequest request(AviCompressOptions initial = {}) { return {codecs(), initial}; }

std::vector<QString> labelTexts(QWidget* w) {
    std::vector<QString> out;
    for (QLabel* l : w->findChildren<QLabel*>()) out.push_back(l->text());
    return out;
}

TEST(CompressionDialog, ShowsTheCompressorsAndItsTexts) {
    CompressionDialog d(request());
    EXPECT_EQ(d.windowTitle(), QStringLiteral("ﾋﾞﾃﾞｵの圧縮"));
    ASSERT_EQ(d.lst_Codec->count(), 3);
    EXPECT_EQ(d.lst_Codec->itemText(0), QStringLiteral("非圧縮"));
    EXPECT_EQ(d.lst_Codec->currentIndex(), 0);
    const auto labels = labelTexts(&d);
    for (const char* text : {"圧縮ﾌﾟﾛｸﾞﾗﾑ", "品質", "KB/s"})
        EXPECT_NE(std::find(labels.begin(), labels.end(), QString::fromUtf8(text)), labels.end()) << text;
    EXPECT_EQ(d.chk_KeyFrame->text(), QStringLiteral("ｷｰﾌﾚｰﾑ"));
    EXPECT_EQ(d.chk_DataRate->text(), QStringLiteral("ﾃﾞｰﾀ ﾚｰﾄ"));
    EXPECT_EQ(d.cmd_OK->text(), QStringLiteral("OK"));
    EXPECT_EQ(d.Cmd_Can->text(), QStringLiteral("ｷｬﾝｾﾙ"));
    EXPECT_EQ(d.HS_Quality->minimum(), 1);
    EXPECT_EQ(d.HS_Quality->maximum(), 100);
}

struct EnabledCase {
    int codec;
    bool quality, keyFrames, dataRate;
};

class CompressionDialogEnabled : public ::testing::TestWithParam<EnabledCase> {};

TEST_P(CompressionDialogEnabled, OffersWhatTheCompressorTakes) {
    const EnabledCase c = GetParam();
    CompressionDialog d(request());
    d.lst_Codec->setCurrentIndex(c.codec);
    EXPECT_EQ(d.HS_Quality->isEnabled(), c.quality);
    EXPECT_EQ(d.chk_KeyFrame->isEnabled(), c.keyFrames);
    EXPECT_EQ(d.chk_DataRate->isEnabled(), c.dataRate);
    d.chk_DataRate->setChecked(true);
    EXPECT_EQ(d.txt_DataRate->isEnabled(), c.dataRate);
    d.chk_DataRate->setChecked(false);
    EXPECT_FALSE(d.txt_DataRate->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Codecs, CompressionDialogEnabled,
                         ::testing::Values(EnabledCase{0, false, false, false}, EnabledCase{1, true, false, false},
                                           EnabledCase{2, true, true, true}));

TEST(CompressionDialog, OpensWithTheGivenChoiceAndReturnsTheControls) {
    AviCompressOptions initial;
    initial.codec = AviCodec::Mpeg4;
    initial.quality = 30;
    initial.keyFrameEvery = 12;
    initial.dataRateKBps = 800;
    CompressionDialog d(request(initial));
    EXPECT_EQ(d.lst_Codec->currentIndex(), 2);
    EXPECT_EQ(d.HS_Quality->value(), 30);
    EXPECT_TRUE(d.chk_KeyFrame->isChecked());
    EXPECT_EQ(d.txt_KeyFrame->value(), 12);
    EXPECT_TRUE(d.chk_DataRate->isChecked());
    EXPECT_EQ(d.txt_DataRate->value(), 800);

    d.HS_Quality->setValue(90);
    d.chk_DataRate->setChecked(false);
    AviCompressOptions o = d.options();
    EXPECT_EQ(o.codec, AviCodec::Mpeg4);
    EXPECT_EQ(o.quality, 90);
    EXPECT_EQ(o.keyFrameEvery, 12);
    EXPECT_EQ(o.dataRateKBps, 0);

    // What a compressor does not take is not passed on.
    d.lst_Codec->setCurrentIndex(0);
    o = d.options();
    EXPECT_EQ(o.codec, AviCodec::Raw);
    EXPECT_EQ(o.keyFrameEvery, 1);
    EXPECT_EQ(o.dataRateKBps, 0);
}

TEST(CompressionDialog, AnUnknownInitialCompressorSelectsTheFirst) {
    AviCompressOptions initial;
    initial.codec = AviCodec::H264;
    CompressionDialog d(request(initial));
    EXPECT_EQ(d.lst_Codec->currentIndex(), 0);
}

TEST(CompressionDialog, WithoutCompressorsOnlyCancelIsLeft) {
    CompressionDialog d(CompressionDialogRequest{});
    EXPECT_FALSE(d.cmd_OK->isEnabled());
}

// Presses a button of the dialog once it is up.
void pressWhenShown(bool ok) {
    QTimer::singleShot(0, [ok] {
        auto* d = qobject_cast<CompressionDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        d->lst_Codec->setCurrentIndex(1);
        (ok ? d->cmd_OK : d->Cmd_Can)->click();
    });
}

TEST(CompressionDialog, OKConfirmsAndCancelCancels) {
    pressWhenShown(true);
    std::optional<AviCompressOptions> chosen = ShowCompressionDialog(request());
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(chosen->codec, AviCodec::MJpeg);
    pressWhenShown(false);
    EXPECT_FALSE(ShowCompressionDialog(request()).has_value());
}

TEST(QtDialogsCompression, GoesThroughTheDialogHandedIn) {
    QtDialogs dialogs;
    EXPECT_FALSE(dialogs.chooseCompression(request()).has_value());
    size_t offered = 0;
    dialogs.setCompressionDialog([&](const CompressionDialogRequest& r) -> std::optional<AviCompressOptions> {
        offered = r.codecs.size();
        return r.initial;
    });
    AviCompressOptions initial;
    initial.quality = 55;
    auto chosen = dialogs.chooseCompression(request(initial));
    EXPECT_EQ(offered, 3u);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(chosen->quality, 55);
}

}  // namespace
