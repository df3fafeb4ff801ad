// The splice preview against the copy itself: on a recording whose every
// picture carries its number as its brightness, the two pictures the pane
// shows for a cut area must be the two pictures that meet in the copy the
// engine writes (decoded by ffmpeg), with their times.
#include <QLabel>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <stdexcept>

#include "app/qt/time_text.h"
#include "view_fixture.h"

namespace {
constexpr int kWidth = 352;
constexpr int kHeight = 288;
constexpr int kFrames = 70;
// Picture n has the mean luma 40 + 2.5 n, under noise that makes the
// pictures large (a few MB in all, so areas lie well past the first 256 KiB).
constexpr double kBase = 40.0;
constexpr double kStep = 2.5;

std::string Run(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
    char buffer[1 << 16];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, got);
    ::pclose(pipe);
    return out;
}

void MakeNumberedRecording(const std::string& path) {
    Run("ffmpeg -v error -y -f lavfi -i \"color=c=gray:s=" + std::to_string(kWidth) + "x" +
        std::to_string(kHeight) + ":r=25:d=" + std::to_string(kFrames / 25.0) +
        ",format=yuv420p,geq=lum='40+2.5*N+40*(random(1)-0.5)':cb=128:cr=128\" "
        "-c:v mpeg2video -g 12 -bf 2 -qscale:v 2 -f mpegts '" +
        path + "' 2>&1");
}

int NumberOfLuma(double luma) {
    return static_cast<int>(std::lround((luma - kBase) / kStep));
}

// The picture numbers of a recording in display order, as ffmpeg decodes it.
std::vector<int> DecodedNumbers(const std::string& path) {
    // The planes as decoded (no range conversion): Y, then Cb and Cr.
    const std::string planes = Run("ffmpeg -v error -i '" + path +
                                   "' -map 0:v -f rawvideo -pix_fmt yuv420p - 2>/dev/null");
    const std::size_t luma = static_cast<std::size_t>(kWidth) * kHeight;
    const std::size_t frame = luma * 3 / 2;
    std::vector<int> numbers;
    for (std::size_t at = 0; at + frame <= planes.size(); at += frame) {
        const double sum =
            std::accumulate(planes.begin() + static_cast<std::ptrdiff_t>(at),
                            planes.begin() + static_cast<std::ptrdiff_t>(at + luma), 0.0,
                            [](double s, char c) { return s + static_cast<unsigned char>(c); });
        numbers.push_back(NumberOfLuma(sum / static_cast<double>(luma)));
    }
    return numbers;
}

// The number of a picture the pane shows (RGB of a neutral grey: R = G = B).
int ShownNumber(const CPictureView* view) {
    const QImage image = view->Picture();
    if (image.isNull()) return -1;
    double sum = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            sum += qRed(image.pixel(x, y));
    const double rgb = sum / (static_cast<double>(image.width()) * image.height());
    return NumberOfLuma(rgb * 219.0 / 255.0 + 16.0);
}

class SplicePreviewTest : public ViewTest {
  protected:
    void SetUp() override {
        ViewTest::SetUp();
        m_recording = m_dir.File("numbered.ts");
        MakeNumberedRecording(m_recording);
        Open(m_recording);
        ASSERT_GT(m_view->TotalSectors(), 4000u);  // about 2 MB at least
    }

