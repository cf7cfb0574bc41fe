#include "app/MainWindow.h"

#include "FakeIndexService.h"
#include "app/FileDialog.h"
#include "app/ResultsModel.h"
#include "core/ResultsTable.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <set>

namespace corvanta {
namespace {

using fake::FakeIndexService;
namespace fs = std::filesystem;

// Runs the window's event loop until `done` holds or the time runs out (a hang guard).
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 30000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}

// The message boxes open now, oldest first.
QList<QMessageBox*> openMessageBoxes() {
    QList<QMessageBox*> boxes;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            boxes << box;
    return boxes;
}

void closeMessageBoxes() {
    for (QMessageBox* box : openMessageBoxes())
        box->close();
    QTest::qWait(1);
}

// Waits for one message box, returns its text and closes it.
QString nextMessage() {
    QString text;
    waitUntil([] { return !openMessageBoxes().isEmpty(); });
    const auto boxes = openMessageBoxes();
    if (boxes.isEmpty())
        return "(no message)";
    EXPECT_EQ(boxes.front()->windowTitle(), "信息：");
    EXPECT_FALSE(boxes.front()->isModal());
    text = boxes.front()->text();
    boxes.front()->button(QMessageBox::Ok)->click();
    QTest::qWait(1);
    return text;
}

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service.start());
        window = std::make_unique<MainWindow>(QString::fromStdString(service.baseUrl()));
        window->show();
        std::random_device seed;
        folder = fs::temp_directory_path() / ("corvanta-app-" + std::to_string(seed()));
        fs::create_directories(folder);
    }
    void TearDown() override {
        setNextFileDialogAnswer(std::nullopt);
        closeMessageBoxes();
        window.reset();
        fs::remove_all(folder);
    }

    template <typename T>
    T* control(const char* name) const {
        T* found = window->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QString file(const std::string& name, const std::string& bytes) const {
        std::ofstream(folder / name, std::ios::binary) << bytes;
        return QString::fromStdString((folder / name).string());
    }
    std::string read(const QString& path) const {
        std::ifstream in(path.toStdString(), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void click(const char* name) { QTest::mouseClick(control<QPushButton>(name), Qt::LeftButton); }
    void type(const char* name, const QString& text) {
        auto* edit = control<QLineEdit>(name);
        edit->clear();
        // Qt Test types only ASCII keys; other text goes in as typed input would.
        bool ascii = true;
        for (QChar ch : text)
            ascii = ascii && ch.unicode() < 0x80;
        if (ascii)
            QTest::keyClicks(edit, text);
        else
            edit->insert(text);
    }
    // Imports the file through the import button and waits until its rows are listed.
    void importFile(const QString& path, int expectedRows) {
        setNextFileDialogAnswer(path);
        click("importButton");
        ASSERT_TRUE(waitUntil([&] { return window->model().rowCount() == expectedRows; }))
            << window->model().rowCount();
    }
    QString cell(int row, int column) const {
        return window->model().data(window->model().index(row, column), Qt::DisplayRole).toString();
    }
    // Runs the query and waits until every row has its outcome.
    void query() {
        click("queryButton");
        ASSERT_TRUE(waitUntil([&] {
            window->refresh();
            return window->engine().progress().finished();
        }));
        window->refresh();
    }

    FakeIndexService service;
    std::unique_ptr<MainWindow> window;
    fs::path folder;
};

TEST_F(MainWindowTest, ControlsStandWhereTheyBelongWithTheirTextsAndDefaults) {
    EXPECT_EQ(window->windowTitle(), "Corvanta");
    EXPECT_EQ(window->size(), QSize(577, 518));
    EXPECT_EQ(window->minimumSize(), window->maximumSize()); // cannot be resized
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);

    struct Expected {
        const char* name;
        QRect geometry;
        QString text;
    };
    const Expected controls[] = {
        {"bannerLabel",
         {4, -5, 564, 40},
         "本软件更新时间2019年12月09日       若版本失效请点击此处获取新版本"},
        {"importButton", {13, 416, 72, 32}, "导入关键词"},
        {"periodLabel", {136, 417, 40, 32}, "周期"},
        {"threadCountLabel", {279, 424, 40, 24}, "线程数"},
        {"threadCountEdit", {327, 424, 40, 24}, "15"},
        {"queryButton", {384, 416, 72, 32}, "查询"},
        {"exportButton", {488, 416, 72, 32}, "导出"},
        {"cookieLabel", {8, 464, 48, 32}, "cookie"},
        {"cookieEdit", {56, 469, 400, 24}, ""},
        {"testButton", {498, 463, 56, 32}, "测试"},
        {"contactLabel", {8, 496, 208, 16}, {}},
        {"noticeLabel", {448, 498, 128, 16}, {}},
    };
    for (const Expected& c : controls) {
        QWidget* widget = control<QWidget>(c.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->geometry(), c.geometry) << c.name;
        QString text = widget->property("text").toString();
        if (!c.text.isNull()) {
            EXPECT_EQ(text, c.text) << c.name;
        } else {
            EXPECT_FALSE(text.isEmpty()) << c.name;
            EXPECT_LE(widget->fontMetrics().horizontalAdvance(text), c.geometry.width()) << c.name;
        }
    }
    EXPECT_EQ(control<QLabel>("bannerLabel")->font().weight(), QFont::Bold);
    EXPECT_EQ(control<QLabel>("bannerLabel")->font().pixelSize(), 16);
    EXPECT_EQ(control<QLabel>("periodLabel")->font().pixelSize(), 14);
    EXPECT_EQ(control<QLabel>("noticeLabel")->palette().color(QPalette::WindowText), Qt::blue);

    auto* combo = control<QComboBox>("periodCombo");
    EXPECT_EQ(combo->geometry(), QRect(177, 424, 64, 20));
    EXPECT_FALSE(combo->isEditable());
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->itemText(0), "7天");
    EXPECT_EQ(combo->itemText(1), "30天");
    EXPECT_EQ(combo->itemText(2), "一年");
    EXPECT_EQ(combo->currentIndex(), 0);

    auto* list = control<QTableView>("keywordList");
    EXPECT_EQ(list->geometry(), QRect(0, 40, 576, 368));
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_FALSE(list->isSortingEnabled());
    EXPECT_FALSE(list->horizontalHeader()->sectionsClickable());
    EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    const QStringList titles = {"序号", "关键词", "PC指数", "移动指数", "总指数"};
    const int widths[] = {50, 150, 120, 120, 120};
    ASSERT_EQ(list->model()->columnCount(), 5);
    for (int column = 0; column < 5; ++column) {
        EXPECT_EQ(list->model()->headerData(column, Qt::Horizontal).toString(), titles[column]);
        EXPECT_EQ(list->columnWidth(column), widths[column]);
    }
    EXPECT_EQ(list->model()->rowCount(), 0);
}

