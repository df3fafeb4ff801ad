#include "shell/qt/dlg_settings.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "controls/icon_resource.h"
#include "res/strings.h"
#include "shell/output_folder.h"
#include "shell/preferences.h"

namespace {
CDlgSettings::FolderBrowser& browser() {
    static CDlgSettings::FolderBrowser instance = [](QWidget* parent, const QString& initial) {
        return QFileDialog::getExistingDirectory(parent, QString(), initial,
                                                 QFileDialog::ShowDirsOnly);
    };
    return instance;
}

QRadioButton* radio(const QString& text, int id, QWidget* parent) {
    auto* button = new QRadioButton(text, parent);
    button->setObjectName(QStringLiteral("ctl%1").arg(id));
    return button;
}

QString ResText(int id) {
    return QString::fromStdString(LoadResString(id));
}
}  // namespace

void CDlgSettings::SetFolderBrowser(FolderBrowser folderBrowser) {
    browser() = std::move(folderBrowser);
}

QString CDlgSettings::WithTrailingSeparator(const QString& path) {
    if (path.isEmpty() || path.endsWith('/') || path == QStringLiteral(".")) return path;
    return path + '/';
}

CDlgSettings::CDlgSettings(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("dlgSettings"));
    setWindowTitle(QStringLiteral("Settings..."));

    auto* decoration = new QLabel(this);
    decoration->setPixmap(PixmapResource(100, QSize(72, 300)));
    decoration->setAlignment(Qt::AlignTop);

    auto* outputBox = new QGroupBox(QStringLiteral("Output Path"), this);
    m_path = new QLineEdit(outputBox);
    m_path->setObjectName(QStringLiteral("ctl2000"));
    m_path->setReadOnly(true);
    m_path->setMinimumWidth(300);
    m_browse = new QPushButton(QStringLiteral("..."), outputBox);
    m_browse->setObjectName(QStringLiteral("ctl2007"));
    m_browse->setFixedWidth(32);
    m_browse->setAutoDefault(false);
    m_useSource = new QCheckBox(QStringLiteral("Use source directory for output"), outputBox);
    m_useSource->setObjectName(QStringLiteral("ctl2008"));
    auto* outputLayout = new QGridLayout(outputBox);
    outputLayout->addWidget(m_path, 0, 0);
    outputLayout->addWidget(m_browse, 0, 1);
    outputLayout->addWidget(m_useSource, 1, 0, 1, 2);

    auto* demuxBox = new QGroupBox(QStringLiteral("Demultiplexing"), this);
    m_m2v = radio(QStringLiteral("M2V"), 2001, demuxBox);
    m_mpv = radio(QStringLiteral("MPV"), 2002, demuxBox);
    m_mp2 = radio(QStringLiteral("MP2"), 2003, demuxBox);
    m_mp3 = radio(QStringLiteral("MP3"), 2009, demuxBox);
    m_mpa = radio(QStringLiteral("MPA"), 2004, demuxBox);
    // Two groups, so that one video and one audio choice can be checked.
    auto* videoGroup = new QButtonGroup(this);
    videoGroup->addButton(m_m2v);
    videoGroup->addButton(m_mpv);
    auto* audioGroup = new QButtonGroup(this);
    audioGroup->addButton(m_mp2);
    audioGroup->addButton(m_mp3);
    audioGroup->addButton(m_mpa);
    m_compensate =
        new QCheckBox(QStringLiteral("Compensate VBV-Delay (only for TMPGEnc)"), demuxBox);
    m_compensate->setObjectName(QStringLiteral("ctl2005"));
    auto* demuxLayout = new QGridLayout(demuxBox);
    demuxLayout->addWidget(
        new QLabel(QStringLiteral("Preferred file extensions for demultiplexing:")), 0, 0, 1, 4);
    demuxLayout->addWidget(new QLabel(QStringLiteral("Video:")), 1, 0);
    demuxLayout->addWidget(m_m2v, 1, 1);
    demuxLayout->addWidget(m_mpv, 1, 2);
    demuxLayout->addWidget(new QLabel(QStringLiteral("Audio:")), 2, 0);
    demuxLayout->addWidget(m_mp2, 2, 1);
    demuxLayout->addWidget(m_mp3, 2, 2);
    demuxLayout->addWidget(m_mpa, 2, 3);
    demuxLayout->addWidget(m_compensate, 3, 0, 1, 4);
    demuxLayout->setColumnStretch(4, 1);

    auto* otherBox = new QGroupBox(QStringLiteral("Other Settings"), this);
    m_logLevel = new QComboBox(otherBox);
    m_logLevel->setObjectName(QStringLiteral("ctl2006"));
    m_directHelp = new QCheckBox(QStringLiteral("Show direct help on controls"), otherBox);
    m_directHelp->setObjectName(QStringLiteral("ctl3010"));
    auto* otherLayout = new QGridLayout(otherBox);
    otherLayout->addWidget(new QLabel(QStringLiteral("Log-Level")), 0, 0);
    otherLayout->addWidget(m_logLevel, 0, 1);
    otherLayout->addWidget(m_directHelp, 1, 0, 1, 2);
    otherLayout->setColumnStretch(2, 1);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("ctl1"));
    ok->setDefault(true);
    QPushButton* cancel =
        buttons->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("ctl2"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CDlgSettings::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* right = new QVBoxLayout;
    right->addWidget(outputBox);
    right->addWidget(demuxBox);
    right->addWidget(otherBox);
    right->addStretch(1);
    right->addWidget(buttons);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(decoration);
    layout->addLayout(right, 1);

    // Opening: the stored values.
    m_pathText = WithTrailingSeparator(QString::fromStdString(CPreferences::GetOutputPath()));
    m_path->setText(m_pathText);
    m_directHelp->setChecked(CPreferences::GetShowDirectHelp());
    const std::uint32_t video = CPreferences::GetFileExt(false);
    m_m2v->setChecked(video == 10);
    m_mpv->setChecked(video == 11);
    const std::uint32_t audio = CPreferences::GetFileExt(true);
    m_mp2->setChecked(audio == 20);
    m_mpa->setChecked(audio == 21);
    m_mp3->setChecked(audio == 22);
    m_compensate->setChecked(CPreferences::GetCompensateVideoDelay());
    const int names[] = {ids::kLogOff, ids::kLogCalls, ids::kLogImportant, ids::kLogAll};
    for (int i = 0; i < 4; ++i)
        m_logLevel->addItem(QStringLiteral("%1: %2").arg(i).arg(ResText(names[i])));
    const std::uint32_t level = CPreferences::GetLogLevel();
    m_logLevel->setCurrentIndex(level < 4 ? static_cast<int>(level) : -1);
    m_useSource->setChecked(CPreferences::GetUseSourceAsOutputPath());
    ApplyUseSourceRule();
    connect(m_useSource, &QCheckBox::toggled, this, [this] { ApplyUseSourceRule(); });
    connect(m_browse, &QPushButton::clicked, this, &CDlgSettings::OnBrowse);
}

