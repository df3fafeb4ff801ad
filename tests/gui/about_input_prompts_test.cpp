// The about box, the "Rename file" input dialog, the decoder list and the
// window's answers to the engine's questions.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "gui_fixture.h"
#include "shell/qt/decoder_list.h"
#include "shell/qt/dlg_about.h"
#include "shell/qt/dlg_input.h"
#include "shell/qt/qt_prompts.h"

namespace {
// Runs check on the next modal dialog once it is shown.
void OnNextModal(std::function<void(QWidget*)> check) {
    QTimer::singleShot(0, [check] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) {
            OnNextModal(check);
            return;
        }
        check(modal);
    });
}
}  // namespace

TEST(AboutBox, SummaryShowsTwoNamesAndMore) {
    const QStringList three{"Ravelo MPEG-2 snapshot decoder", "B", "C"};
    EXPECT_EQ(CDlgAbout::DecoderSummary(three),
              QStringLiteral("Installed DirectShow MPEG-2 Filters:\n  - Ravelo MPEG-2 snapshot "
                             "decoder\n  - B..."));
    EXPECT_EQ(CDlgAbout::DecoderSummary(three.mid(0, 2)),
              QStringLiteral("Installed DirectShow MPEG-2 Filters:\n  - Ravelo MPEG-2 snapshot "
                             "decoder\n  - B"));
    EXPECT_EQ(CDlgAbout::DecoderListText(three),
              QStringLiteral("Installed DirectShow MPEG-2 Filters:\n  - Ravelo MPEG-2 snapshot "
                             "decoder\n  - B\n  - C"));
    EXPECT_EQ(CDlgAbout::DecoderListText({}), QStringLiteral("Fehler!"));
}

TEST(AboutBox, VersionNoticeAndButtons) {
    CDlgAbout dialog({QString::fromLatin1(kBuiltInDecoderName)});
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Info about Ravelo"));
    auto* version = dialog.findChild<QLabel*>(QStringLiteral("ctl142"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text(), QStringLiteral("Ravelo Version 0.96 (Beta)"));
    EXPECT_EQ(dialog.findChild<QPushButton*>(QStringLiteral("ctl1"))->text(),
              QStringLiteral("I Agree"));
    EXPECT_EQ(dialog.findChild<QPushButton*>(QStringLiteral("ctl2"))->text(),
              QStringLiteral("I don't agree"));
    // The notice appears with the timer's first tick.
    EXPECT_TRUE(dialog.NoticeText().isEmpty());
    PumpFor(250);
    EXPECT_EQ(dialog.NoticeText(), QString::fromUtf8("\xC2\xA7"
                                                     "Attention!!!"
                                                     "\xC2\xA7"
                                                     "\n"));
}

TEST(AboutBox, EscapeMeansIDontAgreeAndAgreeAccepts) {
    {
        CDlgAbout dialog({QString::fromLatin1(kBuiltInDecoderName)});
        OnNextModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
        EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    }
    {
        CDlgAbout dialog({QString::fromLatin1(kBuiltInDecoderName)});
        OnNextModal([](QWidget* modal) {
            modal->findChild<QPushButton*>(QStringLiteral("ctl1"))->click();
        });
        EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    }
}

TEST(DecoderList, OurOwnDecoderComesFirstAndAlwaysIsThere) {
    const QStringList decoders = ListMpeg2Decoders();
    ASSERT_FALSE(decoders.isEmpty());
    EXPECT_EQ(decoders.front(), QStringLiteral("Ravelo MPEG-2 snapshot decoder"));
}

TEST(DecoderList, GStreamerRegistryParsing) {
    const QString inspect = QStringLiteral(
        "mpeg2dec:  mpeg2dec: mpeg1 and mpeg2 video decoder\n"
        "libav:  avdec_mpeg2video: libav MPEG-2 video decoder\n"
        "mpegtsdemux:  tsdemux: MPEG transport stream demuxer\n"
        "libav:  avdemux_mpegts: libav raw MPEG-TS demuxer\n"
        "audioparsers:  mpegaudioparse: MPEG1 Audio Parser\n"
        "Total count: 2 plugins\n");
    EXPECT_EQ(GstDecoderCandidates(inspect),
              (QStringList{QStringLiteral("mpeg2dec"), QStringLiteral("avdec_mpeg2video")}));
    const QString mpeg2 = QStringLiteral(
        "Pad Templates:\n  SINK template: 'sink'\n    Availability: Always\n    Capabilities:\n"
        "      video/mpeg\n         mpegversion: { (int)1, (int)2 }\n    systemstream: false\n"
        "  SRC template: 'src'\n      video/x-raw\n");
    const QString mpeg4 = QStringLiteral(
        "Pad Templates:\n  SINK template: 'sink'\n    Capabilities:\n      video/mpeg\n"
        "         mpegversion: 4\n  SRC template: 'src'\n      video/mpeg\n"
        "         mpegversion: 2\n");
    EXPECT_TRUE(GstTakesMpeg2Video(mpeg2));
    EXPECT_FALSE(GstTakesMpeg2Video(mpeg4));  // MPEG-2 on the source side only
    EXPECT_FALSE(GstTakesMpeg2Video(QString()));
}

TEST(InputDialog, OpensWithTheWholeValueSelectedAndTypingReplacesIt) {
    CDlgInput dialog;
    dialog.m_caption = QStringLiteral("Rename file");
    dialog.m_prompt = QStringLiteral("New filename");
    dialog.m_value = QStringLiteral("Film");
    OnNextModal([](QWidget* modal) {
        auto* edit = modal->findChild<QLineEdit*>(QStringLiteral("ctl151"));
        EXPECT_EQ(edit->selectedText(), QStringLiteral("Film"));
        EXPECT_EQ(modal->windowTitle(), QStringLiteral("Rename file"));
        QTest::keyClicks(edit, QStringLiteral("Other"));
        QTest::keyClick(edit, Qt::Key_Return);
    });
    ASSERT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.m_value, QStringLiteral("Other"));
}

