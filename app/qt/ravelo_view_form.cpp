// The cut editor's form: its frames and controls, laid out so that any font
// fits and the picture takes the room there is, and their connections.
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QVBoxLayout>

#include "app/qt/ravelo_view.h"
#include "app/qt/seek_button.h"
#include "controls/picture_view.h"
#include "controls/range_slider.h"
#include "controls/sx_frame.h"

namespace {
CSeekButton* MakeSeekButton(const QString& text, int id, QWidget* parent) {
    // repeat count 0, reserved 0, increment 1, bounds -10,000 and 10,000
    return new CSeekButton(text, id, 0, 0, 1, -10000, 10000, parent);
}

// The cut-area list asks for the width of a row with its times (where the
// window has the room), the same whatever rows it holds, so that the picture
// beside it does not change size with each edit.
class CutListBox : public QListWidget {
  public:
    using QListWidget::QListWidget;
    QSize sizeHint() const override {
        const int row = fontMetrics().horizontalAdvance(
            QStringLiteral("Cut-area 99   0:00:00.000 - 0:00:00.000  (0:00:00.000)"));
        return {row + verticalScrollBar()->sizeHint().width() + 2 * frameWidth() + 8,
                QListWidget::sizeHint().height()};
    }
};

// A caption under a small picture of the splice pane.
QLabel* SpliceCaption(QWidget* parent, const QString& name) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    return label;
}
}  // namespace

void CRaveloView::BuildForm() {
    m_infoFrame = new CSxFrame(QStringLiteral("Information"), kInfoFrame, this);
    m_infoBox = new QPlainTextEdit(m_infoFrame);
    m_infoBox->setObjectName(QStringLiteral("ctl%1").arg(kInfoBox));
    m_infoBox->setReadOnly(true);
    m_infoBox->setLineWrapMode(QPlainTextEdit::NoWrap);
    const QFontMetrics metrics(m_infoBox->font());
    // Tab stops at 45 and 60 dialog units: one stop wide enough for the labels.
    m_infoBox->setTabStopDistance(metrics.horizontalAdvance('x') * 14);
    m_infoBox->setMinimumSize(metrics.averageCharWidth() * 16, metrics.lineSpacing() * 3);
    auto* infoLayout = new QVBoxLayout(m_infoFrame);
    infoLayout->addWidget(m_infoBox);

    QWidget* preview = BuildPreviewFrame();
    QWidget* cuts = BuildCutFrame();
    QWidget* functions = BuildFunctionsFrame();

    // Left the picture, which takes what room there is, and below it what
    // can be made of the recording; right what the recording holds, its cut
    // areas and, below them, the splice the selected area makes.
    auto* right = new QVBoxLayout;
    right->addWidget(m_infoFrame, 1);
    right->addWidget(cuts, 1);
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(8, 4, 8, 4);
    layout->addWidget(preview, 0, 0);
    layout->addLayout(right, 0, 1);
    layout->addWidget(functions, 1, 0);
    layout->addWidget(m_spliceFrame, 1, 1);
    // The right column keeps the width its texts ask for; the picture takes
    // the rest.
    layout->setColumnStretch(0, 1);
    layout->setColumnStretch(1, 0);
    layout->setRowStretch(0, 1);

    SetIcons();
    ConnectControls();
}

