// Saves a picture of the window with sample rows queried from the fake index service, for
// the README: window_screenshot OUT.png [KEYWORDS.txt]. Runs on Qt's offscreen platform.
#include "FakeIndexService.h"
#include "app/FileDialog.h"
#include "app/MainWindow.h"
#include "app/ResultsModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <fstream>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_screenshot OUT.png [KEYWORDS.txt]\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QFont font = QApplication::font();
    font.setPixelSize(12);
    QApplication::setFont(font);

    std::string keywords = argc > 2 ? argv[2] : "";
    if (keywords.empty()) {
        keywords = (std::filesystem::temp_directory_path() / "corvanta-screenshot.txt").string();
        std::ofstream(keywords, std::ios::binary)
            << "手机\r\n笔记本电脑\r\n旅游攻略\r\n新能源汽车\r\n咖啡机\r\nseo\r\n跑步鞋\r\n"
               "考研\r\n二手房\r\n露营装备\r\n不存在的词\r\n";
    }
    corvanta::fake::FakeIndexService service;
    service.setUnknownKeywords({"不存在的词"});
    if (!service.start()) {
        std::fprintf(stderr, "the fake index service did not start\n");
        return 1;
    }
    corvanta::MainWindow window(QString::fromStdString(service.baseUrl()));
    window.show();
    corvanta::setNextFileDialogAnswer(QString::fromStdString(keywords));
    window.findChild<QPushButton*>("importButton")->click();
    QElapsedTimer timer;
    timer.start();
    while (window.model().rowCount() == 0 && timer.elapsed() < 10000)
        QTest::qWait(20);
    window.findChild<QLineEdit*>("cookieEdit")->setText("BDUSS=corvanta-demo");
    window.findChild<QPushButton*>("queryButton")->click();
    while (!window.engine().progress().finished() && timer.elapsed() < 60000)
        QTest::qWait(20);
    window.refresh();
    QTest::qWait(100);
    const bool saved = window.grab().save(QString::fromLocal8Bit(argv[1]));
    std::printf("%s %s (%s)\n", saved ? "saved" : "could not save", argv[1],
                window.captionText().toStdString().c_str());
    window.close();
    return saved ? 0 : 1;
}
