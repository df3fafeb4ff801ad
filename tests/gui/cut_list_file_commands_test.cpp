// File -> Import/Export cut areas... in the window: the menu entries, a
// round trip through a file, the question before the areas set are replaced,
// and a malformed file that changes nothing.
#include <QApplication>
#include <QListWidget>
#include <QMenu>

#include "app/qt/cut_list_file_commands.h"
#include "app/qt/engine_snapshot_source.h"
#include "app/qt/ravelo_app.h"
#include "app/qt/ravelo_doc.h"
#include "app/qt/ravelo_view.h"
#include "shell/qt/main_frame.h"
#include "window_fixture.h"

namespace {
class CutListFileTest : public WindowTest {
  protected:
    void Start(const QStringList& arguments) {
        m_app.UsePrompts(&m_prompts);
        ASSERT_TRUE(m_app.InitInstance(arguments));
        m_commands = m_app.Frame()->findChild<CCutListFileCommands*>();
        ASSERT_NE(m_commands, nullptr);
    }
    // Two areas, set with the buttons as a user would.
    void MarkAreas() {
        CRaveloView* view = m_app.View();
        for (int area = 0; area < 2; ++area) {
            if (area > 0) view->OnNewArea();
            view->OnSeek(CRaveloView::kSmallForward, 0);
            view->OnStartCut();
            view->OnSeek(CRaveloView::kSmallForward, 0);
            view->OnEndCut();
        }
        ASSERT_EQ(Areas().size(), 2u);
        ASSERT_TRUE(Areas()[0].IsEnabled && Areas()[1].IsEnabled);
    }
    CCutList& Areas() { return m_app.Doc().Model().m_cutList; }

    CEngineSnapshotSource m_source;
    CRaveloApp m_app{m_source};
    CCutListFileCommands* m_commands = nullptr;
};

void expectSame(const CCutList& got, const CCutList& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].SectorStart, want[i].SectorStart) << i;
        EXPECT_EQ(got[i].SectorEnd, want[i].SectorEnd) << i;
        EXPECT_EQ(got[i].PTSStart, want[i].PTSStart) << i;
        EXPECT_EQ(got[i].PTSEnd, want[i].PTSEnd) << i;
    }
}
}  // namespace

TEST_F(CutListFileTest, TheFileMenuOffersBothOnceARecordingIsOpen) {
    Start({});
    QMenu* menu = nullptr;
    for (QObject* object : m_app.Frame()->ActionOpen()->associatedObjects())
        if (auto* m = qobject_cast<QMenu*>(object)) menu = m;
    ASSERT_NE(menu, nullptr);
    const QList<QAction*> file = menu->actions();
    const qsizetype open = file.indexOf(m_app.Frame()->ActionOpen());
    ASSERT_GE(open, 0);
    ASSERT_GT(file.size(), open + 2);
    EXPECT_EQ(file[open + 1], m_commands->ActionImport());
    EXPECT_EQ(file[open + 2], m_commands->ActionExport());
    EXPECT_FALSE(m_commands->ActionImport()->isEnabled());
    EXPECT_FALSE(m_commands->ActionExport()->isEnabled());
    EXPECT_FALSE(
        m_commands->ExportTo(QString::fromStdString(m_dir.File("x.edl")), CutFileFormat::Edl));
    ASSERT_TRUE(m_app.OpenDocument(QString::fromStdString(m_sample)));
    EXPECT_TRUE(m_commands->ActionImport()->isEnabled());
    EXPECT_TRUE(m_commands->ActionExport()->isEnabled());
}

TEST_F(CutListFileTest, ExportedAreasImportAsTheSameAndAreStored) {
    Start({QString::fromStdString(m_sample)});
    MarkAreas();
    const CCutList marked = Areas();
    for (CutFileFormat format :
         {CutFileFormat::Edl, CutFileFormat::VdrMarks, CutFileFormat::Comskip}) {
        SCOPED_TRACE(CutFileFormatName(format));
        const QString path =
            QString::fromStdString(m_dir.File("cuts." + CutFileFormatName(format)));
        ASSERT_TRUE(m_commands->ExportTo(path, format)) << m_prompts.asked.back().text;
        m_prompts.answers = {PromptAnswer::Yes};  // replace the areas set
        ASSERT_TRUE(m_commands->ImportFrom(path, format));
        expectSame(Areas(), marked);
        EXPECT_EQ(m_prompts.asked.back().buttons, PromptButtons::YesNoCancel);
    }
    // The list box shows them, the first selected.
    auto* box = Ctl<QListWidget>(m_app.View(), CRaveloView::kCutList);
    EXPECT_EQ(box->count(), 2);
    EXPECT_EQ(box->currentRow(), 0);
    // Kept: No adds the imported areas; Cancel changes nothing.
    const QString edl = QString::fromStdString(m_dir.File("cuts.edl"));
    m_prompts.answers = {PromptAnswer::No};
    ASSERT_TRUE(m_commands->ImportFrom(edl, CutFileFormat::Edl));
    EXPECT_EQ(Areas().size(), 4u);
    m_prompts.answers = {PromptAnswer::Cancel};
    EXPECT_FALSE(m_commands->ImportFrom(edl, CutFileFormat::Edl));
    EXPECT_EQ(Areas().size(), 4u);
    m_app.Frame()->close();
    EXPECT_EQ(StoredAreas("sample.ts").size(), 4u);
}

TEST_F(CutListFileTest, AMalformedFileIsRefusedWithItsLineAndChangesNothing) {
    Start({QString::fromStdString(m_sample)});
    MarkAreas();
    const CCutList marked = Areas();
    const std::string bad = m_dir.File("bad.txt");
    WriteFileBytes(bad, {'F', 'I', 'L', 'E', '\n'});
    m_prompts.answers = {PromptAnswer::Yes};
    EXPECT_FALSE(m_commands->ImportFrom(QString::fromStdString(bad), CutFileFormat::Comskip));
    EXPECT_NE(m_prompts.asked.back().text.find("bad.txt, line 1: expected the comskip header"),
              std::string::npos)
        << m_prompts.asked.back().text;
    EXPECT_EQ(m_prompts.asked.back().caption, "ATTENTION!");
    expectSame(Areas(), marked);

    // A file that cannot be written is said so.
    EXPECT_FALSE(m_commands->ExportTo(QString::fromStdString(m_dir.File("no/cuts.edl")),
                                      CutFileFormat::Edl));
    EXPECT_NE(m_prompts.asked.back().text.find("cannot write"), std::string::npos)
        << m_prompts.asked.back().text;
}
