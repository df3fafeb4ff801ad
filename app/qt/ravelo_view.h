#pragma once
// The cut editor: a still picture of the recording at the current position,
// a slider in sectors, seek buttons, keys and wheel to move, the cut-area
// list with its marks, the information box and the five job buttons.

#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>

#include "app/qt/snapshot_source.h"
#include "demux/cut_area.h"

class CPictureView;
class CRaveloDoc;
enum class JobResult;
class CSXButton;
class CSeekButton;
class CSxFrame;
class CXInfoTip;
class QComboBox;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QUndoStack;
class CRangeSlider;

class CRaveloView : public QWidget {
    Q_OBJECT
  public:
    // Control ids of the form; the buttons carry them as object names "ctl<id>".
    enum ControlId {
        kInfoFrame = 1051,
        kInfoBox = 3003,
        kCutFrame = 3000,
        kCutList = 1029,
        kNewArea = 1032,
        kDeleteArea = 1033,
        kPreviewFrame = 3002,
        kPicture = 1022,
        kSlider = 1021,
        kLargeBack = 1028,
        kSmallBack = 1027,
        kSmallForward = 1025,
        kLargeForward = 1026,
        kStartCut = 1030,
        kTimeLabel = 1034,
        kEndCut = 1031,
        kSavePicture = 1060,
        kFunctionsFrame = 3001,
        kRemoveCuts = 1035,
        kCopy = 1036,
        kSplit = 1053,
        kDemux = 1050,
        kCreateMpeg = 3006,
        kAudioCombo = 3008,
        kCreateVob = 3005,
    };

    CRaveloView(CRaveloDoc& doc, ISnapshotSource& source, QWidget* parent = nullptr);
    ~CRaveloView() override;

    void OnInitialUpdate();
    void ApplyDirectHelp(bool show);
    // Shows the picture at the current position; false when there is no new
    // picture here (no recording, or the picture already shown).
    bool ShowSnapshot(bool save);

    // The seek buttons' requests, the keys and the wheel.
    void OnSeek(int controlId, int repeatCount);
    void SmallStepBackward(std::int64_t n);
    void SmallStepForward(std::int64_t n);
    void LargeStepBackward(std::int64_t n);
    void LargeStepForward(std::int64_t n);
    void WheelStep(int delta);

    // Cut areas.
    void OnStartCut();
    void OnEndCut();
    void OnNewArea();
    void OnDeleteArea();
    void OnSelectArea();
    void FillCutListBox();

    // Jobs.
    void OnDemux();
    void OnCreateMpeg();
    void OnCreateVob();
    void OnCopy();
    void OnRemoveCuts();
    bool IsJobRunning() const { return m_jobRunning; }

    // Cut-area edits since the recording was opened (Edit menu).
    QUndoStack* UndoStack() const { return m_undo; }
    // Puts back a cut list with the given row selected (undo and redo).
    void RestoreCutList(const CCutList& list, int row);

    // The splice the selected area makes, shown in the splice pane
    // (computed a moment after the selection settles).
    void UpdateSplicePreview();
    CPictureView* SpliceBefore() const { return m_spliceBefore; }
    CPictureView* SpliceAfter() const { return m_spliceAfter; }

    std::uint64_t CurrentPosition() const { return m_position; }
    void SetCurrentPosition(std::uint64_t position);
    std::int64_t CurrentStamp() const { return m_stamp; }
    std::uint64_t TotalSectors() const { return m_total; }
    static std::uint32_t LastSmallStep();
    static void SetLastSmallStep(std::uint32_t step);

    // The picture search and decoder (tests install a scripted one).
    void SetSnapshotSource(ISnapshotSource* source) { m_source = source; }
    CXInfoTip* InfoTip() const { return m_tip.get(); }

  signals:
    void JobFinished();
    // Where a job wrote its output, for the status bar.
    void StatusMessage(const QString& text);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    class CutEdit;
    void BuildForm();
    QWidget* BuildPreviewFrame();
    QWidget* BuildCutFrame();
    QWidget* BuildFunctionsFrame();
    void SetIcons();
    void ConnectControls();
    void EnableControls(bool open, bool readOnly);
    void ClearForm();
    void ShowNotARecording();
    void OnSliderMoved(int value);
    void ShowDragPosition();
    void FindRecordingLength();
    void UpdateTimeLabel();
    void RecordEdit(const QString& text, const CCutList& before, int rowBefore);
    void RefreshRow(int row);
    void ShowSplice();
    void UpdateInfoText();
    void ShowSelectionRange(int row);
    void MoveSlider();
    void ResetSlider();
    void ShowPicture(bool found);
    template <typename Job>
    JobResult RunJob(Job job);
    // The status bar says where a demultiplexing job wrote.
    void ReportOutputFolder(JobResult result);
    bool HandleKey(int key);
    bool IsInsideView(QObject* object) const;

    CRaveloDoc& m_doc;
    ISnapshotSource* m_source;
    std::unique_ptr<CXInfoTip> m_tip;
    std::uint64_t m_position = 0;
    std::int64_t m_stamp = 0;
    // The stamp of the picture on screen; kNoPicture while a placeholder is.
    static constexpr std::int64_t kNoPicture = INT64_MIN;
    std::int64_t m_shownStamp = kNoPicture;
    // The last picture's stamp (wrap-aware), for the length shown.
    std::int64_t m_lastStamp = 0;
    bool m_haveLength = false;
    // The file holds transport-stream packets (else nothing can be done with it).
    bool m_holdsPackets = false;
    std::array<std::uint8_t, 12> m_header{};
    std::uint64_t m_total = 0;
    bool m_jobRunning = false;
    int m_rowBeforePress = -1;
    bool m_pressedOnCurrent = false;
    QUndoStack* m_undo;
    int m_editDepth = 0;
    // While the slider is dragged the picture follows at most every
    // kDragIntervalMs; the last position is always shown.
    QTimer m_dragTimer;
    int m_dragPending = -1;
    QTimer m_spliceTimer;

    CSxFrame* m_infoFrame;
    QPlainTextEdit* m_infoBox;
    CSxFrame* m_cutFrame;
    QListWidget* m_cutList;
    CSXButton* m_newArea;
    CSXButton* m_deleteArea;
    CSxFrame* m_previewFrame;
    CPictureView* m_picture;
    CRangeSlider* m_slider;
    CSeekButton* m_largeBack;
    CSeekButton* m_smallBack;
    CSeekButton* m_smallForward;
    CSeekButton* m_largeForward;
    CSXButton* m_startCut;
    QLabel* m_timeLabel;
    CSXButton* m_endCut;
    CSXButton* m_savePicture;
    CSxFrame* m_functionsFrame;
    CSXButton* m_removeCuts;
    CSXButton* m_copy;
    CSXButton* m_split;
    CSXButton* m_demux;
    CSXButton* m_createMpeg;
    QComboBox* m_audioCombo;
    CSXButton* m_createVob;
    CSxFrame* m_spliceFrame;
    CPictureView* m_spliceBefore;
    CPictureView* m_spliceAfter;
    QLabel* m_spliceBeforeText;
    QLabel* m_spliceAfterText;
};
