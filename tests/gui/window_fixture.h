#pragma once
// The window tests on the bundled sample recording: a copy of it in a
// temporary folder, the real engine behind the document and the view.

#include <QPushButton>
#include <QWidget>
#include <filesystem>

#include "gui_fixture.h"
#include "shell/qt/progress_wnd.h"

class WindowTest : public GuiTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // A copy of samples/sample.ts named name in the test's folder.
    std::string CopySample(const std::string& name);
    // The stored areas of a recording title: (SectorStart, SectorEnd) per stored index.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> StoredAreas(const std::string& title);

    std::unique_ptr<CProgressWnd> m_progress;
    std::string m_sample;
};

template <typename T = QPushButton>
T* Ctl(QWidget* parent, int id) {
    T* control = parent->findChild<T*>(QStringLiteral("ctl%1").arg(id));
    EXPECT_NE(control, nullptr) << id;
    return control;
}

// Runs the ffprobe decode check of a file: true when it decodes without an error.
bool DecodesCleanly(const std::string& path);
