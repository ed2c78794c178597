#include <QApplication>

#include "ui/tarnwick_app.h"
#include "ui/ui_services.h"

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    bmui::QtUiServices services;
    bmui::CTarnwickApp app(services);
    return app.InitInstance();
}
