// The seek button's press/hold/repeat timing, with short timers.
#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QThread>
#include <QWidget>

#include "app/qt/seek_button.h"
#include "gui_fixture.h"

namespace {
constexpr int kFirst = 60;
constexpr int kRepeat = 5;

struct Request {
    int id;
    int count;
    qint64 at;
};

class SeekButtonTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_parent.resize(200, 100);
        m_button = new CSeekButton(QStringLiteral(">"), 1025, 0, 0, 1, -10000, 10000, &m_parent);
        m_button->setGeometry(10, 10, 60, 30);
        m_button->SetTimings(kFirst, kRepeat);
        m_parent.show();
        m_clock.start();
        QObject::connect(m_button, &CSeekButton::SeekRequest, [this](int id, int count) {
            m_requests.push_back({id, count, m_clock.elapsed()});
            if (m_stepMs > 0) QThread::msleep(static_cast<unsigned long>(m_stepMs));
        });
    }

    void Send(QEvent::Type type, QPoint pos, Qt::MouseButtons buttons) {
        QMouseEvent event(type, QPointF(pos), m_button->mapToGlobal(QPointF(pos)), Qt::LeftButton,
                          buttons, Qt::NoModifier);
        QApplication::sendEvent(m_button, &event);
    }
    void Press(QPoint pos = {20, 15}) { Send(QEvent::MouseButtonPress, pos, Qt::LeftButton); }
    void Move(QPoint pos) { Send(QEvent::MouseMove, pos, Qt::LeftButton); }
    void Release(QPoint pos = {20, 15}) { Send(QEvent::MouseButtonRelease, pos, Qt::NoButton); }

    QWidget m_parent;
    CSeekButton* m_button = nullptr;
    QElapsedTimer m_clock;
    std::vector<Request> m_requests;
    int m_stepMs = 0;
};
}  // namespace

TEST_F(SeekButtonTest, ShortClickSendsExactlyOneRequestWithCountZero) {
    Press();
    Release();
    PumpFor(kFirst * 3);
    ASSERT_EQ(m_requests.size(), 1u);
    EXPECT_EQ(m_requests[0].id, 1025);
    EXPECT_EQ(m_requests[0].count, 0);
    EXPECT_FALSE(m_button->IsRepeating());
}

TEST_F(SeekButtonTest, HoldingSendsZeroThenAfterTheDelayZeroOneTwo) {
    Press();
    ASSERT_EQ(m_requests.size(), 1u);  // at once, before any event processing
    PumpFor(kFirst / 2);
    EXPECT_EQ(m_requests.size(), 1u);  // nothing within the first delay
    PumpFor(kFirst + 20 * kRepeat);
    Release();
    const std::size_t count = m_requests.size();
    PumpFor(kFirst);
    EXPECT_EQ(m_requests.size(), count);  // nothing after the release
    ASSERT_GE(m_requests.size(), 5u);
    EXPECT_EQ(m_requests[0].count, 0);
    EXPECT_EQ(m_requests[1].count, 0);
    for (std::size_t i = 2; i < m_requests.size(); ++i)
        EXPECT_EQ(m_requests[i].count, static_cast<int>(i) - 1);
    EXPECT_GE(m_requests[1].at - m_requests[0].at, kFirst - 2);
}

TEST_F(SeekButtonTest, RepeatIntervalCountsFromTheEndOfTheStep) {
    m_stepMs = 25;  // a slow step: the repeats must not queue up behind it
    Press();
    PumpFor(kFirst + 400);
    Release();
    ASSERT_GE(m_requests.size(), 4u);
    for (std::size_t i = 2; i < m_requests.size(); ++i)
        EXPECT_GE(m_requests[i].at - m_requests[i - 1].at, m_stepMs + kRepeat - 1) << i;
    for (std::size_t i = 1; i < m_requests.size(); ++i)
        EXPECT_EQ(m_requests[i].count, static_cast<int>(i) - 1);
}

TEST_F(SeekButtonTest, MovingMoreThanTwoPixelsStopsTwoPixelsDoNot) {
    Press({20, 15});
    Move({22, 17});  // 2 pixels in both directions: still held
    EXPECT_TRUE(m_button->IsRepeating());
    PumpFor(kFirst + 40 * kRepeat);
    const std::size_t held = m_requests.size();
    EXPECT_GE(held, 2u);
    Move({23, 15});  // 3 pixels: stops
    EXPECT_FALSE(m_button->IsRepeating());
    PumpFor(kFirst);
    EXPECT_EQ(m_requests.size(), held);
    Release({23, 15});
    EXPECT_EQ(m_requests.size(), held);
}

TEST_F(SeekButtonTest, ReleasingOutsideTheButtonStops) {
    Press();
    PumpFor(kFirst + 3 * kRepeat);
    Release({150, 80});
    const std::size_t count = m_requests.size();
    PumpFor(kFirst);
    EXPECT_EQ(m_requests.size(), count);
    EXPECT_FALSE(m_button->IsRepeating());
}

TEST_F(SeekButtonTest, DisablingTheHeldButtonStops) {
    // A job started by a step disables the window: the held button must not
    // go on sending requests behind it.
    Press();
    PumpFor(kFirst + 3 * kRepeat);
    m_button->setEnabled(false);
    const std::size_t count = m_requests.size();
    PumpFor(kFirst);
    EXPECT_EQ(m_requests.size(), count);
    EXPECT_FALSE(m_button->IsRepeating());
}

TEST_F(SeekButtonTest, DefaultTimingWaitsHalfASecondThenRepeatsQuickly) {
    // Judged by the time stamps of the requests, not by how many arrived
    // within a pump: a busy machine may pump late, never early.
    m_button->SetTimings(CSeekButton::kFirstDelayMs, CSeekButton::kRepeatMs);
    Press();
    PumpFor(800);
    Release();
    ASSERT_GE(m_requests.size(), 3u);
    EXPECT_GE(m_requests[1].at - m_requests[0].at, 495);
    for (std::size_t i = 2; i < m_requests.size(); ++i)
        EXPECT_GE(m_requests[i].at - m_requests[i - 1].at, CSeekButton::kRepeatMs - 1) << i;
    // Quick repeats: most of the 300 ms after the first delay are used.
    EXPECT_LT(m_requests[2].at - m_requests[1].at, 200);
}