TEST_F(MainWindowTest, ImportListsEveryLineAndTwoImportsBothAppend) {
    importFile(file("a.txt", "a\r\n\r\nb"), 3);
    EXPECT_EQ(cell(0, 0), "1");
    EXPECT_EQ(cell(0, 1), "a");
    EXPECT_EQ(cell(1, 1), "");
    EXPECT_EQ(cell(2, 0), "3");

    // Two imports at once: both files' rows are listed, each numbered from 1.
    std::string big;
    for (int i = 0; i < 20000; ++i)
        big += "k" + std::to_string(i) + "\n";
    setNextFileDialogAnswer(file("big.txt", big));
    click("importButton");
    setNextFileDialogAnswer(file("gbk.txt", "\xD6\xD0\xB9\xFA\r\n"));
    click("importButton");
    ASSERT_TRUE(waitUntil([&] { return window->model().rowCount() == 3 + 20000 + 1; }));
    bool sawGbk = false;
    for (int row = 3; row < window->model().rowCount(); ++row)
        sawGbk = sawGbk || cell(row, 1) == "中国";
    EXPECT_TRUE(sawGbk);

    // A cancelled dialog changes nothing; a file that cannot be read says why.
    setNextFileDialogAnswer(QString());
    click("importButton");
    setNextFileDialogAnswer(QString::fromStdString((folder / "gone.txt").string()));
    click("importButton");
    EXPECT_TRUE(nextMessage().contains("gone.txt"));
    EXPECT_EQ(window->model().rowCount(), 20004);
}

