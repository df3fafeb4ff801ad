#pragma once
// The cut editor on its own (document and view, no main window) with the real
// picture search and decoder, and helpers that drive and read its controls.

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QTest>

#include "app/qt/engine_snapshot_source.h"
#include "app/qt/ravelo_doc.h"
#include "app/qt/ravelo_view.h"
#include "app/qt/seek_button.h"
#include "controls/picture_view.h"
#include "platform/clock.h"
#include "platform/key_state.h"
#include "window_fixture.h"

class ViewTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        m_doc = std::make_unique<CRaveloDoc>();
        m_view = std::make_unique<CRaveloView>(*m_doc, m_source);
        QObject::connect(m_doc.get(), &CRaveloDoc::DocumentChanged, m_view.get(),
                         &CRaveloView::OnInitialUpdate);
        m_view->resize(1000, 520);
        m_view->show();
        QApplication::setActiveWindow(m_view.get());
    }
    void TearDown() override {
        platform::SetKeyState(nullptr);
        platform::SetClockForTesting({});
        m_view.reset();
        m_doc.reset();
        WindowTest::TearDown();
    }
    void Open(const std::string& path) {
        ASSERT_TRUE(m_doc->OnOpenDocument(QString::fromStdString(path)));
    }
    void Click(int id) { Ctl(m_view.get(), id)->click(); }
    void Seek(int id) {
        auto* button = Ctl<CSeekButton>(m_view.get(), id);
        QTest::mousePress(button, Qt::LeftButton);
        QTest::mouseRelease(button, Qt::LeftButton);
    }
    QString Time() { return Ctl<QLabel>(m_view.get(), CRaveloView::kTimeLabel)->text(); }
    // The position part of the time label ("0:00:03.840" of "0:00:03.840 / 0:09:59.960").
    QString Position() { return Time().section(QStringLiteral(" / "), 0, 0); }
    CPictureView* Picture() { return Ctl<CPictureView>(m_view.get(), CRaveloView::kPicture); }
    // A decoded picture is on screen, not a placeholder.
    bool ShowsPicture() {
        return Picture()->PlaceholderId() == 0 && !Picture()->Picture().isNull();
    }
    // The rows' "Cut-area N" texts, without the times that follow them.
    QStringList Rows() {
        QStringList rows;
        auto* list = Ctl<QListWidget>(m_view.get(), CRaveloView::kCutList);
        for (int i = 0; i < list->count(); ++i)
            rows << list->item(i)->text().section(QStringLiteral("   "), 0, 0);
        return rows;
    }
    QString RowText(int row) {
        return Ctl<QListWidget>(m_view.get(), CRaveloView::kCutList)->item(row)->text();
    }
    void SelectRow(int row) {
        auto* list = Ctl<QListWidget>(m_view.get(), CRaveloView::kCutList);
        const QRect rect = list->visualItemRect(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    }

    CEngineSnapshotSource m_source;
    std::unique_ptr<CRaveloDoc> m_doc;
    std::unique_ptr<CRaveloView> m_view;
};
