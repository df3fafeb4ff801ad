#include "app/qt/ravelo_view.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QUndoStack>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "app/qt/info_text.h"
#include "app/qt/ravelo_doc.h"
#include "app/qt/seek_button.h"
#include "app/qt/time_text.h"
#include "app/snapshot_capture.h"
#include "controls/picture_view.h"
#include "controls/range_slider.h"
#include "controls/sx_frame.h"
#include "controls/xinfo_tip.h"
#include "engine/function_mng.h"
#include "res/strings.h"
#include "shell/preferences.h"
#include "shell/prompts.h"
#include "shell/text.h"

namespace {
// The picture follows a dragged slider at most this often.
constexpr int kDragIntervalMs = 120;

QString ResText(int id) {
    return QString::fromStdString(LoadResString(id));
}

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

CRaveloView::CRaveloView(CRaveloDoc& doc, ISnapshotSource& source, QWidget* parent)
    : QWidget(parent), m_doc(doc), m_source(&source), m_undo(new QUndoStack(this)) {
    setObjectName(QStringLiteral("raveloView"));
    // The view takes the keyboard when nothing in it has: its keys move
    // through the recording.
    setFocusPolicy(Qt::StrongFocus);
    BuildForm();
    m_dragTimer.setSingleShot(true);
    connect(&m_dragTimer, &QTimer::timeout, this, &CRaveloView::ShowDragPosition);
    m_spliceTimer.setSingleShot(true);
    connect(&m_spliceTimer, &QTimer::timeout, this, &CRaveloView::ShowSplice);
    EnableControls(false, false);
    m_createVob->setVisible(false);
    m_createVob->setEnabled(false);
    m_split->setEnabled(false);  // no handler serves it
    m_endCut->setEnabled(false);
    qApp->installEventFilter(this);
}

CRaveloView::~CRaveloView() {
    qApp->removeEventFilter(this);
}

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
    m_timeLabel->setMinimumWidth(QFontMetrics(timeFont).horizontalAdvance(
                                     QStringLiteral("0:00:00.000 / 0:00:00.000")) +
                                 8);

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

void CRaveloView::OnSliderMoved(int value) {
    // The first move is shown at once, later ones at most every interval.
    m_dragPending = value;
    if (!m_dragTimer.isActive()) ShowDragPosition();
}

void CRaveloView::ShowDragPosition() {
    if (m_dragPending < 0) return;
    m_position = static_cast<std::uint64_t>(m_dragPending);
    m_dragPending = -1;
    ShowSnapshot(false);
    m_dragTimer.start(kDragIntervalMs);
}

void CRaveloView::EnableControls(bool open, bool readOnly) {
    // A file without transport-stream packets is open, but nothing can be
    // shown, marked or made of it.
    const bool usable = open && m_holdsPackets;
    for (QWidget* w : std::initializer_list<QWidget*>{
             m_slider, m_savePicture, m_createMpeg, m_copy, m_demux, m_largeBack, m_smallBack,
             m_smallForward, m_largeForward, m_deleteArea, m_endCut, m_newArea, m_startCut,
             m_audioCombo})
        w->setEnabled(usable);
    m_removeCuts->setEnabled(usable && !readOnly);
}

void CRaveloView::ClearForm() {
    m_total = 0;
    m_slider->setRange(0, 0);
    m_slider->ClearSelection();
    m_infoBox->clear();
    m_timeLabel->clear();
    m_picture->Clear();
    m_audioCombo->clear();
    m_cutList->clear();
}

void CRaveloView::OnInitialUpdate() {
    m_undo->clear();  // edits are undone only within one opening
    m_spliceTimer.stop();
    ShowSplice();
    m_createVob->setEnabled(false);
    const bool open = m_doc.IsOpen();
    const bool readOnly = m_doc.IsReadOnly();
    m_holdsPackets = open && m_doc.Model().HoldsTransportPackets();
    if (open && readOnly && m_holdsPackets)
        Prompts().Ask(LoadResString(ids::kAttention), LoadResString(ids::kReadOnly),
                      PromptButtons::Ok, PromptIcon::Warning);
    EnableControls(open, readOnly);
    m_position = 0;
    m_stamp = 0;
    m_shownStamp = kNoPicture;
    m_header = {};
    m_haveLength = false;
    ClearForm();
    if (!open) return;
    if (!m_holdsPackets) {
        ShowNotARecording();
        return;
    }
    CRecordingModel& model = m_doc.Model();
    ResetSlider();
    ApplyDirectHelp(CPreferences::GetShowDirectHelp());
    m_position = 0;
    model.m_firstPTS = 0;
    ShowSnapshot(false);
    model.m_firstPTS = m_stamp;
    FindRecordingLength();
    UpdateTimeLabel();
    FillCutListBox();  // its rows' times count from the first picture
    if (m_cutList->count() > 0) {
        const QSignalBlocker blocker(m_cutList);
        m_cutList->setCurrentRow(0);
    }
    OnSelectArea();
    if (m_audioCombo->count() > 0) m_audioCombo->setCurrentIndex(0);
    // The keys move through the recording: they must reach the view.
    if (QWidget* focus = window()->focusWidget(); !focus || !isAncestorOf(focus)) setFocus();
}

void CRaveloView::ShowNotARecording() {
    const std::string path = m_doc.Model().Recording().GetFilePath();
    const std::string text = "The file\r\n" + path +
                             "\r\nholds no MPEG transport-stream packets: it cannot be shown, "
                             "cut or converted.";
    m_infoBox->setPlainText(QStringLiteral(
        "This file holds no MPEG transport-stream packets.\nIt is not a recording."));
    m_picture->SetPlaceholder(157, 376.0 / 288.0);
    Prompts().Ask(LoadResString(ids::kAttention), text, PromptButtons::Ok, PromptIcon::Warning);
}

void CRaveloView::FindRecordingLength() {
    std::int64_t last = 0;
    m_haveLength = FindLastPictureStamp(m_doc.Model(), last);
    m_lastStamp = last;
}

void CRaveloView::UpdateTimeLabel() {
    const CRecordingModel& model = m_doc.Model();
    std::string text = StampText(m_stamp, model.m_firstPTS);
    if (m_haveLength) text += " / " + StampText(m_lastStamp, model.m_firstPTS);
    m_timeLabel->setText(QString::fromStdString(text));
}

void CRaveloView::ResetSlider() {
    // The slider counts sectors in a 32-bit int; beyond that (1 TiB) it stops.
    m_total = m_doc.Model().Recording().GetLength() >> 9;
    const int maximum = static_cast<int>(std::min<std::uint64_t>(m_total, INT32_MAX));
    m_slider->blockSignals(true);
    m_slider->setRange(0, maximum);
    m_slider->setPageStep(std::max(1, maximum / 20));
    m_slider->setTickInterval(std::max(1, maximum / 20));
    m_slider->setValue(0);
    m_slider->blockSignals(false);
}

void CRaveloView::MoveSlider() {
    m_slider->blockSignals(true);
    m_slider->setValue(static_cast<int>(std::min<std::uint64_t>(m_position, INT32_MAX)));
    m_slider->blockSignals(false);
}

void CRaveloView::SetCurrentPosition(std::uint64_t position) {
    m_position = position;
    MoveSlider();
}

void CRaveloView::UpdateInfoText() {
    const CRecordingModel& model = m_doc.Model();
    InfoText info =
        BuildInfoText(model.Recording().GetLength(), model.m_bitRate, m_header, model.m_streams);
    m_infoBox->setPlainText(QString::fromStdString(ToWidgetText(info.text)));
    const int selected = m_audioCombo->currentIndex();
    m_audioCombo->clear();
    for (const auto& [text, pid] : info.audioEntries)
        m_audioCombo->addItem(QString::fromStdString(text), pid);
    if (selected >= 0 && selected < m_audioCombo->count())
        m_audioCombo->setCurrentIndex(selected);
    else if (m_audioCombo->count() > 0)
        m_audioCombo->setCurrentIndex(0);
    const bool any = m_audioCombo->count() > 0;
    m_audioCombo->setEnabled(any);
    m_createMpeg->setEnabled(any);
}

void CRaveloView::ApplyDirectHelp(bool show) {
    if (!show) {
        m_tip.reset();
        return;
    }
    if (!m_tip) m_tip = std::make_unique<CXInfoTip>(this);
    const std::pair<QWidget*, int> tips[] = {
        {m_demux, ids::kHelpDemux},           {m_createMpeg, ids::kHelpMpeg},
        {m_removeCuts, ids::kHelpRemoveCuts}, {m_copy, ids::kHelpCopy},
        {m_audioCombo, ids::kHelpAudioCombo}, {m_savePicture, ids::kHelpSavePicture},
        {m_startCut, ids::kHelpStartCut},     {m_endCut, ids::kHelpEndCut},
        {m_deleteArea, ids::kHelpDeleteArea}, {m_newArea, ids::kHelpNewArea},
    };
    for (const auto& [widget, id] : tips)
        m_tip->AddTool(widget, ResText(id));
}

bool CRaveloView::IsInsideView(QObject* object) const {
    auto* widget = qobject_cast<QWidget*>(object);
    return widget && (widget == this || isAncestorOf(widget));
}

bool CRaveloView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress && watched == m_cutList->viewport())
        m_rowBeforePress = m_cutList->currentRow();
    // Keys and the wheel are taken before the controls see them (while
    // there is a recording to move through).
    const bool navigable = m_holdsPackets && isEnabled() && !QApplication::activeModalWidget();
    if (event->type() == QEvent::KeyPress && navigable && IsInsideView(watched)) {
        if (HandleKey(static_cast<QKeyEvent*>(event)->key())) return true;
    } else if (event->type() == QEvent::Wheel && navigable && IsInsideView(watched)) {
        WheelStep(static_cast<QWheelEvent*>(event)->angleDelta().y());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

bool CRaveloView::HandleKey(int key) {
    switch (key) {
        case Qt::Key_Left:
        case Qt::Key_Back:
            SmallStepBackward(1);
            return true;
        case Qt::Key_Right:
        case Qt::Key_Forward:
            SmallStepForward(1);
            return true;
        case Qt::Key_PageUp:
            LargeStepBackward(1);
            return true;
        case Qt::Key_PageDown:
            LargeStepForward(1);
            return true;
        case Qt::Key_Home:
            m_position = 0;
            MoveSlider();
            ShowSnapshot(false);
            return true;
        case Qt::Key_End:
            m_position = static_cast<std::uint64_t>(m_slider->maximum());
            MoveSlider();
            ShowSnapshot(false);
            return true;
        default:
            return false;
    }
}