    // One area from about `from` to about `to` (fractions of the recording);
    // the marks land on the pictures the view finds there.
    void MarkArea(double from, double to) {
        m_doc->Model().m_cutList.clear();
        m_view->FillCutListBox();
        GoTo(from);
        Click(CRaveloView::kStartCut);
        GoTo(to);
        Click(CRaveloView::kEndCut);
        ASSERT_TRUE(m_doc->Model().m_cutList.at(0).IsEnabled);
        Ctl<QListWidget>(m_view.get(), CRaveloView::kCutList)->setCurrentRow(0);
        QTest::qWait(400);  // the pane follows once the selection has settled
    }
    void GoTo(double fraction) {
        const auto total = m_view->TotalSectors();
        m_view->SetCurrentPosition(fraction >= 1.0 ? total - 1
                                                   : static_cast<std::uint64_t>(total * fraction));
        m_view->ShowSnapshot(false);
    }
    QString Caption(const char* name) {
        return m_view->findChild<QLabel*>(QString::fromLatin1(name))->text();
    }
    // Copies the recording without the area, as the user would, and decodes the copy.
    std::vector<int> CopyNumbers() {
        const std::string copy = m_dir.File("copy" + std::to_string(++m_copies) + ".ts");
        m_prompts.saveNames = {copy};
        Click(CRaveloView::kCopy);
        return DecodedNumbers(copy);
    }
    // The caption's time of picture n: 40 ms each from the first.
    static QString TimeOf(int number) {
        return QString::fromStdString(MillisecondsText(number * 40));
    }

    std::string m_recording;
    int m_copies = 0;
};
}  // namespace

TEST_F(SplicePreviewTest, ThePaneShowsThePicturesTheCopyJoins) {
    const std::vector<int> source = DecodedNumbers(m_recording);
    ASSERT_EQ(static_cast<int>(source.size()), kFrames);
    for (int i = 0; i < kFrames; ++i)
        ASSERT_EQ(source[static_cast<std::size_t>(i)], i) << "the numbered recording";

    MarkArea(0.3, 0.65);
    const std::vector<int> copy = CopyNumbers();
    // The splice: where the numbers jump.
    std::size_t join = 0;
    for (std::size_t i = 1; i < copy.size(); ++i)
        if (copy[i] - copy[i - 1] > copy[join + 1] - copy[join]) join = i - 1;
    ASSERT_GT(copy[join + 1] - copy[join], 5) << "no splice in the copy";
    EXPECT_EQ(ShownNumber(m_view->SpliceBefore()), copy[join]);
    EXPECT_EQ(ShownNumber(m_view->SpliceAfter()), copy[join + 1]);
    EXPECT_EQ(Caption("spliceBeforeText"), "Last kept\n" + TimeOf(copy[join]));
    EXPECT_EQ(Caption("spliceAfterText"), "First kept\n" + TimeOf(copy[join + 1]));
    // Square samples (aspect_ratio_information 1): shown in the coded shape.
    EXPECT_DOUBLE_EQ(m_view->SpliceBefore()->DisplayAspect(), 352.0 / 288.0);
}

TEST_F(SplicePreviewTest, AnAreaFromTheStartOrToTheEndHasOnlyOneSide) {
    MarkArea(0.0, 0.4);
    std::vector<int> copy = CopyNumbers();
    ASSERT_FALSE(copy.empty());
    ASSERT_GT(copy.front(), 5);  // the copy starts after the area
    EXPECT_TRUE(m_view->SpliceBefore()->IsEmpty());
    EXPECT_EQ(Caption("spliceBeforeText"),
              QStringLiteral("Last kept: none\n(the recording's start)"));
    EXPECT_EQ(ShownNumber(m_view->SpliceAfter()), copy.front());

    MarkArea(0.5, 1.0);
    copy = CopyNumbers();
    ASSERT_FALSE(copy.empty());
    ASSERT_LT(copy.back(), kFrames - 5);  // the copy ends before the area
    EXPECT_EQ(ShownNumber(m_view->SpliceBefore()), copy.back());
    EXPECT_TRUE(m_view->SpliceAfter()->IsEmpty());
    EXPECT_EQ(Caption("spliceAfterText"),
              QStringLiteral("First kept: none\n(the recording's end)"));

    // Without a selected area the pane is empty.
    Ctl<QListWidget>(m_view.get(), CRaveloView::kCutList)->setCurrentRow(-1);
    QTest::qWait(400);
    EXPECT_TRUE(Caption("spliceAfterText").isEmpty());
    EXPECT_TRUE(m_view->SpliceBefore()->IsEmpty());
}
