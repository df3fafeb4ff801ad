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
#include <QVBoxLayout>
#include <QWheelEvent>

#include "app/qt/info_text.h"
#include "app/qt/ravelo_doc.h"
#include "app/qt/seek_button.h"
#include "controls/range_slider.h"
#include "controls/sx_frame.h"
#include "controls/xinfo_tip.h"
#include "engine/function_mng.h"
#include "res/strings.h"
#include "shell/preferences.h"
#include "shell/prompts.h"
#include "shell/text.h"

namespace {
QString ResText(int id) {
    return QString::fromStdString(LoadResString(id));
}

CSeekButton* MakeSeekButton(const QString& text, int id, QWidget* parent) {
    // repeat count 0, reserved 0, increment 1, bounds -10,000 and 10,000
    auto* button = new CSeekButton(text, id, 0, 0, 1, -10000, 10000, parent);
    button->setMinimumWidth(50);
    return button;
}
}  // namespace

CRaveloView::CRaveloView(CRaveloDoc& doc, ISnapshotSource& source, QWidget* parent)
    : QWidget(parent), m_doc(doc), m_source(&source) {
    setObjectName(QStringLiteral("raveloView"));
    BuildForm();
    EnableControls(false, false);
    m_split->setEnabled(false);  // no handler serves it
    m_endCut->setEnabled(false);
    qApp->installEventFilter(this);
}

CRaveloView::~CRaveloView() {
    qApp->removeEventFilter(this);
}

