#include "app/qt/ravelo_doc.h"

#include <fcntl.h>
#include <unistd.h>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

#include "res/strings.h"
#include "shell/log.h"
#include "shell/prompts.h"

namespace {
// The readability test that precedes opening: a file that cannot even be read
// must not cost the user the recording that is open now. On failure *reason
// says why.
bool CanRead(const QString& path, std::string* reason) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *reason = std::strerror(errno);
        return false;
    }
    ::close(fd);
    if (QFileInfo(path).isFile()) return true;
    *reason = std::strerror(EISDIR);
    return false;
}

// The message names the file and the reason below the framework's sentence.
std::string FailureText(const std::string& detail) {
    const std::string sentence = LoadResString(ids::kFailedToOpenDocument);
    std::string text = detail;
    if (text.rfind(sentence + " ", 0) == 0) text = text.substr(sentence.size() + 1);
    return sentence + "\r\n" + text;
}

QString Untitled() {
    return QStringLiteral("Untitled");
}
}  // namespace

CRaveloDoc::CRaveloDoc() : m_title(Untitled()) {
    SetActiveRecording(&m_model);
}

CRaveloDoc::~CRaveloDoc() {
    OnCloseDocument();
    if (ActiveRecording() == &m_model) SetActiveRecording(nullptr);
}

bool CRaveloDoc::OnNewDocument() {
    m_model.Close();
    m_title = Untitled();
    m_path.clear();
    emit DocumentChanged();
    return true;
}

bool CRaveloDoc::OnOpenDocument(const QString& path) {
    std::string reason;
    if (!CanRead(path, &reason)) {
        LogWrite("Cannot read " + path.toStdString() + ": " + reason, 1);
        Prompts().Ask(LoadResString(ids::kAppTitle),
                      FailureText(path.toStdString() + ": " + reason), PromptButtons::Ok,
                      PromptIcon::Warning);
        return false;
    }
    std::string error;
    // The model stores the cut list of the recording it replaces.
    if (!m_model.Open(QFile::encodeName(path).toStdString(), &error)) {
        LogWrite("Opening failed: " + error, 1);
        Prompts().Ask(LoadResString(ids::kAppTitle),
                      FailureText(error.empty() ? path.toStdString() : error), PromptButtons::Ok,
                      PromptIcon::Warning);
        m_title = Untitled();
        m_path.clear();
        emit DocumentChanged();
        return false;
    }
    m_path = QFileInfo(path).absoluteFilePath();
    m_title = QFileInfo(path).fileName();
    AskAboutStoredCutList();
    emit DocumentChanged();
    return true;
}

void CRaveloDoc::AskAboutStoredCutList() {
    const std::string title = m_model.Recording().GetFileTitle();
    if (m_model.HasUnfinishedRun())
        Prompts().Ask(LoadResString(ids::kAttention),
                      "Removing the cut areas of " + title +
                          " was interrupted. Run \"Remove cuts in recording\" again to complete "
                          "it; until then the recording holds a stretch that is already moved "
                          "forward.",
                      PromptButtons::Ok, PromptIcon::Warning);
    if (!m_model.CutListForeign()) return;
    // Areas stored under this title were marked on another recording of the
    // same name: they are not applied, and go only when the user says so.
    if (Prompts().Ask(LoadResString(ids::kAttention),
                      "The stored cut areas of " + title +
                          " belong to another recording of the same name (its first picture "
                          "differs). They are not used for this recording.\r\nDiscard them?",
                      PromptButtons::YesNo, PromptIcon::Question) == PromptAnswer::Yes)
        m_model.DiscardForeignCutList();
}

void CRaveloDoc::OnCloseDocument() {
    m_model.Close();
}