TEST(QtPrompts, MessageBoxCarriesCaptionTextAndAnswers) {
    CQtPrompts prompts;
    QString caption, text;
    OnNextModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        text = box->text();
        box->button(QMessageBox::Yes)->click();
    });
    EXPECT_EQ(prompts.Ask("ATTENTION!", "Overwrite?\r\nReally", PromptButtons::YesNo,
                          PromptIcon::Question),
              PromptAnswer::Yes);
    EXPECT_EQ(caption, QStringLiteral("ATTENTION!"));
    EXPECT_EQ(text, QStringLiteral("Overwrite?\nReally"));
    OnNextModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    EXPECT_EQ(prompts.Ask("ATTENTION!", "Go on?", PromptButtons::YesNo, PromptIcon::Question),
              PromptAnswer::No);
}

TEST(QtPrompts, RenameDialogReturnsTheNewNameOrNothing) {
    CQtPrompts prompts;
    OnNextModal([](QWidget* modal) {
        auto* edit = modal->findChild<QLineEdit*>(QStringLiteral("ctl151"));
        QTest::keyClicks(edit, QStringLiteral("Film_2"));
        QTest::keyClick(edit, Qt::Key_Return);
    });
    EXPECT_EQ(prompts.InputText("Rename file", "New filename", "Film"),
              std::optional<std::string>("Film_2"));
    OnNextModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    EXPECT_EQ(prompts.InputText("Rename file", "New filename", "Film"), std::nullopt);
}

TEST(QtPrompts, EnterAnswersNoToAWarningAndYesToAQuestion) {
    // A warning stands before what cannot be taken back ("Remove cuts in
    // recording"): a hurried Enter must not shorten the recording.
    CQtPrompts prompts;
    OnNextModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Return); });
    EXPECT_EQ(prompts.Ask("ATTENTION!", "Irreversible. Go on?", PromptButtons::YesNo,
                          PromptIcon::Warning),
              PromptAnswer::No);
    OnNextModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Return); });
    EXPECT_EQ(prompts.Ask("ATTENTION!", "Create a new mark instead?", PromptButtons::YesNo,
                          PromptIcon::Question),
              PromptAnswer::Yes);
}