void CRaveloView::BuildForm() {
    // Information.
    m_infoFrame = new CSxFrame(QStringLiteral("Information"), kInfoFrame, this);
    m_infoBox = new QPlainTextEdit(m_infoFrame);
    m_infoBox->setObjectName(QStringLiteral("ctl%1").arg(kInfoBox));
    m_infoBox->setReadOnly(true);
    m_infoBox->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Tab stops at 45 and 60 dialog units: one stop wide enough for the labels.
    m_infoBox->setTabStopDistance(QFontMetricsF(m_infoBox->font()).horizontalAdvance('x') * 14);
    auto* infoLayout = new QVBoxLayout(m_infoFrame);
    infoLayout->addWidget(m_infoBox);

    // Edit cut-areas.
    m_cutFrame = new CSxFrame(QStringLiteral("Edit cut-areas"), kCutFrame, this);
    m_cutList = new QListWidget(m_cutFrame);
    m_cutList->setObjectName(QStringLiteral("ctl%1").arg(kCutList));
    m_newArea = new CSXButton(QStringLiteral("&New cut-area"), kNewArea, m_cutFrame);
    m_deleteArea = new CSXButton(QStringLiteral("&Delete cut-area"), kDeleteArea, m_cutFrame);
    auto* cutButtons = new QVBoxLayout;
    cutButtons->addWidget(m_newArea);
    cutButtons->addWidget(m_deleteArea);
    cutButtons->addStretch(1);
    m_cutList->setMinimumHeight(56);
    auto* cutLayout = new QHBoxLayout(m_cutFrame);
    cutLayout->addWidget(m_cutList, 1);
    cutLayout->addLayout(cutButtons);

    // Preview and navigation.
    m_previewFrame = new CSxFrame(QStringLiteral("Preview and navigation"), kPreviewFrame, this);
    m_picture = new QLabel(m_previewFrame);
    m_picture->setObjectName(QStringLiteral("ctl%1").arg(kPicture));
    m_picture->setFixedSize(512, 288);
    m_picture->setAlignment(Qt::AlignCenter);
    m_picture->setStyleSheet(QStringLiteral("QLabel { background: #20242b; }"));
    m_slider = new CRangeSlider(m_previewFrame);
    m_slider->setObjectName(QStringLiteral("ctl%1").arg(kSlider));
    m_slider->setTickPosition(QSlider::TicksBelow);
    m_slider->setTracking(false);
    m_largeBack = MakeSeekButton(QStringLiteral("<<"), kLargeBack, m_previewFrame);
    m_smallBack = MakeSeekButton(QStringLiteral("<"), kSmallBack, m_previewFrame);
    m_smallForward = MakeSeekButton(QStringLiteral(">"), kSmallForward, m_previewFrame);
    m_largeForward = MakeSeekButton(QStringLiteral(">>"), kLargeForward, m_previewFrame);
    m_startCut = new CSXButton(QStringLiteral("&Start Cut"), kStartCut, m_previewFrame);
    m_timeLabel = new QLabel(m_previewFrame);
    m_timeLabel->setObjectName(QStringLiteral("ctl%1").arg(kTimeLabel));
    m_timeLabel->setAlignment(Qt::AlignCenter);
    m_timeLabel->setMinimumWidth(80);
    QFont timeFont = m_timeLabel->font();
    timeFont.setBold(true);
    m_timeLabel->setFont(timeFont);
    m_endCut = new CSXButton(QStringLiteral("&End Cut"), kEndCut, m_previewFrame);
    m_savePicture = new CSXButton(QString(), kSavePicture, m_previewFrame);
    m_savePicture->setFixedWidth(34);
    m_startCut->setMinimumWidth(96);
    m_endCut->setMinimumWidth(96);
    auto* navRow = new QHBoxLayout;
    navRow->addWidget(m_largeBack);
    navRow->addWidget(m_smallBack);
    navRow->addStretch(1);
    navRow->addWidget(m_startCut);
    navRow->addWidget(m_timeLabel);
    navRow->addWidget(m_endCut);
    navRow->addStretch(1);
    navRow->addWidget(m_smallForward);
    navRow->addWidget(m_largeForward);
    navRow->addSpacing(8);
    navRow->addWidget(m_savePicture);
    auto* previewLayout = new QVBoxLayout(m_previewFrame);
    previewLayout->addWidget(m_picture, 0, Qt::AlignHCenter);
    previewLayout->addWidget(m_slider);
    previewLayout->addLayout(navRow);

    // Editing functions.
    m_functionsFrame = new CSxFrame(QStringLiteral("Editing functions"), kFunctionsFrame, this);
    m_removeCuts =
        new CSXButton(QStringLiteral("Remove cuts in recording"), kRemoveCuts, m_functionsFrame);
    m_copy = new CSXButton(QStringLiteral("Copy edited recording"), kCopy, m_functionsFrame);
    m_split = new CSXButton(QStringLiteral("Split recording"), kSplit, m_functionsFrame);
    m_demux = new CSXButton(QStringLiteral("Demux to MPEG"), kDemux, m_functionsFrame);
    m_createMpeg = new CSXButton(QStringLiteral("Create MPEG File"), kCreateMpeg, m_functionsFrame);
    m_audioCombo = new QComboBox(m_functionsFrame);
    m_audioCombo->setObjectName(QStringLiteral("ctl%1").arg(kAudioCombo));
    m_createVob = new CSXButton(QStringLiteral("Create VOB File"), kCreateVob, m_functionsFrame);
    for (CSXButton* button : {m_removeCuts, m_copy, m_split, m_demux, m_createMpeg, m_createVob})
        button->setStyleSheet(button->styleSheet() +
                              QStringLiteral("CSXButton { text-align: left; }"));
    auto* functionsLayout = new QGridLayout(m_functionsFrame);
    functionsLayout->addWidget(m_removeCuts, 0, 0);
    functionsLayout->addWidget(m_copy, 0, 1);
    functionsLayout->addWidget(m_split, 1, 0);
    functionsLayout->addWidget(m_demux, 1, 1);
    functionsLayout->addWidget(m_createMpeg, 2, 0);
    functionsLayout->addWidget(m_audioCombo, 2, 1);
    functionsLayout->addWidget(m_createVob, 3, 0);

    // Left: the picture with its navigation and, below it, the cut areas it
    // marks; right: what the recording holds and what can be made of it.
    auto* left = new QVBoxLayout;
    left->addWidget(m_previewFrame, 0);
    left->addWidget(m_cutFrame, 1);
    auto* right = new QVBoxLayout;
    right->addWidget(m_infoFrame, 1);
    right->addWidget(m_functionsFrame, 0);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 4, 8, 4);
    layout->addLayout(left, 0);
    layout->addLayout(right, 1);

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

    for (CSeekButton* b : {m_largeBack, m_smallBack, m_smallForward, m_largeForward})
        connect(b, &CSeekButton::SeekRequest, this, &CRaveloView::OnSeek);
    connect(m_slider, &QSlider::sliderReleased, this, [this] {
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

void CRaveloView::EnableControls(bool open, bool readOnly) {
    for (QWidget* w : std::initializer_list<QWidget*>{
             m_slider, m_savePicture, m_createMpeg, m_copy, m_demux, m_largeBack, m_smallBack,
             m_smallForward, m_largeForward, m_deleteArea, m_endCut, m_newArea, m_startCut,
             m_audioCombo, m_createVob})
        w->setEnabled(open);
    m_removeCuts->setEnabled(open && !readOnly);
}

void CRaveloView::OnInitialUpdate() {
    const bool open = m_doc.IsOpen();
    const bool readOnly = m_doc.IsReadOnly();
    if (open && readOnly)
        Prompts().Ask(LoadResString(ids::kAttention), LoadResString(ids::kReadOnly),
                      PromptButtons::Ok, PromptIcon::Warning);
    EnableControls(open, readOnly);
    m_position = 0;
    m_stamp = 0;
    m_header = {};
    if (!open) {
        m_total = 0;
        m_slider->setRange(0, 0);
        m_infoBox->clear();
        m_timeLabel->clear();
        m_picture->clear();
        m_audioCombo->clear();
        m_cutList->clear();
        return;
    }
    CRecordingModel& model = m_doc.Model();
    ResetSlider();
    ApplyDirectHelp(CPreferences::GetShowDirectHelp());
    FillCutListBox();
    if (m_cutList->count() > 0) m_cutList->setCurrentRow(0);
    m_position = 0;
    model.m_firstPTS = 0;
    ShowSnapshot(false);
    model.m_firstPTS = m_stamp;
    OnSelectArea();
    if (m_audioCombo->count() > 0) m_audioCombo->setCurrentIndex(0);
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
    // Keys and the wheel are taken before the controls see them.
    if (event->type() == QEvent::KeyPress && IsInsideView(watched) && isEnabled() &&
        !QApplication::activeModalWidget()) {
        if (HandleKey(static_cast<QKeyEvent*>(event)->key())) return true;
    } else if (event->type() == QEvent::Wheel && IsInsideView(watched) && isEnabled() &&
               !QApplication::activeModalWidget()) {
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