// Every kind of keyword file the users have lists the same keywords.
TEST_F(MainWindowTest, KeywordFilesOfEveryEncodingAndLineEndAreListed) {
    using namespace std::string_literals;
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"crlf.txt", "中国\r\nab c\r\n"},
        {"lf.txt", "中国\nab c\n"},
        {"cr.txt", "中国\rab c"},
        {"utf8-bom.txt", "\xEF\xBB\xBF中国\r\nab c"},
        {"utf16le.txt", "\xFF\xFE\x2D\x4E\xFD\x56\r\0\n\0a\0b\0 \0c\0"s},
        {"gb18030.txt", "\xD6\xD0\xB9\xFA\r\nab c\r\n"},
    };
    int rows = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        rows += 2;
        importFile(file(c.name, c.bytes), rows);
        EXPECT_EQ(cell(rows - 2, 1), "中国");
        EXPECT_EQ(cell(rows - 1, 1), "ab c");
        EXPECT_EQ(cell(rows - 1, 0), "2");
    }
    // An empty file lists nothing and says nothing.
    setNextFileDialogAnswer(file("empty.txt", ""));
    click("importButton");
    QTest::qWait(200);
    window->refresh();
    EXPECT_EQ(window->model().rowCount(), rows);
    EXPECT_TRUE(openMessageBoxes().isEmpty());
}

TEST_F(MainWindowTest, QtsOwnFileDialogTakesATypedPathAndEnter) {
    const QString path = file("typed.txt", "x\r\ny\r\n");
    QTimer::singleShot(200, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setFocus();
        QTest::keyClicks(name, path);
        QTest::keyClick(name, Qt::Key_Return);
    });
    click("importButton");
    ASSERT_TRUE(waitUntil([&] { return window->model().rowCount() == 2; }));
    EXPECT_EQ(window->fileDialog().fileName, path);
}

TEST_F(MainWindowTest, QueryFillsEveryRowForTheChosenPeriod) {
    importFile(file("k.txt", "alpha\r\n\xE4\xB8\xAD\xE5\x9B\xBD\r\nb c\r\n"), 3);
    type("cookieEdit", "BDUSS=corvanta-demo");
    auto* combo = control<QComboBox>("periodCombo");
    const int days[] = {7, 30, 365};
    for (int period = 0; period < 3; ++period) {
        combo->setCurrentIndex(period);
        query();
        for (int row = 0; row < 3; ++row) {
            const auto expected =
                FakeIndexService::expectedAverages(cell(row, 1).toStdString(), days[period]);
            EXPECT_EQ(cell(row, 2).toStdString(), std::to_string(expected.pc));
            EXPECT_EQ(cell(row, 3).toStdString(), std::to_string(expected.wise));
            EXPECT_EQ(cell(row, 4).toStdString(), std::to_string(expected.all));
        }
        EXPECT_EQ(window->windowTitle(), "Corvanta - 查询完成：成功 3，失败 0");
    }
    EXPECT_TRUE(control<QPushButton>("queryButton")->isEnabled());
}

TEST_F(MainWindowTest, TheTypedWorkerCountBoundsTheRequestsAtOnce) {
    std::string keywords;
    for (int i = 0; i < 30; ++i)
        keywords += "w" + std::to_string(i) + "\r\n";
    importFile(file("k.txt", keywords), 30);
    type("cookieEdit", "BDUSS=corvanta-demo");
    type("threadCountEdit", "\xEF\xBC\x94"); // a full-width 4
    service.setLatencyMs(150);
    click("queryButton");
    // While the run goes the caption shows how far it is.
    EXPECT_TRUE(waitUntil([&] {
        window->refresh();
        return window->windowTitle().startsWith("Corvanta - 查询中");
    }));
    ASSERT_TRUE(waitUntil([&] { return window->engine().progress().finished(); }));
    EXPECT_LE(service.mostConcurrentAnswers(), 4);
    EXPECT_GE(service.mostConcurrentAnswers(), 2);
}

