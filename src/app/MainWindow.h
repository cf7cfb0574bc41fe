#pragma once

#include "app/FileDialog.h"
#include "app/MessageBoxes.h"
#include "core/QueryEngine.h"

#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace corvanta {

class ResultsModel;
class ResultsTable;
class WindowInputs;

// The program's one window: the results list, the period, worker count and cookie inputs,
// the import, query, export and test buttons, and the banner. It is a front end over the
// core: it hands the engine plain values and shows what the core reports.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    // The client area of a 583 x 547 window with a single border and a caption.
    static constexpr int kClientWidth = 577;
    static constexpr int kClientHeight = 518;

    // `serviceBase`: the index service's base address (http or https, no trailing "/").
    explicit MainWindow(QString serviceBase, QWidget* parent = nullptr);
    ~MainWindow() override;

    std::shared_ptr<ResultsTable> table() const { return table_; }
    QueryEngine& engine() { return *engine_; }
    ResultsModel& model() { return *model_; }
    FileDialogSettings& fileDialog() { return fileDialog_; }
    // The window's caption: "Corvanta", with the run's progress or its outcome.
    QString captionText() const;
    // Brings the list, the caption and the pending messages up to date now (the window's
    // tick does it every 50 ms).
    void refresh();

    // Where the banner sends the browser; tests replace the opener.
    static constexpr const char* kHomePage = "https://github.com/corvanta/corvanta/releases";
    static void setBrowserOpener(std::function<void(const QString&)> opener);

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void importKeywordFile();
    void runQuery();
    void exportList();
    void testCookie();
    void requeryFailedRows();
    void updateCaption();

    QString serviceBase_;
    std::shared_ptr<ResultsTable> table_;
    std::shared_ptr<WindowInputs> inputs_;
    std::unique_ptr<QueryEngine> engine_;
    std::shared_ptr<Mailbox> mailbox_;
    FileDialogSettings fileDialog_;
    ResultsModel* model_ = nullptr;
    QTimer tick_;
    bool ranOnce_ = false;

    QLabel* bannerLabel_ = nullptr;
    QTableView* keywordList_ = nullptr;
    QPushButton* importButton_ = nullptr;
    QComboBox* periodCombo_ = nullptr;
    QLineEdit* threadCountEdit_ = nullptr;
    QPushButton* queryButton_ = nullptr;
    QPushButton* exportButton_ = nullptr;
    QLineEdit* cookieEdit_ = nullptr;
    QPushButton* testButton_ = nullptr;
    QAction* requeryAction_ = nullptr; // the list's context menu: "重新查询失败的行"
};

} // namespace corvanta
