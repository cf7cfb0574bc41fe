// corvanta: the window.
#include "app/MainWindow.h"
#include "query/IndexService.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFont>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Corvanta");
    QApplication::setApplicationVersion(PROJECT_VERSION);

    QCommandLineParser parser;
    parser.setApplicationDescription("Corvanta: search-index averages for lists of keywords.");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption endpoint(
        "endpoint", "The index service's base address (default https://index.baidu.com).", "URL",
        QString::fromUtf8(corvanta::kIndexServiceBase.data(),
                          static_cast<int>(corvanta::kIndexServiceBase.size())));
    parser.addOption(endpoint);
    parser.process(app);

    const std::string base = corvanta::normalizedServiceBase(parser.value(endpoint).toStdString());
    if (base.empty()) {
        std::fprintf(stderr, "corvanta: --endpoint needs an http:// or https:// address with a "
                             "host, such as http://127.0.0.1:8765\n");
        return 2;
    }

    // The look of the window's controls: the system's GUI font at 12 pixels.
    QFont font = QApplication::font();
    font.setPixelSize(12);
    QApplication::setFont(font);

    corvanta::MainWindow window(QString::fromStdString(base));
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(&window, &corvanta::MainWindow::closed, &app, &QApplication::quit);
    window.show();
    return QApplication::exec();
}
