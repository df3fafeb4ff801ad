#include "app/qt/cut_list_file_commands.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QListWidget>
#include <QMenu>

#include "app/qt/ravelo_doc.h"
#include "app/qt/ravelo_view.h"
#include "res/strings.h"
#include "shell/log.h"
#include "shell/prompts.h"
#include "shell/qt/main_frame.h"

namespace {
struct FormatFilter {
    CutFileFormat format;
    const char* filter;
    const char* suffix;  // of an exported file's proposed name
};
constexpr FormatFilter kFilters[] = {
    {CutFileFormat::Edl, "MPlayer/Kodi EDL (*.edl *.EDL)", ".edl"},
    {CutFileFormat::VdrMarks, "VDR marks (marks marks.vdr *.vdr)", ""},
    {CutFileFormat::Comskip, "comskip frame list (*.txt *.TXT)", ".txt"},
};

QStringList filterList() {
    QStringList filters;
    for (const FormatFilter& f : kFilters)
        filters << QString::fromLatin1(f.filter);
    return filters;
}

CutFileFormat formatOfFilter(const QString& filter) {
    for (const FormatFilter& f : kFilters)
        if (filter == QLatin1String(f.filter)) return f.format;
    return CutFileFormat::Edl;
}

void tell(const std::string& text, PromptIcon icon) {
    Prompts().Ask(LoadResString(icon == PromptIcon::Error ? ids::kAttention : ids::kAppTitle), text,
                  PromptButtons::Ok, icon);
}

// The menu that holds an action: the frame keeps its File menu to itself.
QMenu* menuOf(QAction* action) {
    for (QObject* object : action->associatedObjects())
        if (auto* menu = qobject_cast<QMenu*>(object)) return menu;
    return nullptr;
}
}  // namespace

CCutListFileCommands::CCutListFileCommands(CMainFrame& frame, CRaveloDoc& doc, CRaveloView& view)
    : QObject(&frame), m_frame(frame), m_doc(doc), m_view(view) {
    m_import = new QAction(QStringLiteral("&Import cut areas..."), this);
    m_import->setObjectName(QStringLiteral("cmdImportCutAreas"));
    m_import->setStatusTip(
        QStringLiteral("Adds the cut areas of an EDL, VDR marks or comskip file"));
    m_export = new QAction(QStringLiteral("&Export cut areas..."), this);
    m_export->setObjectName(QStringLiteral("cmdExportCutAreas"));
    m_export->setStatusTip(
        QStringLiteral("Writes the cut areas as an EDL, VDR marks or comskip file"));
    connect(m_import, &QAction::triggered, this, &CCutListFileCommands::OnImport);
    connect(m_export, &QAction::triggered, this, &CCutListFileCommands::OnExport);
    if (QMenu* file = menuOf(frame.ActionOpen())) {
        const QList<QAction*> actions = file->actions();
        const qsizetype open = actions.indexOf(frame.ActionOpen());
        QAction* next = open + 1 < actions.size() ? actions[open + 1] : nullptr;
        file->insertActions(next, {m_import, m_export});
        connect(file, &QMenu::aboutToShow, this, &CCutListFileCommands::UpdateActions);
    }
    connect(&doc, &CRaveloDoc::DocumentChanged, this, &CCutListFileCommands::UpdateActions);
    UpdateActions();
}

void CCutListFileCommands::UpdateActions() {
    const bool usable = m_doc.IsOpen() && !m_view.IsJobRunning();
    m_import->setEnabled(usable);
    m_export->setEnabled(usable);
}

void CCutListFileCommands::OnImport() {
    QFileDialog dialog(&m_frame, QStringLiteral("Import cut areas"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(filterList());
    dialog.setDirectory(QFileInfo(m_doc.PathName()).absolutePath());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const QString path = dialog.selectedFiles().front();
    const auto byName = CutFileFormatFromPath(QFile::encodeName(path).toStdString());
    ImportFrom(path, byName.value_or(formatOfFilter(dialog.selectedNameFilter())));
}

void CCutListFileCommands::OnExport() {
    QFileDialog dialog(&m_frame, QStringLiteral("Export cut areas"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);  // asks before it overwrites
    dialog.setNameFilters(filterList());
    const QFileInfo recording(m_doc.PathName());
    dialog.selectFile(recording.absolutePath() + '/' + recording.completeBaseName() +
                      QLatin1String(kFilters[0].suffix));
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& filter) {
        for (const FormatFilter& f : kFilters)
            if (filter == QLatin1String(f.filter))
                dialog.selectFile(*f.suffix ? recording.completeBaseName() + QLatin1String(f.suffix)
                                            : QStringLiteral("marks"));
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    ExportTo(dialog.selectedFiles().front(), formatOfFilter(dialog.selectedNameFilter()));
}

bool CCutListFileCommands::ImportFrom(const QString& path, CutFileFormat format) {
    if (!m_doc.IsOpen() || m_view.IsJobRunning()) return false;
    const std::string file = QFile::encodeName(path).toStdString();
    std::string text, error;
    if (!ReadCutFile(file, text, &error)) {
        tell(error, PromptIcon::Error);
        return false;
    }
    CCutList& list = m_doc.Model().m_cutList;
    bool replace = true;
    if (!list.empty()) {
        const PromptAnswer answer = Prompts().Ask(
            LoadResString(ids::kAppTitle),
            "Replace the " + std::to_string(list.size()) +
                " cut areas already set?\r\nYes replaces them, No keeps them and adds the "
                "imported ones.",
            PromptButtons::YesNoCancel, PromptIcon::Question);
        if (answer == PromptAnswer::Cancel) return false;
        replace = answer == PromptAnswer::Yes;
    }
    const CutImport imported = ImportCutList(m_doc.Model(), text, format);
    if (imported.Failed()) {
        LogWrite("Cut list not imported: " + file + ", " + imported.error, 1);
        tell("Nothing imported: " + file + ", " + imported.error, PromptIcon::Error);
        return false;
    }
    if (replace) list.clear();
    const int first = static_cast<int>(list.size());
    list.insert(list.end(), imported.areas.begin(), imported.areas.end());
    LogWrite("Cut list imported: " + file + " (" + CutFileFormatName(format) + ", " +
                 std::to_string(imported.areas.size()) + " areas)",
             1);
    m_view.FillCutListBox();
    // The first imported area is selected: the view shows its start.
    if (!imported.areas.empty())
        if (auto* box =
                m_view.findChild<QListWidget*>(QStringLiteral("ctl%1").arg(CRaveloView::kCutList)))
            box->setCurrentRow(first);
    if (!imported.notes.empty()) {
        std::string notes =
            std::to_string(imported.areas.size()) + " cut areas imported from " + file + ".";
        for (const std::string& note : imported.notes)
            notes += "\r\n" + note;
        tell(notes, PromptIcon::Information);
    }
    return true;
}

bool CCutListFileCommands::ExportTo(const QString& path, CutFileFormat format) {
    if (!m_doc.IsOpen() || m_view.IsJobRunning()) return false;
    const std::string file = QFile::encodeName(path).toStdString();
    std::string error;
    if (!ExportCutFile(m_doc.Model(), format, file, &error)) {
        LogWrite("Cut list not exported: " + error, 1);
        tell("Cut areas not exported: " + error, PromptIcon::Error);
        return false;
    }
    LogWrite("Cut list exported: " + file + " (" + CutFileFormatName(format) + ")", 1);
    return true;
}
