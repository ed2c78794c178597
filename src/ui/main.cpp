#include <QApplication>
#include <QStringList>

#include <cstdio>

#include "ui/command_line.h"
#include "ui/tarnwick_app.h"
#include "ui/ui_services.h"

int main(int argc, char** argv) {
    // --help and --version answer without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const bmui::CommandLine command = bmui::ParseCommandLine(arguments);
    switch (command.action) {
    case bmui::CommandLine::Action::Help:
    case bmui::CommandLine::Action::Version:
        std::fputs(command.text.toLocal8Bit().constData(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    case bmui::CommandLine::Action::Error:
        std::fputs(command.text.toLocal8Bit().constData(), stderr);
        return 2;
    case bmui::CommandLine::Action::Run:
        break;
    }
    QApplication qapp(argc, argv);
    bmui::QtUiServices services;
    bmui::CTarnwickApp app(services);
    app.SetInitialSource(command.file);
    return app.InitInstance();
}