TEST_F(MainWindowTest, FailuresShowTheirMarkWithTheReasonAsTooltip) {
    importFile(file("k.txt", "a\r\n"), 1);
    struct Case {
        fake::Fault fault;
        QString cookie;
        QString mark;
        QString reasonPart;
    };
    for (const Case& c :
         {Case{fake::Fault::None, "BDUSS=wrong", "cookie无效", "not login"},
          Case{fake::Fault::RateLimited, "BDUSS=corvanta-demo", "请求受限", "10001"},
          Case{fake::Fault::ServerError, "BDUSS=corvanta-demo", "失败", "500"},
          Case{fake::Fault::MalformedJson, "BDUSS=corvanta-demo", "失败", "JSON"}}) {
        service.setFault(c.fault);
        type("cookieEdit", c.cookie);
        query();
        for (int column = 2; column <= 4; ++column)
            EXPECT_EQ(cell(0, column), c.mark);
        const QString tip =
            window->model().data(window->model().index(0, 2), Qt::ToolTipRole).toString();
        EXPECT_TRUE(tip.contains(c.reasonPart)) << tip.toStdString();
        EXPECT_EQ(window->windowTitle(), "Corvanta - 查询完成：成功 0，失败 1（" + c.mark + " 1）");
    }
    service.setFault(fake::Fault::None);
    type("cookieEdit", "BDUSS=corvanta-demo");
    query();
    EXPECT_TRUE(
        window->model().data(window->model().index(0, 2), Qt::ToolTipRole).toString().isEmpty());
}

TEST_F(MainWindowTest, TheListsContextMenuAsksAgainOnlyForFailedRows) {
    std::string keywords;
    for (int i = 0; i < 30; ++i)
        keywords += "r" + std::to_string(i) + "\r\n";
    importFile(file("k.txt", keywords), 30);
    type("cookieEdit", "BDUSS=corvanta-demo");
    fake::AccountRules rules;
    rules.transientShare = 0.3;
    service.setAccountRules(rules);
    query();
    std::set<QString> failed;
    for (int row = 0; row < 30; ++row)
        if (cell(row, 2) == "失败")
            failed.insert(cell(row, 1));
    ASSERT_FALSE(failed.empty());

    auto* list = control<QTableView>("keywordList");
    EXPECT_EQ(list->contextMenuPolicy(), Qt::ActionsContextMenu);
    ASSERT_EQ(list->actions().size(), 1);
    QAction* requery = list->actions().front();
    EXPECT_EQ(requery->text(), "重新查询失败的行");
    service.clearRequests();
    requery->trigger();
    ASSERT_TRUE(waitUntil([&] { return window->engine().progress().finished(); }));
    window->refresh();
    // Only the failed rows were asked again (each keyword fails only its first request).
    std::set<QString> asked;
    for (const auto& request : service.requests()) {
        const auto start = request.requestLine.find("word=") + 5;
        const auto end = request.requestLine.find('&', start);
        asked.insert(QUrl::fromPercentEncoding(
            QByteArray::fromStdString(request.requestLine.substr(start, end - start))));
    }
    EXPECT_EQ(asked, failed);
    for (int row = 0; row < 30; ++row)
        EXPECT_NE(cell(row, 2), "失败") << row;
}

TEST_F(MainWindowTest, ACookieChangedDuringARunGoesWithTheLaterTasks) {
    std::string keywords;
    for (int i = 0; i < 10; ++i)
        keywords += "c" + std::to_string(i) + "\r\n";
    importFile(file("k.txt", keywords), 10);
    type("threadCountEdit", "1");
    type("cookieEdit", "BDUSS=corvanta-demo");
    service.setLatencyMs(100);
    click("queryButton");
    ASSERT_TRUE(waitUntil([&] { return service.requests().size() >= 2; }));
    type("cookieEdit", "BDUSS=expired");
    ASSERT_TRUE(waitUntil([&] { return window->engine().progress().finished(); }));
    window->refresh();
    EXPECT_NE(cell(0, 2), "cookie无效");
    EXPECT_EQ(cell(9, 2), "cookie无效");
}