QWidget* CRaveloView::BuildPreviewFrame() {
    m_previewFrame = new CSxFrame(QStringLiteral("Preview and navigation"), kPreviewFrame, this);
    m_picture = new CPictureView(m_previewFrame);
    m_picture->setObjectName(QStringLiteral("ctl%1").arg(kPicture));
    m_slider = new CRangeSlider(m_previewFrame);
    m_slider->setObjectName(QStringLiteral("ctl%1").arg(kSlider));
    m_slider->setTickPosition(QSlider::TicksBelow);
    m_slider->setTracking(false);
    m_savePicture = new CSXButton(QString(), kSavePicture, m_previewFrame);
    m_largeBack = MakeSeekButton(QStringLiteral("<<"), kLargeBack, m_previewFrame);
    m_smallBack = MakeSeekButton(QStringLiteral("<"), kSmallBack, m_previewFrame);
    m_smallForward = MakeSeekButton(QStringLiteral(">"), kSmallForward, m_previewFrame);
    m_largeForward = MakeSeekButton(QStringLiteral(">>"), kLargeForward, m_previewFrame);
    m_startCut = new CSXButton(QStringLiteral("&Start Cut"), kStartCut, m_previewFrame);
    m_endCut = new CSXButton(QStringLiteral("&End Cut"), kEndCut, m_previewFrame);
    m_timeLabel = new QLabel(m_previewFrame);
    m_timeLabel->setObjectName(QStringLiteral("ctl%1").arg(kTimeLabel));
    m_timeLabel->setAlignment(Qt::AlignCenter);
    QFont timeFont = m_timeLabel->font();
    timeFont.setBold(true);
    m_timeLabel->setFont(timeFont);
    // Room for the times of a long recording, so that the slider does not
    // shift while they change.
    m_timeLabel->setMinimumWidth(
        QFontMetrics(timeFont).horizontalAdvance(QStringLiteral("0:00:00.000 / 0:00:00.000")) + 8);

    auto* sliderRow = new QHBoxLayout;
    sliderRow->addWidget(m_timeLabel);
    sliderRow->addWidget(m_slider, 1);
    sliderRow->addWidget(m_savePicture);
    auto* navRow = new QHBoxLayout;
    navRow->addWidget(m_largeBack);
    navRow->addWidget(m_smallBack);
    navRow->addStretch(1);
    navRow->addWidget(m_startCut);
    navRow->addWidget(m_endCut);
    navRow->addStretch(1);
    navRow->addWidget(m_smallForward);
    navRow->addWidget(m_largeForward);
    auto* previewLayout = new QVBoxLayout(m_previewFrame);
    previewLayout->addWidget(m_picture, 1);
    previewLayout->addLayout(sliderRow);
    previewLayout->addLayout(navRow);
    return m_previewFrame;
}

QWidget* CRaveloView::BuildCutFrame() {
    m_cutFrame = new CSxFrame(QStringLiteral("Edit cut-areas"), kCutFrame, this);
    m_cutList = new CutListBox(m_cutFrame);
    m_cutList->setObjectName(QStringLiteral("ctl%1").arg(kCutList));
    const QFontMetrics metrics(m_cutList->font());
    m_cutList->setMinimumSize(metrics.averageCharWidth() * 16, metrics.lineSpacing() * 3);
    m_newArea = new CSXButton(QStringLiteral("&New cut-area"), kNewArea, m_cutFrame);
    m_deleteArea = new CSXButton(QStringLiteral("&Delete cut-area"), kDeleteArea, m_cutFrame);
    auto* cutLayout = new QVBoxLayout(m_cutFrame);
    cutLayout->addWidget(m_cutList, 1);
    cutLayout->addWidget(m_newArea);
    cutLayout->addWidget(m_deleteArea);

    // The pictures the copy joins at the selected area.
    m_spliceFrame = new CSxFrame(QStringLiteral("Splice preview"), 0, this);
    m_spliceFrame->setObjectName(QStringLiteral("splicePreview"));
    m_spliceBefore = new CPictureView(m_spliceFrame);
    m_spliceBefore->setObjectName(QStringLiteral("spliceBefore"));
    m_spliceAfter = new CPictureView(m_spliceFrame);
    m_spliceAfter->setObjectName(QStringLiteral("spliceAfter"));
    for (CPictureView* picture : {m_spliceBefore, m_spliceAfter}) {
        picture->SetSizes(QSize(128, 72), QSize(80, 45));
        picture->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }
    m_spliceBeforeText = SpliceCaption(m_spliceFrame, QStringLiteral("spliceBeforeText"));
    m_spliceAfterText = SpliceCaption(m_spliceFrame, QStringLiteral("spliceAfterText"));
    auto* spliceLayout = new QGridLayout(m_spliceFrame);
    spliceLayout->addWidget(m_spliceBefore, 0, 0);
    spliceLayout->addWidget(m_spliceAfter, 0, 1);
    spliceLayout->addWidget(m_spliceBeforeText, 1, 0);
    spliceLayout->addWidget(m_spliceAfterText, 1, 1);
    return m_cutFrame;
}

