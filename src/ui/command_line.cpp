#include "ui/command_line.h"

#include <QCommandLineParser>
#include <QDir>

#include "core_version.h"
#include "ui/ui_texts.h"

namespace bmui {

QString VersionText() {
    return Text(kVersionText) + QStringLiteral(" (") + QString::fromLatin1(bm::CoreVersion()) + QLatin1Char(')');
}

CommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Recovers the contents of an Outlook offline store file (.ost) into a new Personal Folders "
                       "file (.pst)."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help and ends."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Shows the version and ends."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The offline store to open on step 1."),
                                 QStringLiteral("[FILE]"));
    CommandLine out;
    if (!parser.parse(arguments)) {
        out.action = CommandLine::Action::Error;
        out.text = parser.errorText() + QStringLiteral("\nTry 'brightmend --help'.\n");
        return out;
    }
    if (parser.isSet(help)) {
        out.action = CommandLine::Action::Help;
        // Without an application object the parser cannot name the program.
        out.text = parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("brightmend"));
        return out;
    }
    if (parser.isSet(version)) {
        out.action = CommandLine::Action::Version;
        out.text = Text(kCaption) + QLatin1Char(' ') + VersionText() + QLatin1Char('\n');
        return out;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        out.action = CommandLine::Action::Error;
        out.text = QStringLiteral("Only one store file may be given.\nTry 'brightmend --help'.\n");
        return out;
    }
    if (!files.isEmpty() && !files.front().isEmpty()) out.file = QDir::current().absoluteFilePath(files.front());
    return out;
}

}  // namespace bmui
