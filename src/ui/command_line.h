// The wizard's command line: `brightmend [FILE]`, `--help`, `--version`.
#pragma once

#include <QString>
#include <QStringList>

namespace bmui {

struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    // The store to choose on step 1 (absolute, named as given), or empty.
    QString file;
    // For Help and Version: what goes to standard output; for Error: the
    // message for standard error.
    QString text;
};

// `arguments` includes the program name first, as QCoreApplication gives it.
CommandLine ParseCommandLine(const QStringList& arguments);

// The version as the About box and --version show it.
QString VersionText();

}  // namespace bmui