QWidget* CRaveloView::BuildFunctionsFrame() {
    m_functionsFrame = new CSxFrame(QStringLiteral("Editing functions"), kFunctionsFrame, this);
    m_removeCuts =
        new CSXButton(QStringLiteral("Remove cuts in recording"), kRemoveCuts, m_functionsFrame);
    m_copy = new CSXButton(QStringLiteral("Copy edited recording"), kCopy, m_functionsFrame);
    m_split = new CSXButton(QStringLiteral("Split recording"), kSplit, m_functionsFrame);
    m_demux = new CSXButton(QStringLiteral("Demux to MPEG"), kDemux, m_functionsFrame);
    m_createMpeg = new CSXButton(QStringLiteral("Create MPEG File"), kCreateMpeg, m_functionsFrame);
    m_audioCombo = new QComboBox(m_functionsFrame);
    m_audioCombo->setObjectName(QStringLiteral("ctl%1").arg(kAudioCombo));
    m_audioCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_audioCombo->setMinimumContentsLength(12);
    m_createVob = new CSXButton(QStringLiteral("Create VOB File"), kCreateVob, m_functionsFrame);
    for (CSXButton* button : {m_removeCuts, m_copy, m_split, m_demux, m_createMpeg, m_createVob})
        button->setStyleSheet(button->styleSheet() +
                              QStringLiteral("CSXButton { text-align: left; }"));
    auto* layout = new QGridLayout(m_functionsFrame);
    layout->addWidget(m_removeCuts, 0, 0);
    layout->addWidget(m_copy, 0, 1);
    layout->addWidget(m_split, 1, 0);
    layout->addWidget(m_demux, 1, 1);
    layout->addWidget(m_createMpeg, 2, 0);
    layout->addWidget(m_audioCombo, 2, 1);
    layout->addWidget(m_createVob, 3, 0);
    for (int column = 0; column < 2; ++column)
        layout->setColumnStretch(column, 1);
    return m_functionsFrame;
}

void CRaveloView::SetIcons() {
    // The icons (16 x 16) by resource id.
    m_savePicture->SetIconResource(130);
    for (CSXButton* b : {m_demux, m_createMpeg, m_createVob})
        b->SetIconResource(133);
    m_newArea->SetIconResource(135);
    m_deleteArea->SetIconResource(134);
    for (CSXButton* b : {m_removeCuts, m_copy, m_split})
        b->SetIconResource(132);
    m_smallBack->SetIconResource(159);
    m_smallForward->SetIconResource(160);
    m_largeBack->SetIconResource(161);
    m_largeForward->SetIconResource(162);
    m_startCut->SetIconResource(163);
    m_endCut->SetIconResource(164);
}

void CRaveloView::ConnectControls() {
    for (CSeekButton* b : {m_largeBack, m_smallBack, m_smallForward, m_largeForward})
        connect(b, &CSeekButton::SeekRequest, this, &CRaveloView::OnSeek);
    connect(m_slider, &QSlider::sliderMoved, this, &CRaveloView::OnSliderMoved);
    connect(m_slider, &QSlider::sliderReleased, this, [this] {
        m_dragTimer.stop();
        m_dragPending = -1;
        m_position = static_cast<std::uint64_t>(m_slider->sliderPosition());
        ShowSnapshot(false);
    });
    connect(m_slider, &QSlider::actionTriggered, this, [this](int action) {
        // Clicks on the groove and the slider's own keys end a scroll too.
        if (action == QAbstractSlider::SliderMove) return;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_position = static_cast<std::uint64_t>(m_slider->value());
                ShowSnapshot(false);
            },
            Qt::QueuedConnection);
    });
    connect(m_startCut, &QPushButton::clicked, this, &CRaveloView::OnStartCut);
    connect(m_endCut, &QPushButton::clicked, this, &CRaveloView::OnEndCut);
    connect(m_newArea, &QPushButton::clicked, this, &CRaveloView::OnNewArea);
    connect(m_deleteArea, &QPushButton::clicked, this, &CRaveloView::OnDeleteArea);
    // A new row selected by mouse or keyboard selects its area; clicking the
    // row that is selected already selects it again (jumping between its marks).
    connect(m_cutList, &QListWidget::currentRowChanged, this, [this] { OnSelectArea(); });
    connect(m_cutList, &QListWidget::itemPressed, this, [this](QListWidgetItem* item) {
        m_pressedOnCurrent = m_cutList->row(item) == m_rowBeforePress;
    });
    connect(m_cutList, &QListWidget::itemClicked, this, [this] {
        if (m_pressedOnCurrent) OnSelectArea();
        m_pressedOnCurrent = false;
    });
    connect(m_demux, &QPushButton::clicked, this, &CRaveloView::OnDemux);
    connect(m_createMpeg, &QPushButton::clicked, this, &CRaveloView::OnCreateMpeg);
    connect(m_createVob, &QPushButton::clicked, this, &CRaveloView::OnCreateVob);
    connect(m_copy, &QPushButton::clicked, this, &CRaveloView::OnCopy);
    connect(m_removeCuts, &QPushButton::clicked, this, &CRaveloView::OnRemoveCuts);
    connect(m_savePicture, &QPushButton::clicked, this, [this] { ShowSnapshot(true); });
}