TEST_F(MainWindowTest, CookieTestHasThreeOutcomes) {
    type("cookieEdit", "BDUSS=corvanta-demo");
    click("testButton");
    EXPECT_EQ(nextMessage(), "验证成功，可以使用该cookie进行查询");

    type("cookieEdit", "BDUSS=wrong");
    click("testButton");
    EXPECT_EQ(nextMessage(), "当前cookie无效，请更换！");

    // Both markers: the refusal first, the acceptance once it is closed.
    const std::string body = "{\"status\":10000}{\"status\":0}";
    service.queueRawAnswer("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                           "\r\n\r\n" + body);
    click("testButton");
    EXPECT_EQ(nextMessage(), "当前cookie无效，请更换！");
    EXPECT_EQ(nextMessage(), "验证成功，可以使用该cookie进行查询");

    service.setFault(fake::Fault::ServerError);
    click("testButton");
    const QString failed = nextMessage();
    EXPECT_TRUE(failed.startsWith("无法验证cookie：")) << failed.toStdString();
    EXPECT_TRUE(failed.contains("500")) << failed.toStdString();
}

TEST_F(MainWindowTest, AMessageBoxLeavesTheWindowUsable) {
    service.setFault(fake::Fault::ServerError);
    click("testButton");
    ASSERT_TRUE(waitUntil([] { return !openMessageBoxes().isEmpty(); }));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    importFile(file("k.txt", "a\r\n"), 1);
}

TEST_F(MainWindowTest, ExportWritesTheChosenFileAndSaysWhyItCouldNot) {
    importFile(file("k.txt", "a\r\nb\r\n"), 2);
    type("cookieEdit", "BDUSS=corvanta-demo");
    query();

    const QString path = QString::fromStdString((folder / "out").string());
    setNextFileDialogAnswer(path); // no extension: the selected type's (.txt) is added
    click("exportButton");
    const auto a = FakeIndexService::expectedAverages("a", 7);
    const auto b = FakeIndexService::expectedAverages("b", 7);
    EXPECT_EQ(read(path + ".txt"), "a|" + std::to_string(a.pc) + "|" + std::to_string(a.wise) +
                                       "|" + std::to_string(a.all) + "|\r\nb|" +
                                       std::to_string(b.pc) + "|" + std::to_string(b.wise) + "|" +
                                       std::to_string(b.all) + "|\r\n");
    const FileDialogSettings& settings = window->fileDialog();
    EXPECT_EQ(settings.kind, FileDialogKind::Save);
    EXPECT_TRUE(settings.filter.startsWith("文本文档(*.txt)|*.txt|"));
    EXPECT_TRUE(control<QPushButton>("exportButton")->isEnabled());

    setNextFileDialogAnswer(QString::fromStdString((folder / "missing" / "out.xlsx").string()));
    click("exportButton");
    EXPECT_TRUE(nextMessage().startsWith("导出失败："));
    EXPECT_FALSE(fs::exists(folder / "missing"));
}

TEST_F(MainWindowTest, TheExportDialogOffersTheDateAndOurFileTypes) {
    QTimer::singleShot(200, [] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(dialog->nameFilters(), QStringList({"文本文档 (*.txt)", "逗号分隔符 (*.csv)",
                                                      "Excel 97-2003 工作簿 (*.xls)",
                                                      "Excel 工作簿 (*.xlsx)", "所有文件 (*.*)"}));
        EXPECT_EQ(dialog->selectedNameFilter(), "文本文档 (*.txt)");
        const QString offered = dialog->findChild<QLineEdit*>("fileNameEdit")->text();
        EXPECT_TRUE(QRegularExpression("^[0-9]{14}Bramble指数查询").match(offered).hasMatch())
            << offered.toStdString();
        dialog->reject();
    });
    click("exportButton");
    EXPECT_TRUE(openMessageBoxes().isEmpty());
}

TEST_F(MainWindowTest, TheBannerOpensTheHomePageWhenTheButtonGoesDown) {
    QString opened;
    MainWindow::setBrowserOpener([&](const QString& address) { opened = address; });
    QTest::mousePress(control<QLabel>("bannerLabel"), Qt::LeftButton);
    EXPECT_EQ(opened, MainWindow::kHomePage);
    MainWindow::setBrowserOpener([](const QString&) {});
}

TEST_F(MainWindowTest, ClosingDuringALongRunEndsAtOnce) {
    std::string keywords;
    for (int i = 0; i < 500; ++i)
        keywords += "s" + std::to_string(i) + "\r\n";
    importFile(file("k.txt", keywords), 500);
    fake::FaultConfig stall;
    stall.fault = fake::Fault::StallBeforeHeaders;
    service.setFault(stall);
    click("queryButton");
    ASSERT_TRUE(waitUntil([&] { return service.requests().size() >= 15; }));
    bool closed = false;
    QObject::connect(window.get(), &MainWindow::closed, [&] { closed = true; });
    QElapsedTimer timer;
    timer.start();
    window->close();
    EXPECT_TRUE(closed);
    // A hang guard, not a timing: stalled requests would otherwise wait 30 s each.
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(window->engine().progress().posted, 500);
}

} // namespace
} // namespace corvanta

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QFont font = QApplication::font();
    font.setPixelSize(12);
    QApplication::setFont(font);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
