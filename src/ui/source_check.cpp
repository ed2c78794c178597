#include "ui/source_check.h"

#include <cerrno>
#include <cstring>

#include "engine/source_file_check.h"
#include "ui/ui_texts.h"

namespace bmui {

namespace {

QString OpenFailure(const std::string& path, int error) {
    const QString shown = QString::fromStdString(path);
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return Text(kSourceMissing).arg(shown);
    case EACCES:
    case EPERM:
        return Text(kSourcePermissionDenied).arg(shown);
    default:
        return Text(kSourceUnreadable).arg(shown, QString::fromLocal8Bit(std::strerror(error)));
    }
}

}  // namespace

QString SourceFileProblem(const std::string& path) {
    const bm::SourceFileCheck check = bm::CheckSourceFile(path);
    switch (check.verdict) {
    case bm::SourceFileCheck::Verdict::MayBeTried:
        return {};
    case bm::SourceFileCheck::Verdict::NotAStore:
        return Text(kNotValidOst);
    case bm::SourceFileCheck::Verdict::NotARegularFile:
        return QString::fromStdString(check.what);
    case bm::SourceFileCheck::Verdict::Unreadable:
        return OpenFailure(path, check.error);
    }
    return Text(kNotValidOst);
}

}  // namespace bmui
