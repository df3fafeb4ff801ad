// The cut editor: start-up of the form, enabling, the initial update after
// each open, the information box and time label, the keys and the wheel.
#include "app/qt/ravelo_view.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QUndoStack>
#include <QWheelEvent>

#include "app/qt/info_text.h"
#include "app/qt/ravelo_doc.h"
#include "app/qt/seek_button.h"
#include "app/qt/time_text.h"
#include "app/snapshot_capture.h"
#include "controls/picture_view.h"
#include "controls/range_slider.h"
#include "controls/xinfo_tip.h"
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
    m_split->setEnabled(false);  // no handler serves it
    m_endCut->setEnabled(false);
    qApp->installEventFilter(this);
}

CRaveloView::~CRaveloView() {
    qApp->removeEventFilter(this);
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
             m_audioCombo, m_createVob})
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
