#include "shell/qt/dlg_about.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimerEvent>
#include <QVBoxLayout>

#include "controls/icon_resource.h"
#include "res/strings.h"
#include "shell/text.h"

namespace {
constexpr int kNoticeTimerMs = 100;

QString ResText(int id) {
    return QString::fromStdString(ToWidgetText(LoadResString(id)));
}

QLabel* WhiteBox(QWidget* parent, const QString& name) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setAutoFillBackground(true);
    label->setStyleSheet(QStringLiteral(
        "QLabel { background: white; border: 1px solid #b8c0cc; padding: 6px; color: #1b2433; }"));
    return label;
}
}  // namespace

QString CDlgAbout::DecoderSummary(const QStringList& decoders) {
    QString text = ResText(ids::kInstalledDecoders);
    for (int i = 0; i < decoders.size() && i < 2; ++i)
        text += QStringLiteral("\n  - ") + decoders[i];
    if (decoders.size() > 2) text += QStringLiteral("...");
    return text;
}

QString CDlgAbout::DecoderListText(const QStringList& decoders) {
    if (decoders.isEmpty()) return QStringLiteral("Fehler!");
    QString text = ResText(ids::kInstalledDecoders);
    for (const QString& name : decoders)
        text += QStringLiteral("\n  - ") + name;
    return text;
}

CDlgAbout::CDlgAbout(const QStringList& decoders, QWidget* parent)
    : QDialog(parent), m_decoders(decoders) {
    setObjectName(QStringLiteral("dlgAbout"));
    setWindowTitle(QStringLiteral("Info about Ravelo"));

    auto* band = new QFrame(this);
    band->setAutoFillBackground(true);
    band->setStyleSheet(QStringLiteral("QFrame { background: white; }"));
    auto* left = new QLabel(band);
    left->setPixmap(PixmapResource(900, QSize(64, 64)));
    auto* right = new QLabel(band);
    right->setPixmap(PixmapResource(901, QSize(120, 64)));
    auto* bandLayout = new QHBoxLayout(band);
    bandLayout->addWidget(left);
    bandLayout->addStretch(1);
    bandLayout->addWidget(right);

    auto* version = new QLabel(ResText(ids::kVersion), this);
    version->setObjectName(QStringLiteral("ctl142"));
    QFont versionFont(QStringLiteral("Arial"));
    versionFont.setPixelSize(16);
    versionFont.setWeight(QFont::ExtraBold);
    version->setFont(versionFont);

    m_notice = WhiteBox(this, QStringLiteral("ctl144"));
    m_notice->setMinimumHeight(70);
    QLabel* summary = WhiteBox(this, QStringLiteral("ctl145"));
    summary->setText(DecoderSummary(decoders));
    summary->setMinimumHeight(70);
    auto* showAll = new QPushButton(QStringLiteral("..."), this);
    showAll->setObjectName(QStringLiteral("ctl150"));
    showAll->setFixedWidth(32);
    showAll->setAutoDefault(false);
    connect(showAll, &QPushButton::clicked, this, &CDlgAbout::OnShowAll);

    auto* agree = new QPushButton(QStringLiteral("I Agree"), this);
    agree->setObjectName(QStringLiteral("ctl1"));
    agree->setDefault(true);
    auto* disagree = new QPushButton(QStringLiteral("I don't agree"), this);
    disagree->setObjectName(QStringLiteral("ctl2"));
    disagree->setAutoDefault(false);
    connect(agree, &QPushButton::clicked, this, &QDialog::accept);
    connect(disagree, &QPushButton::clicked, this, &QDialog::reject);

    auto* decoderRow = new QHBoxLayout;
    decoderRow->addWidget(summary, 1);
    decoderRow->addWidget(showAll, 0, Qt::AlignTop);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(agree);
    buttonRow->addWidget(disagree);
    auto* body = new QVBoxLayout;
    body->setContentsMargins(12, 8, 12, 12);
    body->addWidget(version);
    body->addWidget(m_notice);
    body->addLayout(decoderRow);
    body->addLayout(buttonRow);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(band);
    layout->addLayout(body);
    setMinimumWidth(420);

    // The notice appears a moment after the box, so that it is read.
    m_noticeTimer = startTimer(kNoticeTimerMs);
}

QString CDlgAbout::NoticeText() const {
    return m_notice->text();
}

void CDlgAbout::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_noticeTimer) return QDialog::timerEvent(event);
    killTimer(m_noticeTimer);
    m_noticeTimer = 0;
    m_notice->setText(ResText(ids::kUsageNotice));
}

void CDlgAbout::OnShowAll() {
    QMessageBox::information(this, ResText(ids::kInstalledDecoders), DecoderListText(m_decoders));
}
