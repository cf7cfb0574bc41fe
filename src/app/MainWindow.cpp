#include "app/MainWindow.h"

#include "app/ResultsModel.h"
#include "app/WindowInputs.h"
#include "core/CookieTest.h"
#include "core/ExportCommand.h"
#include "core/KeywordImport.h"
#include "core/ResultsTable.h"
#include "util/Platform.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QUrl>
#include <thread>

namespace corvanta {

namespace {

std::function<void(const QString&)>& browserOpener() {
    static std::function<void(const QString&)> opener = [](const QString& address) {
        QDesktopServices::openUrl(QUrl(address));
    };
    return opener;
}

QLabel* label(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setGeometry(geometry);
    l->setAutoFillBackground(false);
    return l;
}

QPushButton* button(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setGeometry(geometry);
    return b;
}

QFont pixelFont(const QFont& base, int pixels, int weight) {
    QFont font = base;
    font.setPixelSize(pixels);
    font.setWeight(static_cast<QFont::Weight>(weight));
    return font;
}

} // namespace

void MainWindow::setBrowserOpener(std::function<void(const QString&)> opener) {
    browserOpener() = std::move(opener);
}

MainWindow::MainWindow(QString serviceBase, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      serviceBase_(std::move(serviceBase)), table_(std::make_shared<ResultsTable>()),
      inputs_(std::make_shared<WindowInputs>()), mailbox_(std::make_shared<Mailbox>()) {
    setObjectName("MainWindow");
    setWindowTitle("Corvanta");
    setFixedSize(kClientWidth, kClientHeight);

    QueryEngineOptions options;
    options.base = serviceBase_.toStdString();
    engine_ = std::make_unique<QueryEngine>(table_, inputs_, options);
    model_ = new ResultsModel(table_, this);
    buildControls();

    connect(&tick_, &QTimer::timeout, this, &MainWindow::refresh);
    tick_.start(ResultsModel::kTickMs);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
}

MainWindow::~MainWindow() {
    engine_->shutdown();
}

void MainWindow::buildControls() {
    bannerLabel_ = label(this, "bannerLabel",
                         "本软件更新时间2019年12月09日       若版本失效请点击此处获取新版本",
                         {4, -5, 564, 40});
    bannerLabel_->setFont(pixelFont(font(), 16, 700));
    bannerLabel_->setCursor(Qt::PointingHandCursor);
    bannerLabel_->installEventFilter(this);

    keywordList_ = new QTableView(this);
    keywordList_->setObjectName("keywordList");
    keywordList_->setGeometry(0, 40, 576, 368);
    keywordList_->setModel(model_);
    keywordList_->setSelectionMode(QAbstractItemView::SingleSelection);
    keywordList_->setSelectionBehavior(QAbstractItemView::SelectItems);
    keywordList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    keywordList_->setSortingEnabled(false);
    keywordList_->setShowGrid(false);
    keywordList_->setWordWrap(false);
    keywordList_->setCornerButtonEnabled(false);
    keywordList_->verticalHeader()->hide();
    keywordList_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    keywordList_->verticalHeader()->setDefaultSectionSize(18);
    QHeaderView* header = keywordList_->horizontalHeader();
    header->setSectionsClickable(false); // a click on a title does nothing
    header->setSectionsMovable(false);
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setStretchLastSection(false);
    const int widths[] = {50, 150, 120, 120, 120};
    for (int column = 0; column < 5; ++column)
        keywordList_->setColumnWidth(column, widths[column]);

    // The list's context menu asks again for the rows that failed or were never queried.
    requeryAction_ = new QAction("重新查询失败的行", keywordList_);
    requeryAction_->setObjectName("requeryAction");
    keywordList_->addAction(requeryAction_);
    keywordList_->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(requeryAction_, &QAction::triggered, this, &MainWindow::requeryFailedRows);

    importButton_ = button(this, "importButton", "导入关键词", {13, 416, 72, 32});
    QLabel* periodLabel = label(this, "periodLabel", "周期", {136, 417, 40, 32});
    periodLabel->setFont(pixelFont(font(), 14, 400));
    periodCombo_ = new QComboBox(this);
    periodCombo_->setObjectName("periodCombo");
    periodCombo_->setGeometry(177, 424, 64, 20);
    periodCombo_->addItems({"7天", "30天", "一年"});
    periodCombo_->setCurrentIndex(0);
    label(this, "threadCountLabel", "线程数", {279, 424, 40, 24});
    threadCountEdit_ = new QLineEdit("15", this);
    threadCountEdit_->setObjectName("threadCountEdit");
    threadCountEdit_->setGeometry(327, 424, 40, 24);
    queryButton_ = button(this, "queryButton", "查询", {384, 416, 72, 32});
    exportButton_ = button(this, "exportButton", "导出", {488, 416, 72, 32});
    label(this, "cookieLabel", "cookie", {8, 464, 48, 32});
    cookieEdit_ = new QLineEdit(this);
    cookieEdit_->setObjectName("cookieEdit");
    cookieEdit_->setGeometry(56, 469, 400, 24);
    testButton_ = button(this, "testButton", "测试", {498, 463, 56, 32});
    label(this, "contactLabel", "问题与建议：请到项目主页留言", {8, 496, 208, 16});
    QLabel* notice = label(this, "noticeLabel", "本软件免费开源", {448, 498, 128, 16});
    notice->setStyleSheet("color: blue;");

    // The engine reads a copy of the inputs that follows every edit.
    inputs_->setWorkerCountText(threadCountEdit_->text().toStdString());
    inputs_->setPeriodIndex(periodCombo_->currentIndex());
    connect(threadCountEdit_, &QLineEdit::textChanged, this,
            [this](const QString& text) { inputs_->setWorkerCountText(text.toStdString()); });
    connect(cookieEdit_, &QLineEdit::textChanged, this,
            [this](const QString& text) { inputs_->setCookieText(text.toStdString()); });
    connect(periodCombo_, &QComboBox::currentIndexChanged, this,
            [this](int index) { inputs_->setPeriodIndex(index); });

    connect(importButton_, &QPushButton::clicked, this, &MainWindow::importKeywordFile);
    connect(queryButton_, &QPushButton::clicked, this, &MainWindow::runQuery);
    connect(exportButton_, &QPushButton::clicked, this, &MainWindow::exportList);
    connect(testButton_, &QPushButton::clicked, this, &MainWindow::testCookie);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // The banner reacts when the left button goes down, not when it comes up.
    if (watched == bannerLabel_ && event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        browserOpener()(kHomePage);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::importKeywordFile() {
    fileDialog_.kind = FileDialogKind::Open;
    if (!showFileDialog(this, fileDialog_))
        return;
    // The file is read on a thread of its own, so a long list never holds up the window.
    std::thread([table = table_, mailbox = mailbox_, path = fileDialog_.fileName.toStdString()] {
        const ImportResult result = importKeywords(path, *table);
        if (!result.ok)
            mailbox->post({result.error});
    }).detach();
}

void MainWindow::runQuery() {
    queryButton_->setEnabled(false);
    ranOnce_ = true;
    engine_->runQuery([] { QCoreApplication::processEvents(); });
    queryButton_->setEnabled(true);
    updateCaption();
}

void MainWindow::requeryFailedRows() {
    std::vector<int> rows;
    for (int row = 0; row < table_->rowCount(); ++row) {
        const RowState state = table_->rowState(row);
        // A keyword the service does not index stays so; asking again changes nothing.
        if (!state.queried ||
            (state.status != QueryStatus::Ok && state.status != QueryStatus::NotIndexed))
            rows.push_back(row);
    }
    queryButton_->setEnabled(false);
    ranOnce_ = true;
    engine_->runRows(rows, [] { QCoreApplication::processEvents(); });
    queryButton_->setEnabled(true);
    updateCaption();
}

void MainWindow::exportList() {
    fileDialog_.kind = FileDialogKind::Save;
    fileDialog_.initialFolder = QString::fromStdString(platform::desktopFolder());
    fileDialog_.fileName = QString::fromStdString(defaultExportFileName());
    fileDialog_.filter = kExportFilter;
    if (!showFileDialog(this, fileDialog_))
        return;
    exportButton_->setEnabled(false);
    const ExportResult result = exportResults(*table_, fileDialog_.fileName.toStdString());
    exportButton_->setEnabled(true);
    if (!result.ok)
        showMessages({"导出失败：" + QString::fromStdString(result.error)});
}

void MainWindow::testCookie() {
    std::thread([mailbox = mailbox_, base = serviceBase_.toStdString(),
                 cookie = cookieEdit_->text().toStdString()] {
        mailbox->post(cookieTestMessages(corvanta::testCookie(base, cookie)));
    }).detach();
}

void MainWindow::refresh() {
    model_->sync();
    for (const std::vector<std::string>& messages : mailbox_->take()) {
        QStringList texts;
        for (const std::string& text : messages)
            texts << QString::fromStdString(text);
        showMessages(texts);
    }
    updateCaption();
}

QString MainWindow::captionText() const {
    const RunProgress progress = engine_->progress();
    if (!ranOnce_)
        return "Corvanta";
    if (!progress.finished()) {
        return QString("Corvanta - 查询中 %1/%2，失败 %3")
            .arg(progress.done)
            .arg(progress.posted)
            .arg(progress.failed());
    }
    QString caption = QString("Corvanta - 查询完成：成功 %1，失败 %2")
                          .arg(progress.succeeded())
                          .arg(progress.failed());
    QStringList marks;
    for (QueryStatus status :
         {QueryStatus::CookieRefused, QueryStatus::RequestBlocked, QueryStatus::Failed,
          QueryStatus::NotQueried, QueryStatus::NotIndexed}) {
        if (const int count = progress.count(status))
            marks << QString("%1 %2").arg(statusMark(status)).arg(count);
    }
    if (!marks.isEmpty())
        caption += "（" + marks.join("，") + "）";
    return caption;
}

void MainWindow::updateCaption() {
    const QString caption = captionText();
    if (caption != windowTitle())
        setWindowTitle(caption);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Requests in flight are cancelled rather than waited for.
    tick_.stop();
    engine_->shutdown();
    event->accept();
    emit closed();
}

} // namespace corvanta