void CDlgSettings::ApplyUseSourceRule() {
    const bool own = !m_useSource->isChecked();
    m_path->setEnabled(own);
    m_browse->setEnabled(own);
}

void CDlgSettings::OnBrowse() {
    QString initial = m_pathText;
    // The root "/" keeps its separator.
    if (initial.size() > 1 && initial.endsWith('/')) initial.chop(1);
    const QString chosen = browser()(this, initial);
    if (chosen.isEmpty()) return;
    m_pathText = WithTrailingSeparator(chosen);
    m_path->setText(m_pathText);
}

void CDlgSettings::accept() {
    QDialog::accept();
    QString path = m_pathText;
    // The root "/" is stored as it is; it must not turn into an empty path.
    if (path.size() > 1 && path.endsWith('/')) path.chop(1);
    CPreferences::SetUseSourceAsOutputPath(m_useSource->isChecked());
    CPreferences::SetOutputPath(path.toStdString());
    // A stored level outside 0..3 leaves the list without a selection; it
    // then stays as it is rather than being overwritten with -1.
    if (m_logLevel->currentIndex() >= 0)
        CPreferences::SetLogLevel(static_cast<std::uint32_t>(m_logLevel->currentIndex()));
    CPreferences::SetShowDirectHelp(m_directHelp->isChecked());
    CPreferences::SetFileExtVideo(m_m2v->isChecked() ? 10 : 11);
    CPreferences::SetFileExtAudio(m_mp2->isChecked() ? 20 : m_mp3->isChecked() ? 22 : 21);
    CPreferences::SetCompensateVideoDelay(m_compensate->isChecked());
    CheckOutputFolder();
}
