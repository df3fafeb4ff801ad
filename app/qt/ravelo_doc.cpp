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
    emit DocumentChanged();
    return true;
}

void CRaveloDoc::OnCloseDocument() {
    m_model.Close();
}
